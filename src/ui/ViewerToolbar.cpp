#include "ui/ViewerToolbar.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QToolButton>
#include <array>
#include <cmath>

#include "ui/ScreenView.h"
#include "ui/Widgets.h"
#include "viewer/ViewerSession.h"

namespace plimo {

namespace {

// Windows virtual-key codes of the combinations this desktop would keep.
struct Combo {
  const char* label;
  std::vector<int32_t> keys;
};
const std::array<Combo, 4> kCombos = {{{"Task Manager (Ctrl + Shift + Esc)", {0x11, 0x10, 0x1B}},
                                        {"Windows key", {0x5B}},
                                        {"Alt + Tab", {0x12, 0x09}},
                                        {"Show desktop (Win + D)", {0x5B, 0x44}}}};

QString monitorLabel(size_t index, const ViewerSession::Monitor& m) {
  return QString("Screen %1%2 - %3 x %4")
      .arg(index + 1)
      .arg(m.primary ? " (main)" : "")
      .arg(std::lround(m.rect.width))
      .arg(std::lround(m.rect.height));
}

}  // namespace

ViewerToolbar::ViewerToolbar(ViewerSession& session, ScreenView& view, Actions actions)
    : session_(session), view_(view), actions_(std::move(actions)) {
  setObjectName("viewerToolbar");
  setFixedHeight(kHeight);
  setAutoFillBackground(true);
  QPalette palette = this->palette();
  palette.setColor(QPalette::Window, QColor("#2b2d31"));
  palette.setColor(QPalette::WindowText, Qt::white);
  palette.setColor(QPalette::ButtonText, Qt::white);
  palette.setColor(QPalette::Disabled, QPalette::ButtonText, QColor("#7d8086"));
  setPalette(palette);
  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(10, 4, 10, 4);
  row->setSpacing(6);
  status_ = ui::plainLabel();
  status_->setObjectName("status");
  row->addWidget(status_, 1);

  screen_ = button("screenMenu", "", "Choose which screen of the other PC to show");
  screenMenu_ = new QMenu(screen_);
  screen_->setMenu(screenMenu_);
  keys_ = button("keysMenu", "Keys", "Send key combinations this PC would keep for itself");
  buildKeys();
  size_ = button("sizeMenu", "Size", "How the other screen is sized");
  sizeMenu_ = new QMenu(size_);
  size_->setMenu(sizeMenu_);
  fullScreen_ = button("fullScreen", "", "");
  sound_ = button("sound", "", "");
  chat_ = button("chat", "Chat", "Chat with the other person");
  auto* files = button("files", "Files", "Send a file to the other PC, or ask for one");
  unread_ = ui::plainLabel();
  unread_->setObjectName("chatBadge");
  unread_->setAlignment(Qt::AlignCenter);
  unread_->setStyleSheet("background: #d93025; color: white; border-radius: 8px; font-size: 10px; padding: 0 4px;");
  auto* disconnect = button("disconnect", "Disconnect", "End the session");
  disconnect->setStyleSheet("QToolButton { background: #d93025; color: white; border-radius: 4px; padding: 4px 10px; }");
  for (auto* b : {screen_, keys_, size_, fullScreen_, sound_, chat_}) row->addWidget(b);
  row->addWidget(unread_, 0, Qt::AlignVCenter);
  row->addWidget(files);
  row->addWidget(disconnect);

  QObject::connect(fullScreen_, &QToolButton::clicked, [this] { actions_.toggleFullScreen(); });
  QObject::connect(sound_, &QToolButton::clicked, [this] { session_.setMuted(!session_.muted().get()); });
  QObject::connect(chat_, &QToolButton::clicked, [this] { session_.setChatOpen(!session_.chatOpen().get()); });
  QObject::connect(disconnect, &QToolButton::clicked, [this] { actions_.disconnect(); });
  QObject::connect(files, &QToolButton::clicked, [this] {
    if (actions_.showFiles) actions_.showFiles();
  });

  auto status = [this](const auto&) { showStatus(); };
  watching_.push_back(session_.mode().observe(status));
  watching_.push_back(session_.adminAvailable().observe(status));
  auto monitors = [this](const auto&) { showMonitors(); };
  watching_.push_back(session_.monitors().observe(monitors));
  watching_.push_back(session_.currentMonitor().observe(monitors));
  auto sound = [this](bool muted) {
    sound_->setText(muted ? "Sound off" : "Sound on");
    sound_->setToolTip(muted ? "Turn the other PC's sound on" : "Mute the other PC's sound");
  };
  watching_.push_back(session_.muted().observe(sound));
  auto unread = [this](int count) {
    unread_->setText(QString::number(count));
    unread_->setMinimumWidth(16);
    unread_->setFixedHeight(16);
    unread_->setVisible(count > 0);
  };
  watching_.push_back(session_.unreadChat().observe(unread));
  chat_->setCheckable(true);
  watching_.push_back(session_.chatOpen().observe([this](bool open) { chat_->setChecked(open); }));
  showStatus();
  showMonitors();
  sound(session_.muted().get());
  unread(session_.unreadChat().get());
}

ViewerToolbar::~ViewerToolbar() = default;

QToolButton* ViewerToolbar::button(const QString& name, const QString& text, const QString& help) {
  auto* b = new QToolButton;
  b->setObjectName(name);
  b->setText(text);
  b->setToolTip(help);
  b->setAutoRaise(true);
  b->setFocusPolicy(Qt::NoFocus);  // keys stay with the picture
  b->setPopupMode(QToolButton::InstantPopup);
  b->setMinimumHeight(30);
  return b;
}

void ViewerToolbar::showStatus() {
  const SessionMode mode = session_.mode().get();
  QString text = mode == SessionMode::viewOnly  ? "View only"
                 : mode == SessionMode::control ? "You have control"
                 : mode == SessionMode::paused  ? "Paused by the other person"
                                                : "Waiting for permission";
  if (mode != SessionMode::waitingForConsent && session_.adminAvailable().get())
    text += " · admin windows available";
  else if (mode == SessionMode::control)
    text += " · admin windows not available";
  status_->setText(text);
  keys_->setEnabled(mode == SessionMode::control);
}

void ViewerToolbar::showMonitors() {
  const auto& monitors = session_.monitors().get();
  int current = session_.currentMonitor().get();
  screen_->setVisible(monitors.size() >= 2);
  screen_->setText(QString("Screen %1").arg(current + 1));
  screenMenu_->clear();
  for (size_t i = 0; i < monitors.size(); ++i) {
    QAction* entry = screenMenu_->addAction(monitorLabel(i, monitors[i]));
    entry->setCheckable(true);
    entry->setChecked(int(i) == current);
    QObject::connect(entry, &QAction::triggered, [this, i] { session_.pickMonitor(int(i)); });
  }
}

void ViewerToolbar::buildKeys() {
  auto* menu = new QMenu(keys_);
  for (const Combo& combo : kCombos)
    QObject::connect(menu->addAction(combo.label), &QAction::triggered, [this, &combo] { view_.sendCombo(combo.keys); });
  menu->addSeparator();
  QObject::connect(menu->addAction("Ask for admin rights"), &QAction::triggered, [this] { session_.askAdminRights(); });
  QObject::connect(menu->addAction("Refresh the picture"), &QAction::triggered,
                   [this] { session_.requestFullPicture(); });
  keys_->setMenu(menu);
}

void ViewerToolbar::showOptions(const ViewerOptions& options) {
  options_ = options;
  buildSize();
  // The whole text, keys and all, is too long for the bar: it is the button's help.
  fullScreen_->setText(options.fullScreen ? "Back to a window" : "Full screen");
  fullScreen_->setToolTip(options.fullScreen ? "Back to a window (Ctrl+Super+F or F11)"
                                             : "Full screen (Ctrl+Super+F or F11)");
}

void ViewerToolbar::buildSize() {
  sizeMenu_->clear();
  auto choice = [this](const char* label, bool checked, auto change) {
    QAction* entry = sizeMenu_->addAction(label);
    entry->setCheckable(true);
    entry->setChecked(checked);
    QObject::connect(entry, &QAction::triggered, [this, change] {
      ViewerOptions next = options_;
      change(next);
      actions_.setOptions(next);
    });
  };
  choice("Fit to the window", options_.scale == ViewScale::fit, [](ViewerOptions& o) { o.scale = ViewScale::fit; });
  choice("Original size", options_.scale == ViewScale::original,
         [](ViewerOptions& o) { o.scale = ViewScale::original; });
  sizeMenu_->addSeparator();
  choice("Smooth scaling", options_.smooth, [](ViewerOptions& o) { o.smooth = !o.smooth; });
  choice("Keep the window in proportion", options_.keepProportions,
         [](ViewerOptions& o) { o.keepProportions = !o.keepProportions; });
}

}  // namespace plimo
