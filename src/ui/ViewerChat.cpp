#include "ui/ViewerChat.h"

#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTextBrowser>
#include <QVBoxLayout>

#include "ui/Widgets.h"
#include "viewer/ViewerSession.h"

namespace plimo {

ViewerChat::ViewerChat(ViewerSession& session) : session_(session) {
  setObjectName("viewerChat");
  setFixedWidth(kWidth);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(8, 8, 8, 8);
  lines_ = new QTextBrowser;
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
  watching_.push_back(session_.chat.observe([this](const auto&) { showLines(); }));
  watching_.push_back(session_.notes.observe([this](const auto&) { showLines(); }));
  showLines();
}

ViewerChat::~ViewerChat() = default;

void ViewerChat::send() {
  // The session trims the draft and sends nothing when nothing is left.
  session_.sendChat(field_->text().toStdString());
  field_->clear();
}

void ViewerChat::showLines() {
  QString html;
  for (const auto& note : session_.notes.get())
    html += QString("<p align=\"center\" style=\"color:#6b6f76;\">%1</p>").arg(ui::text(note).toHtmlEscaped());
  lines_->setHtml(html + ui::chatHtml(session_.chat.get(), "Them:"));
  lines_->verticalScrollBar()->setValue(lines_->verticalScrollBar()->maximum());
}

}  // namespace plimo
