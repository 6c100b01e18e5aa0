#include "ui/HostBar.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

#include "host/HostSession.h"
#include "ui/Widgets.h"

namespace plimo {

HostBar::HostBar(HostSession& session, std::function<void()> openChat, std::function<void()> stop)
    : session_(session) {
  setObjectName("hostBar");
  setWindowTitle("Plimo");
  // A bar, not a window to switch to: no frame, no focus, above the rest.
  setWindowFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus);
  setAttribute(Qt::WA_ShowWithoutActivating);
  setFixedSize(520, 56);
  setStyleSheet("HostBar { background: #202226; } QLabel { color: white; }");
  setAutoFillBackground(true);
  QPalette palette;
  palette.setColor(QPalette::Window, QColor("#202226"));
  setPalette(palette);

  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(14, 6, 10, 6);
  auto* texts = new QVBoxLayout;
  title_ = ui::plainLabel();
  QFont bold = title_->font();
  bold.setBold(true);
  title_->setFont(bold);
  status_ = ui::plainLabel();
  texts->addWidget(title_);
  texts->addWidget(status_);
  row->addLayout(texts, 1);
  chat_ = new QPushButton;
  pause_ = new QPushButton;
  auto* stopButton = new QPushButton("Stop");
  stopButton->setStyleSheet("background: #d93025; color: white; padding: 4px 12px;");
  for (auto* b : {chat_, pause_, stopButton}) {
    b->setFocusPolicy(Qt::NoFocus);
    row->addWidget(b);
  }
  QObject::connect(chat_, &QPushButton::clicked, std::move(openChat));
  QObject::connect(pause_, &QPushButton::clicked, [this] {
    session_.setPaused(!session_.paused());
    refresh();
  });
  QObject::connect(stopButton, &QPushButton::clicked, std::move(stop));

  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    QRect area = screen->availableGeometry();
    move(area.center().x() - width() / 2, area.top() + 8);
  }
  refresh();
}

QString HostBar::status() const {
  if (session_.paused()) return "Paused: your helper sees nothing";
  return session_.mode() == SessionMode::control ? "Is helping you and may use this PC" : "Can see your screen";
}

void HostBar::refresh() {
  title_->setText(ui::text(session_.helperTitle()));
  status_->setText(status());
  int unread = session_.unreadChat();
  chat_->setText(unread > 0 ? QString("Chat (%1)").arg(unread) : QString("Chat"));
  pause_->setText(session_.paused() ? "Continue" : "Pause");
}

}  // namespace plimo
