#include "ui/SettingsWindow.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/AppModel.h"
#include "core/PlimoID.h"
#include "ui/Widgets.h"

namespace plimo {

SettingsWindow::SettingsWindow(AppModel& model) : model_(model) {
  setObjectName("settings");
  setWindowTitle("Plimo Settings");
  auto* layout = new QVBoxLayout(this);
  auto* form = new QFormLayout;
  auto field = [&](const char* label) {
    auto* edit = new QLineEdit;
    form->addRow(label, edit);
    return edit;
  };
  host_ = field("Server");
  port_ = field("UDP port");
  port_->setValidator(new QIntValidator(1, 65535, port_));
  tcpPorts_ = field("TCP ports");
  test_ = new QPushButton("Test server");
  test_->setObjectName("testServer");
  testAnswer_ = ui::plainLabel();
  testAnswer_->setObjectName("serverAnswer");
  testAnswer_->setWordWrap(true);
  auto* testRow = new QHBoxLayout;
  testRow->addWidget(test_);
  testRow->addWidget(testAnswer_, 1);
  form->addRow("", testRow);
  connect(test_, &QPushButton::clicked, [this] { testServer(); });
  fingerprint_ = ui::plainLabel();
  fingerprint_->setObjectName("serverKey");
  fingerprint_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  auto* forget = new QPushButton("Forget key...");
  forget->setObjectName("forgetKey");
  auto* keyRow = new QHBoxLayout;
  keyRow->addWidget(fingerprint_, 1);
  keyRow->addWidget(forget);
  form->addRow("Server key", keyRow);
  connect(forget, &QPushButton::clicked, [this] { forgetServerKey(); });
  idState_ = ui::plainLabel();
  idState_->setObjectName("idState");
  form->addRow("This PC's ID", idState_);
  name_ = field("Your name");
  company_ = field("Company");
  email_ = field("E-mail");
  phone_ = field("Phone");
  picture_ = new QLineEdit;
  auto* choose = new QPushButton("Choose...");
  auto* pictureRow = new QHBoxLayout;
  pictureRow->addWidget(picture_, 1);
  pictureRow->addWidget(choose);
  form->addRow("Picture", pictureRow);
  connect(choose, &QPushButton::clicked, [this] {
    QString file = QFileDialog::getOpenFileName(this, "Your picture", {}, "Pictures (*.png *.jpg *.jpeg)");
    if (!file.isEmpty()) picture_->setText(file);
  });
  hideWallpaper_ = new QCheckBox("Hide the wallpaper of the PC I help");
  // A helper's Ctrl is played as Ctrl here whatever Mac/HelperCtrlAsCommand
  // says, so that key has no switch.
  superAsCtrl_ = new QCheckBox("Send my Super key as Ctrl");
  clipboard_ = new QCheckBox("Share copied text between the two PCs of a session");
  clipboard_->setObjectName("shareClipboard");
  form->addRow(hideWallpaper_);
  form->addRow(superAsCtrl_);
  form->addRow(clipboard_);
  layout->addLayout(form);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  auto* cancel = new QPushButton("Cancel");
  auto* saveButton = new QPushButton("Save");
  saveButton->setDefault(true);
  buttons->addWidget(cancel);
  buttons->addWidget(saveButton);
  layout->addLayout(buttons);
  connect(cancel, &QPushButton::clicked, [this] { close(); });
  connect(saveButton, &QPushButton::clicked, [this] {
    save();
    close();
  });
  resize(520, 0);
  load();
  showLink();
  auto any = [this](const auto&) { showLink(); };
  watching_.push_back(model_.link().relayFingerprint().observe(any));
  watching_.push_back(model_.link().idPinned().observe(any));
  watching_.push_back(model_.link().myID().observe(any));
}

void SettingsWindow::showEvent(QShowEvent* event) {
  load();
  QWidget::showEvent(event);
}

void SettingsWindow::load() {
  const AppSettings& s = model_.settings().get();
  host_->setText(ui::text(s.relayHost));
  port_->setText(QString::number(s.relayPort));
  tcpPorts_->setText(ui::text(s.tcpPorts));
  name_->setText(ui::text(s.profileName));
  company_->setText(ui::text(s.profileCompany));
  email_->setText(ui::text(s.profileEmail));
  phone_->setText(ui::text(s.profilePhone));
  picture_->setText(ui::text(s.profilePicture));
  hideWallpaper_->setChecked(s.hideWallpaper);
  superAsCtrl_->setChecked(s.commandAsControl);
  clipboard_->setChecked(s.shareClipboard(model_.unattended()));
}

void SettingsWindow::showLink() {
  fingerprint_->setText(ui::text(model_.link().relayFingerprint().get()));
  const std::string& id = model_.link().myID().get();
  idState_->setText(id == "0" ? "none yet"
                              : ui::text(formatPlimoID(id)) + (model_.link().idPinned().get() ? ", kept" : ", not kept"));
}

void SettingsWindow::testServer() {
  if (!model_.link().client()) return;  // nothing to test: no server set
  test_->setEnabled(false);
  testAnswer_->setText("Testing...");
  model_.testServer(guard_.weakly<bool, const std::string&>([](SettingsWindow& self, bool, const std::string& text) {
    self.testAnswer_->setText(ui::text(text));
    self.test_->setEnabled(true);
  }));
}

void SettingsWindow::forgetServerKey() {
  QMessageBox box(QMessageBox::Warning, "Forget the server key?",
                  "Forget the key of the server at " + ui::text(model_.serverAddress()) + "?", QMessageBox::Cancel,
                  this);
  box.setTextFormat(Qt::PlainText);
  box.setInformativeText(
      "Plimo then takes whatever key this server shows next as its own, without comparing it with the key it "
      "knows now. Do this only when you know that the server was reinstalled or got a new key: otherwise another "
      "computer may be posing as your server.");
  QPushButton* forget = box.addButton("Forget key", QMessageBox::DestructiveRole);
  box.setDefaultButton(QMessageBox::Cancel);
  box.exec();
  if (box.clickedButton() == forget) model_.forgetServerKey();
}

void SettingsWindow::save() {
  AppSettings s = model_.settings().get();
  s.relayHost = host_->text().trimmed().toStdString();
  bool ok = false;
  int port = port_->text().toInt(&ok);
  if (ok && port > 0 && port <= 65535) s.relayPort = port;
  s.tcpPorts = tcpPorts_->text().trimmed().toStdString();
  s.profileName = name_->text().trimmed().toStdString();
  s.profileCompany = company_->text().trimmed().toStdString();
  s.profileEmail = email_->text().trimmed().toStdString();
  s.profilePhone = phone_->text().trimmed().toStdString();
  s.profilePicture = picture_->text().trimmed().toStdString();
  s.hideWallpaper = hideWallpaper_->isChecked();
  s.commandAsControl = superAsCtrl_->isChecked();
  // Left unset while it shows what the PC's kind gives, so it follows a
  // later switch to or from unattended access.
  if (clipboard_->isChecked() != s.shareClipboard(model_.unattended())) s.clipboard = clipboard_->isChecked();
  model_.saveSettings(s);
}

}  // namespace plimo
