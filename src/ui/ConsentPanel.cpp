#include "ui/ConsentPanel.h"

#include <QApplication>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/Widgets.h"

namespace plimo {

namespace {

QString countdownText(int left) { return QString("No answer in %1 s means Deny.").arg(left); }

// The helper's picture, or a person symbol without one.
QPixmap helperPicture(const HostSession& session, int side) {
  if (session.helperPicture()) {
    QImage picture = ui::image(*session.helperPicture());
    if (!picture.isNull())
      return QPixmap::fromImage(picture.scaled(side, side, Qt::KeepAspectRatio, Qt::SmoothTransformation));
  }
  QPixmap symbol(side, side);
  symbol.fill(Qt::transparent);
  QPainter p(&symbol);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor("#8a8f98"));
  p.drawEllipse(QRectF(side * 0.32, side * 0.1, side * 0.36, side * 0.36));
  p.drawChord(QRectF(side * 0.12, side * 0.52, side * 0.76, side * 0.8), 0, 180 * 16);
  return symbol;
}

}  // namespace

ConsentPanel::ConsentPanel(EventLoop& loop, const HostSession& session, HostSession::AnswerFn answerFn,
                           bool desktopAsks)
    : countdown_(loop) {
  setWindowTitle("Plimo");
  setObjectName("consent");
  setWindowFlags(Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
  setFixedSize(476, 436);
  setStyleSheet("ConsentPanel { background: #f6f6f8; border: 1px solid #c8c8cc; }");

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(28, 24, 28, 20);
  auto* picture = ui::plainLabel();
  picture->setPixmap(helperPicture(session, 72));
  picture->setAlignment(Qt::AlignCenter);
  layout->addWidget(picture);
  auto* title = ui::bigLabel(ui::text(session.helperTitle()), 15);
  title->setAlignment(Qt::AlignCenter);
  title->setWordWrap(true);
  layout->addWidget(title);
  auto* wants = ui::plainLabel("wants to help this PC");
  wants->setAlignment(Qt::AlignCenter);
  layout->addWidget(wants);
  layout->addSpacing(10);
  auto* checkLabel = ui::plainLabel("Check number");
  checkLabel->setAlignment(Qt::AlignCenter);
  layout->addWidget(checkLabel);
  auto* check = ui::bigLabel(ui::text(session.checkNumber()), 30);
  check->setObjectName("checkNumber");
  check->setAlignment(Qt::AlignCenter);
  layout->addWidget(check);
  auto* only = ui::plainLabel("Only continue when your helper reads out the same number.");
  only->setAlignment(Qt::AlignCenter);
  only->setWordWrap(true);
  layout->addWidget(only);
  if (desktopAsks) {
    auto* again = ui::plainLabel(ConsentQuestion::kDesktopAsks);
    again->setObjectName("desktopAsks");
    again->setAlignment(Qt::AlignCenter);
    again->setWordWrap(true);
    layout->addWidget(again);
  }
  layout->addStretch();

  auto* buttons = new QHBoxLayout;
  deny_ = new QPushButton("Deny");
  viewOnly_ = new QPushButton("View only");
  control_ = new QPushButton("Allow control");
  control_->setDefault(true);
  for (auto* b : {deny_, viewOnly_, control_}) buttons->addWidget(b);
  layout->addLayout(buttons);
  countdownLine_ = ui::plainLabel(countdownText(ConsentCountdown::kSeconds));
  countdownLine_->setAlignment(Qt::AlignCenter);
  layout->addWidget(countdownLine_);

  QObject::connect(deny_, &QPushButton::clicked, [this] { answer(HostSession::Answer::deny); });
  QObject::connect(viewOnly_, &QPushButton::clicked, [this] { answer(HostSession::Answer::viewOnly); });
  QObject::connect(control_, &QPushButton::clicked, [this] { answer(HostSession::Answer::control); });

  countdown_.start(std::move(answerFn), [this](int left) {
    countdownLine_->setText(countdownText(left));
    if (left <= 0) hide();  // the Deny that follows closes the question
  });
}

QPushButton* ConsentPanel::button(HostSession::Answer answer) const {
  switch (answer) {
    case HostSession::Answer::deny: return deny_;
    case HostSession::Answer::viewOnly: return viewOnly_;
    case HostSession::Answer::control: return control_;
  }
  return nullptr;
}

void ConsentPanel::answer(HostSession::Answer given) {
  if (!countdown_.open()) return;
  hide();
  countdown_.answer(given);
}

// Closing the panel some other way (the window manager's close) is a Deny.
void ConsentPanel::closeEvent(QCloseEvent* event) {
  event->accept();
  answer(HostSession::Answer::deny);
}

// The panel has no title bar: it moves by its background.
void ConsentPanel::mousePressEvent(QMouseEvent* event) {
  dragFrom_ = event->globalPosition().toPoint() - frameGeometry().topLeft();
}

void ConsentPanel::mouseMoveEvent(QMouseEvent* event) {
  if (event->buttons() & Qt::LeftButton) move(event->globalPosition().toPoint() - dragFrom_);
}

}  // namespace plimo
