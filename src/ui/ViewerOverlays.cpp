#include "ui/ViewerOverlays.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>
#include <algorithm>

#include "ui/Widgets.h"
#include "viewer/ViewerSession.h"

namespace plimo {

namespace {

QLabel* badge(const char* name) {
  auto* label = ui::plainLabel();
  label->setObjectName(name);
  label->setAttribute(Qt::WA_TransparentForMouseEvents);
  return label;
}

void paint(QLabel* label, const char* background, const char* colour) {
  label->setStyleSheet(QString("background: %1; color: %2; border-radius: 6px; padding: 3px 8px;")
                           .arg(background, colour));
}

}  // namespace

ViewerOverlays::ViewerOverlays(EventLoop& loop, ViewerSession& session, QGridLayout& stage, bool viaRelay)
    : session_(session), viaRelay_(viaRelay) {
  waiting_ = new QWidget;
  waiting_->setObjectName("waiting");
  waiting_->setAttribute(Qt::WA_TransparentForMouseEvents);
  waiting_->setAttribute(Qt::WA_StyledBackground);
  waiting_->setStyleSheet("#waiting { background: rgba(32,34,38,230); border-radius: 10px; } QLabel { color: white; }");
  auto* column = new QVBoxLayout(waiting_);
  column->setContentsMargins(24, 18, 24, 18);
  waitingTitle_ = ui::plainLabel();
  waitingTitle_->setObjectName("waitingTitle");
  QFont large = waitingTitle_->font();
  large.setPointSize(large.pointSize() + 4);
  large.setBold(true);
  waitingTitle_->setFont(large);
  check_ = ui::plainLabel("Ask them to check that their screen shows check number " +
                          ui::text(session_.checkNumber()));
  check_->setObjectName("waitingCheck");
  partnerSaid_ = ui::plainLabel();
  partnerSaid_->setObjectName("waitingPartnerSaid");
  partnerSaid_->setWordWrap(true);
  partnerSaid_->setMaximumWidth(640);
  for (auto* label : {waitingTitle_, check_, partnerSaid_}) {
    label->setAlignment(Qt::AlignCenter);
    column->addWidget(label);
  }

  banner_ = badge("secureBanner");
  banner_->setText(
      "The other PC is on a Windows security screen (a sign-in or lock screen, or a UAC prompt). Its screen can't "
      "be shown until someone there signs in or answers the prompt.");
  banner_->setWordWrap(true);
  banner_->setAlignment(Qt::AlignCenter);
  banner_->setMaximumWidth(720);
  paint(banner_, "#f2c94c", "#202226");
  banner_->setStyleSheet(banner_->styleSheet() + " margin-top: 10px;");

  auto* corner = new QWidget;
  corner->setAttribute(Qt::WA_TransparentForMouseEvents);
  auto* row = new QHBoxLayout(corner);
  row->setContentsMargins(0, 0, 10, 10);
  rendering_ = badge("renderingBadge");
  live_ = badge("liveBadge");
  paint(live_, "rgba(0,0,0,160)", "white");
  row->addWidget(rendering_);
  row->addWidget(live_);

  stage.addWidget(waiting_, 0, 0, Qt::AlignCenter);
  stage.addWidget(banner_, 0, 0, Qt::AlignTop | Qt::AlignHCenter);
  stage.addWidget(corner, 0, 0, Qt::AlignBottom | Qt::AlignRight);
  for (QWidget* w : {waiting_, static_cast<QWidget*>(banner_), corner}) w->raise();

  auto waiting = [this](const auto&) { showWaiting(); };
  watching_.push_back(session_.mode().observe(waiting));
  watching_.push_back(session_.gotFirstFrame().observe(waiting));
  watching_.push_back(session_.chat().observe(waiting));
  watching_.push_back(session_.secureDesktop().observe([this](bool on) { banner_->setVisible(on); }));
  watching_.push_back(session_.rendering().observe([this](const auto&) {
    showRendering();
    showLive();
  }));
  showWaiting();
  banner_->setVisible(session_.secureDesktop().get());
  showRendering();
  lastShown_ = session_.framesShown();
  showLive();
  liveTimer_ = loop.every(kLivePeriod, [this] {
    int shown = session_.framesShown();
    perSecond_ = int((shown - lastShown_) / kLivePeriod + 0.5);
    lastShown_ = shown;
    showLive();
  });
}

ViewerOverlays::~ViewerOverlays() = default;

void ViewerOverlays::stop() {
  liveTimer_.reset();
  watching_.clear();
}

void ViewerOverlays::showWaiting() {
  const bool first = !session_.gotFirstFrame().get();
  const SessionMode mode = session_.mode().get();
  // A paused picture stands still: say why over it.
  const bool asking = mode == SessionMode::waitingForConsent;
  waitingTitle_->setText(!first   ? "Paused by the other person"
                         : asking ? "Waiting for the other person to allow the session..."
                                  : "Waiting for the first picture...");
  check_->setVisible(first);
  const auto& chat = session_.chat().get();
  const auto said = std::find_if(chat.rbegin(), chat.rend(), [](const ChatLine& line) { return !line.fromMe; });
  partnerSaid_->setVisible(first && said != chat.rend());
  if (said != chat.rend()) partnerSaid_->setText("The other PC says: " + ui::text(said->text));
  waiting_->setVisible(first || mode == SessionMode::paused);
}

void ViewerOverlays::showRendering() {
  const Rendering how = session_.rendering().get();
  rendering_->setVisible(how != Rendering::none);
  if (how == Rendering::videoHardware) {
    rendering_->setText("Enhanced mode");
    paint(rendering_, "#22a845", "white");
  } else if (how == Rendering::videoSoftware) {
    rendering_->setText("Software rendering");
    paint(rendering_, "#e67e22", "white");
  } else {
    rendering_->setText("Basic mode");
    paint(rendering_, "#f2c94c", "#202226");
  }
}

void ViewerOverlays::showLive() {
  const Rendering how = session_.rendering().get();
  QString drawn = how == Rendering::videoHardware   ? "H.264, video hardware"
                  : how == Rendering::videoSoftware ? "H.264, software"
                  : how == Rendering::none          ? "no picture yet"
                                                    : "tiles";
  const double roundTrip = session_.roundTrip().get();
  QString path = viaRelay_ ? "Through the server" : "Direct";
  if (roundTrip > 0) path += QString(" · %1 ms").arg(std::max(1, int(roundTrip * 1000 + 0.5)));
  live_->setText(QString("%1 · %2 pictures/s · %3").arg(path).arg(perSecond_).arg(drawn));
}

}  // namespace plimo
