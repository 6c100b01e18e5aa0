#include "ui/HostWindows.h"

#include <QApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include "ui/ConsentPanel.h"
#include "ui/FileWindow.h"
#include "ui/GlowFrame.h"
#include "ui/HostBar.h"
#include "ui/HostChat.h"

namespace plimo {

HostWindows::HostWindows(EventLoop& loop, QWidget* mainWindow) : loop_(loop), main_(mainWindow) {}

HostWindows::~HostWindows() = default;

PartnerSessions::ConsentAsk HostWindows::asker() {
  return [this](HostSession& session, HostSession::AnswerFn answer) { ask(session, std::move(answer)); };
}

void HostWindows::ask(HostSession& session, HostSession::AnswerFn answer) {
  if (consent_) consent_->answer(HostSession::Answer::deny);
  consent_ = std::make_unique<ConsentPanel>(loop_, session, std::move(answer), desktopAsks_);
  if (QScreen* screen = QGuiApplication::primaryScreen())
    consent_->move(screen->availableGeometry().center() - consent_->rect().center());
  consent_->show();
  consent_->raise();
  consent_->activateWindow();
  // The sound cue: the person may be looking elsewhere.
  QApplication::beep();
}

void HostWindows::showRunning(HostSession& session, std::function<void()> stop) {
  session_ = &session;
  bar_ = std::make_unique<HostBar>(session, [this] { showChat(); }, std::move(stop));
  bar_->show();
  files_ = std::make_unique<FileWindow>(session.files(), FileWindow::Side::helped);
  glows_.clear();
  for (QScreen* screen : QGuiApplication::screens()) {
    glows_.push_back(std::make_unique<GlowFrame>(*screen));
    glows_.back()->show();
  }
  refresh_ = loop_.every(kRefresh, [this] {
    if (bar_) bar_->refresh();
    if (chat_) chat_->refresh();
  });
}

void HostWindows::showChat() {
  if (!session_) return;
  if (!chat_) chat_ = std::make_unique<HostChat>(*session_);
  chat_->show();
  chat_->raise();
  chat_->activateWindow();
}

std::vector<uint32_t> HostWindows::excludedWindowIDs() const {
  std::vector<uint32_t> ids;
  auto add = [&ids](const QWidget* w) {
    if (w && w->isVisible()) ids.push_back(uint32_t(w->winId()));
  };
  add(consent_.get());
  add(bar_.get());
  add(chat_.get());
  add(files_.get());
  for (const auto& glow : glows_) add(glow.get());
  return ids;
}

void HostWindows::closeAll() {
  refresh_.reset();
  consent_.reset();
  bar_.reset();
  chat_.reset();
  files_.reset();
  glows_.clear();
  session_ = nullptr;
}

void HostWindows::setMainMinimised(bool minimised) {
  if (!main_) return;
  if (minimised) return main_->showMinimized();
  main_->showNormal();
  main_->raise();
  main_->activateWindow();
}

}  // namespace plimo
