#include "ui/ViewerWindow.h"

#include <QCloseEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QScreen>
#include <QScrollArea>
#include <QSettings>
#include <QShortcut>
#include <QVBoxLayout>
#include <cmath>

#include "core/PlimoID.h"
#include "support/IniFile.h"
#include "ui/FileWindow.h"
#include "ui/ScreenView.h"
#include "ui/ViewerChat.h"
#include "ui/ViewerOverlays.h"
#include "ui/ViewerToolbar.h"
#include "ui/Widgets.h"
#include "viewer/ViewerSession.h"

namespace plimo {

namespace {
constexpr int kMinWidth = 640, kMinHeight = 360;
constexpr int kStartWidth = 1280, kStartHeight = 800;

// Where the helper left the window, beside Plimo.ini. Qt's own record: it
// puts a window whose screen has gone back on one that is there.
QSettings frames(const IniFile& ini) {
  return QSettings(QString::fromStdString((ini.url().parent_path() / "Windows.ini").string()), QSettings::IniFormat);
}
constexpr char kFrame[] = "PlimoViewer";
}  // namespace

ViewerWindow::ViewerWindow(EventLoop& loop, ViewerSession& session, IniFile& ini,
                           const ViewerWindows::Facts& facts, Closing closing)
    : session_(&session), ini_(ini), closing_(std::move(closing)), options_(ViewerOptions::load(ini)) {
  setObjectName("viewerWindow");
  std::string id = formatPlimoID(session.partnerID());
  setWindowTitle(ui::text("Plimo - " + (facts.partnerName.empty() ? id : facts.partnerName + " (" + id + ")")));
  setMinimumSize(kMinWidth, kMinHeight);

  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);
  auto* row = new QHBoxLayout;
  row->setSpacing(0);
  auto* stage = new QGridLayout;
  area_ = new QScrollArea;
  view_ = new ScreenView(loop, *area_);
  view_->setInput(&session);
  view_->setSuperAsControl(facts.superAsControl);
  view_->setScale(options_.scale);
  view_->setSmooth(options_.smooth);
  view_->onToggleFullScreen = [this] { toggleFullScreen(); };
  stage->addWidget(area_, 0, 0);
  overlays_ = std::make_unique<ViewerOverlays>(loop, session, *stage, facts.viaRelay);
  chat_ = new ViewerChat(session);
  row->addLayout(stage, 1);
  row->addWidget(chat_);
  files_ = std::make_unique<FileWindow>(session.files(), FileWindow::Side::helper);
  setAcceptDrops(true);
  toolbar_ = new ViewerToolbar(session, *view_,
                               {[this](const ViewerOptions& next) { setOptions(next); },
                                [this] { toggleFullScreen(); }, [this] { close(); },
                                [this] {
                                  files_->show();
                                  files_->raise();
                                }});
  toolbar_->showOptions(options_);
  column->addWidget(toolbar_);
  column->addLayout(row, 1);

  // The picture takes these keys itself while it has the focus.
  for (QKeySequence keys : {QKeySequence(Qt::Key_F11), QKeySequence(Qt::CTRL | Qt::META | Qt::Key_F)})
    QObject::connect(new QShortcut(keys, this), &QShortcut::activated, [this] { toggleFullScreen(); });

  auto chatOpen = [this](bool open) {
    chat_->setVisible(open);
    followProportions();
  };
  watching_.push_back(session.chatOpen().observe(chatOpen));
  watching_.push_back(session.remoteSize().observe([this](const Size&) { followProportions(); }));
  chat_->setVisible(session.chatOpen().get());

  if (!restoreGeometry(frames(ini).value(kFrame).toByteArray())) {
    resize(kStartWidth, kStartHeight);
    if (QScreen* screen = QGuiApplication::primaryScreen())
      move(screen->availableGeometry().center() - rect().center());
  }
  followProportions();
}

ViewerWindow::~ViewerWindow() { detach(); }

void ViewerWindow::setOptions(const ViewerOptions& next) {
  bool stored = next.scale != options_.scale || next.smooth != options_.smooth ||
                next.keepProportions != options_.keepProportions;
  options_ = next;
  view_->setScale(options_.scale);
  view_->setSmooth(options_.smooth);
  toolbar_->showOptions(options_);
  if (stored) {
    if (auto saved = options_.save(ini_); !saved && closing_.log)
      closing_.log("Could not save the viewer options: " + saved.error());
  }
  followProportions();
}

void ViewerWindow::toggleFullScreen() {
  if (isFullScreen()) {
    showNormal();
  } else {
    showFullScreen();
  }
}

void ViewerWindow::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  if (event->type() != QEvent::WindowStateChange || options_.fullScreen == isFullScreen()) return;
  options_.fullScreen = isFullScreen();
  toolbar_->showOptions(options_);
  followProportions();
}

void ViewerWindow::dragEnterEvent(QDragEnterEvent* event) {
  const auto urls = event->mimeData()->urls();
  if (files_ && urls.size() == 1 && urls[0].isLocalFile()) event->acceptProposedAction();
}

void ViewerWindow::dropEvent(QDropEvent* event) {
  const auto urls = event->mimeData()->urls();
  if (!files_ || urls.size() != 1 || !urls[0].isLocalFile()) return;
  files_->send(urls[0].toLocalFile());
  event->acceptProposedAction();
}

std::optional<int> ViewerWindow::proportionalHeight(int width) const {
  if (!session_ || !options_.keepProportions || options_.scale != ViewScale::fit || options_.fullScreen)
    return std::nullopt;
  Size remote = session_->remoteSize().get();
  if (remote.width <= 0 || remote.height <= 0) return std::nullopt;
  int chat = session_->chatOpen().get() ? ViewerChat::kWidth : 0;
  return int(std::lround((width - chat) * remote.height / remote.width)) + ViewerToolbar::kHeight;
}

void ViewerWindow::followProportions() {
  auto height = proportionalHeight(width());
  if (!height || *height == this->height() || adjusting_) return;
  // The helper's width stays; the height follows (the top edge stays put).
  adjusting_ = true;
  resize(width(), std::max(*height, kMinHeight));
  adjusting_ = false;
}

void ViewerWindow::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  followProportions();
}

void ViewerWindow::closeEvent(QCloseEvent* event) {
  QWidget::closeEvent(event);
  // The next window opens in full screen only when the helper asks again.
  if (!isFullScreen()) frames(ini_).setValue(kFrame, saveGeometry());
  if (closingFromModel_ || closed_) return;
  closed_ = true;
  view_->releaseAll();
  if (closing_.onClosed) closing_.onClosed();
}

void ViewerWindow::closeFromModel() {
  closingFromModel_ = true;
  view_->releaseAll();
  detach();
  close();
}

void ViewerWindow::detach() {
  if (!session_) return;
  watching_.clear();
  files_.reset();
  overlays_->stop();
  view_->setInput(nullptr);
  session_->setDisplay(nullptr);
  session_ = nullptr;
}

}  // namespace plimo
