#include "ui/MainWindow.h"

#include <QCheckBox>
#include <QEvent>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/AppModel.h"
#include "core/PlimoID.h"
#include "ui/ConnectionTestWindow.h"
#include "ui/Widgets.h"

namespace plimo {

namespace {

QString shownID(const std::string& id) { return id == "0" ? "--- --- ---" : ui::text(formatPlimoID(id)); }

void bringUp(QWidget* window) {
  window->show();
  window->raise();
  window->activateWindow();
}

QLabel* problemLabel(const char* name, const QString& text) {
  QLabel* label = ui::plainLabel(text);
  label->setObjectName(name);
  label->setWordWrap(true);
  label->setStyleSheet("color: #d93025;");
  return label;
}

}  // namespace

MainWindow::MainWindow(AppModel& model, QWidget* settings, QWidget* help, ConnectionTestWindow* connectionTest)
    : model_(model) {
  setObjectName("main");
  setWindowTitle("Plimo");
  build(settings, help, connectionTest);
  watch();
}

MainWindow::~MainWindow() = default;

void MainWindow::build(QWidget* settings, QWidget* help, ConnectionTestWindow* connectionTest) {
  QMenu* plimo = menuBar()->addMenu("&Plimo");
  plimo->addAction("Settings...", QKeySequence::Preferences, [settings] { bringUp(settings); });
  plimo->addAction("Quit", QKeySequence::Quit, [this] { close(); });
  QMenu* helpMenu = menuBar()->addMenu("&Help");
  helpMenu->addAction("Plimo Help", QKeySequence(Qt::CTRL | Qt::Key_Question), [help] { bringUp(help); });
  helpMenu->addAction("Connection Test...", [connectionTest] { bringUp(connectionTest); });

  auto* central = new QWidget;
  auto* layout = new QVBoxLayout(central);
  layout->addWidget(ui::plainLabel("Your ID"));
  id_ = ui::bigLabel("", 26);
  id_->setObjectName("myID");
  layout->addWidget(id_);
  auto* serverRow = new QHBoxLayout;
  serverLight_ = new ui::Light;
  serverText_ = ui::plainLabel();
  serverRow->addWidget(serverLight_);
  serverRow->addWidget(serverText_, 1);
  layout->addLayout(serverRow);

  // Asked for only while no server is set.
  serverRow_ = new QWidget;
  auto* choose = new QHBoxLayout(serverRow_);
  choose->setContentsMargins(0, 0, 0, 0);
  server_ = new QLineEdit;
  server_->setPlaceholderText("Your company's Plimo server, e.g. plimo.example.com:47800");
  auto* use = new QPushButton("Use server");
  choose->addWidget(server_, 1);
  choose->addWidget(use);
  layout->addWidget(serverRow_);
  noScreen_ = problemLabel("noScreen",
                           "Plimo cannot share the screen of this PC: it reaches neither an X11 display nor a "
                           "Wayland desktop's screen-sharing portal. Start Plimo in the desktop session at this PC "
                           "(on Wayland, with xdg-desktop-portal and the portal of the desktop installed), then "
                           "start it again.");
  noControl_ = problemLabel("noControl",
                            "A helper cannot use the mouse and keyboard of this PC, only watch: the X display has no "
                            "XTEST extension. Use an X server that offers XTEST (Xorg does), then start Plimo again.");
  layout->addWidget(noScreen_);
  layout->addWidget(noControl_);
  auto chooseServer = [this] { model_.chooseServer(server_->text().toStdString()); };
  connect(use, &QPushButton::clicked, chooseServer);
  connect(server_, &QLineEdit::returnPressed, chooseServer);

  layout->addSpacing(8);
  layout->addWidget(ui::plainLabel("Partner ID"));
  auto* partnerRow = new QHBoxLayout;
  partner_ = new QLineEdit;
  partner_->setPlaceholderText("123 456 789");
  connect_ = new QPushButton("Connect");
  partnerRow->addWidget(partner_, 1);
  partnerRow->addWidget(connect_);
  layout->addLayout(partnerRow);
  notice_ = ui::plainLabel();
  notice_->setStyleSheet("color: #d93025;");
  layout->addWidget(notice_);
  connect(partner_, &QLineEdit::textEdited, [this](const QString& text) { model_.setPartnerID(text.toStdString()); });
  connect(partner_, &QLineEdit::returnPressed, [this] { model_.connect(); });
  connect(connect_, &QPushButton::clicked, [this] { model_.connect(); });

  auto* sessionRow = new QHBoxLayout;
  sessionLight_ = new ui::Light;
  sessionTitle_ = ui::plainLabel();
  QFont bold = sessionTitle_->font();
  bold.setBold(true);
  sessionTitle_->setFont(bold);
  sessionRow->addWidget(sessionLight_);
  sessionRow->addWidget(sessionTitle_, 1);
  layout->addLayout(sessionRow);
  sessionDetail_ = ui::plainLabel();
  sessionDetail_->setObjectName("sessionDetail");
  sessionDetail_->setWordWrap(true);
  layout->addWidget(sessionDetail_);
  whyNot_ = new QPushButton("Why didn't it connect?");
  whyNot_->setObjectName("whyNot");
  layout->addWidget(whyNot_, 0, Qt::AlignLeft);
  connect(whyNot_, &QPushButton::clicked, [connectionTest] {
    bringUp(connectionTest);
    connectionTest->run();
  });
  auto* checkRow = new QHBoxLayout;
  checkRow->addWidget(ui::plainLabel("Check number"));
  check_ = ui::bigLabel("", 16);
  check_->setObjectName("checkNumber");
  checkRow->addWidget(check_, 1);
  layout->addLayout(checkRow);
  // Selectable, so that both people can read them out or paste them.
  fingerprints_ = ui::plainLabel();
  fingerprints_->setObjectName("keyFingerprints");
  fingerprints_->setWordWrap(true);
  fingerprints_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  fingerprints_->setStyleSheet("color: #606060; font-family: monospace;");
  layout->addWidget(fingerprints_);

  layout->addWidget(ui::plainLabel("Recent"));
  recent_ = new QListWidget;
  recent_->setContextMenuPolicy(Qt::CustomContextMenu);
  layout->addWidget(recent_, 1);
  connect(recent_, &QListWidget::customContextMenuRequested, [this](const QPoint& at) { recentMenu(at); });
  connect(recent_, &QListWidget::itemActivated, [this](QListWidgetItem* item) {
    size_t row = size_t(recent_->row(item));
    if (row >= model_.recent().get().size()) return;
    model_.setPartnerID(model_.recent().get()[row].id);
    model_.connect();
  });

  keepID_ = new QCheckBox("Keep my ID");
  unattended_ = new QCheckBox("Let helpers in without asking (unattended access)");
  layout->addWidget(keepID_);
  layout->addWidget(unattended_);
  connect(keepID_, &QCheckBox::toggled, [this](bool on) {
    if (on != model_.keepID()) model_.setKeepID(on);
  });
  connect(unattended_, &QCheckBox::toggled, [this](bool on) {
    if (on != model_.unattended()) model_.setUnattended(on);
  });
  setCentralWidget(central);
  resize(420, 640);
}

void MainWindow::watch() {
  auto connectText = [this] {
    bool busy = model_.sessions().connecting().get() || model_.sessions().sessionLight().get() == AppModel::Light::green ||
                model_.sessions().sessionLight().get() == AppModel::Light::amber;
    connect_->setText(busy ? "Disconnect" : "Connect");
  };
  auto refresh = [this, connectText] {
    id_->setText(shownID(model_.link().myID().get()));
    serverLight_->set(model_.link().serverLight().get());
    serverText_->setText(ui::text(model_.link().serverText().get()));
    serverRow_->setVisible(model_.link().needsServer().get());
    if (partner_->text().toStdString() != model_.partnerID().get()) partner_->setText(ui::text(model_.partnerID().get()));
    notice_->setText(ui::text(model_.notice().get()));
    notice_->setVisible(!model_.notice().get().empty());
    sessionLight_->set(model_.sessions().sessionLight().get());
    sessionTitle_->setText(ui::text(model_.sessions().sessionTitle().get()));
    sessionDetail_->setText(ui::text(model_.sessions().sessionDetail().get()));
    check_->setText(ui::text(model_.sessions().checkNumber().get()));
    fingerprints_->setText(ui::text(model_.sessions().keyFingerprints().get()));
    fingerprints_->setVisible(!model_.sessions().keyFingerprints().get().empty());
    whyNot_->setVisible(model_.sessions().sessionLight().get() == AppModel::Light::red);
    noScreen_->setVisible(!model_.canRecordScreen().get());
    noControl_->setVisible(!model_.canControl().get());
    keepID_->setChecked(model_.keepID());
    unattended_->setChecked(model_.unattended());
    connectText();
  };
  refresh();
  showRecent();
  auto any = [refresh](const auto&) { refresh(); };
  watching_.push_back(model_.link().myID().observe(any));
  watching_.push_back(model_.link().serverLight().observe(any));
  watching_.push_back(model_.link().serverText().observe(any));
  watching_.push_back(model_.link().needsServer().observe(any));
  watching_.push_back(model_.partnerID().observe(any));
  watching_.push_back(model_.notice().observe(any));
  watching_.push_back(model_.sessions().sessionLight().observe(any));
  watching_.push_back(model_.sessions().sessionTitle().observe(any));
  watching_.push_back(model_.sessions().sessionDetail().observe(any));
  watching_.push_back(model_.sessions().checkNumber().observe(any));
  watching_.push_back(model_.sessions().keyFingerprints().observe(any));
  watching_.push_back(model_.sessions().connecting().observe(any));
  watching_.push_back(model_.settings().observe(any));
  watching_.push_back(model_.unattendedValue().observe(any));
  watching_.push_back(model_.canRecordScreen().observe(any));
  watching_.push_back(model_.canControl().observe(any));
  watching_.push_back(model_.recent().observe([this](const auto&) { showRecent(); }));
}

bool MainWindow::event(QEvent* event) {
  // A session logged in anew or an X server changed meanwhile.
  if (event->type() == QEvent::WindowActivate) model_.refreshPermissions();
  return QMainWindow::event(event);
}

void MainWindow::showRecent() {
  recent_->clear();
  for (const auto& pc : model_.recent().get()) {
    QString id = ui::text(formatPlimoID(pc.id));
    recent_->addItem(pc.name.empty() ? id : ui::text(pc.name) + "  (" + id + ")");
  }
}

void MainWindow::recentMenu(const QPoint& at) {
  int row = recent_->row(recent_->itemAt(at));
  if (row < 0 || size_t(row) >= model_.recent().get().size()) return;
  RecentPC entry = model_.recent().get()[size_t(row)];
  QMenu menu;
  menu.addAction("Rename...", [this, entry] {
    bool ok = false;
    QString name = QInputDialog::getText(this, "Rename", "Name of " + ui::text(formatPlimoID(entry.id)),
                                         QLineEdit::Normal, ui::text(entry.name), &ok);
    if (ok) model_.rename(entry, name.toStdString());
  });
  menu.addAction("Remove", [this, entry] { model_.remove(entry); });
  menu.exec(recent_->viewport()->mapToGlobal(at));
}

}  // namespace plimo
