#include "ui/HostChat.h"

#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "host/HostSession.h"
#include "ui/ChatView.h"

namespace plimo {

HostChat::HostChat(HostSession& session) : session_(session) {
  setObjectName("hostChat");
  setWindowTitle("Chat with your helper");
  setWindowFlags(Qt::Window | Qt::WindowStaysOnTopHint);
  resize(352, 476);
  auto* layout = new QVBoxLayout(this);
  // The session's own notices come among the lines, marked as its notes are.
  lines_ = new ui::ChatView("Helper:");
  lines_->setObjectName("chatLines");
  layout->addWidget(lines_, 1);
  auto* row = new QHBoxLayout;
  field_ = new QLineEdit;
  field_->setPlaceholderText("Write to your helper");
  auto* sendButton = new QPushButton("Send");
  row->addWidget(field_, 1);
  row->addWidget(sendButton);
  layout->addLayout(row);
  QObject::connect(field_, &QLineEdit::returnPressed, [this] { send(); });
  QObject::connect(sendButton, &QPushButton::clicked, [this] { send(); });
  refresh();
}

void HostChat::send() {
  session_.sendChat(field_->text().toStdString());
  field_->clear();
  refresh();
}

void HostChat::refresh() { lines_->showChat(session_.chat()); }

void HostChat::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  session_.setChatOpen(true);
}

void HostChat::hideEvent(QHideEvent* event) {
  QWidget::hideEvent(event);
  session_.setChatOpen(false);
}

}  // namespace plimo
