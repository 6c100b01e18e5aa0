#include "ui/ViewerChat.h"

#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/ChatView.h"
#include "viewer/ViewerSession.h"

namespace plimo {

ViewerChat::ViewerChat(ViewerSession& session) : session_(session) {
  setObjectName("viewerChat");
  setFixedWidth(kWidth);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(8, 8, 8, 8);
  lines_ = new ui::ChatView("Them:");
  lines_->setObjectName("chatLines");
  lines_->setFocusPolicy(Qt::NoFocus);
  layout->addWidget(lines_, 1);
  auto* row = new QHBoxLayout;
  field_ = new QLineEdit;
  field_->setObjectName("chatField");
  field_->setPlaceholderText("Message");
  auto* sendButton = new QPushButton("Send");
  sendButton->setObjectName("chatSend");
  row->addWidget(field_, 1);
  row->addWidget(sendButton);
  layout->addLayout(row);
  QObject::connect(field_, &QLineEdit::returnPressed, [this] { send(); });
  QObject::connect(sendButton, &QPushButton::clicked, [this] { send(); });
  lines_->showNotes(session_.notes().get());
  lines_->showChat(session_.chat().get());
  watching_.push_back(session_.notes().observe([this](const auto& notes) { lines_->showNotes(notes); }));
  watching_.push_back(session_.chat().observe([this](const auto& lines) { lines_->showChat(lines); }));
}

ViewerChat::~ViewerChat() = default;

void ViewerChat::send() {
  // The session trims the draft and sends nothing when nothing is left.
  session_.sendChat(field_->text().toStdString());
  field_->clear();
}

}  // namespace plimo
