#include "ui/SettingsWindow.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/AppModel.h"
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
  helperCtrl_ = new QCheckBox("A helper's Ctrl key is Ctrl here (Command on a Mac helper)");
  form->addRow(hideWallpaper_);
  form->addRow(helperCtrl_);
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
  resize(480, 0);
  load();
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
  helperCtrl_->setChecked(s.helperCtrlAsCommand);
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
  s.helperCtrlAsCommand = helperCtrl_->isChecked();
  model_.saveSettings(s);
}

}  // namespace plimo
