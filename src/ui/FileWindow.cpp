#include "ui/FileWindow.h"

#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "exchange/FileTransfers.h"
#include "exchange/TransferText.h"
#include "ui/Widgets.h"

namespace plimo {

FileWindow::FileWindow(FileTransfers& files, Side side) : files_(files) {
  setObjectName("fileWindow");
  setWindowTitle(side == Side::helper ? "Files with the other PC" : "Files with your helper");
  setWindowFlags(Qt::Window | Qt::WindowStaysOnTopHint);
  setMinimumWidth(380);
  auto* layout = new QVBoxLayout(this);

  offerBox_ = new QWidget;
  auto* offer = new QVBoxLayout(offerBox_);
  offer->setContentsMargins(0, 0, 0, 0);
  offerText_ = ui::plainLabel();
  offerText_->setWordWrap(true);
  offerText_->setObjectName("offer");
  auto* answers = new QHBoxLayout;
  auto* accept = new QPushButton("Accept");
  accept->setObjectName("accept");
  auto* decline = new QPushButton("Decline");
  decline->setObjectName("decline");
  answers->addStretch(1);
  answers->addWidget(decline);
  answers->addWidget(accept);
  offer->addWidget(offerText_);
  offer->addLayout(answers);
  layout->addWidget(offerBox_);
  QObject::connect(accept, &QPushButton::clicked, [this] { files_.answerOffer(true); });
  QObject::connect(decline, &QPushButton::clicked, [this] { files_.answerOffer(false); });

  sending_ = addRow("sending", [this] { files_.cancelSending(); });
  receiving_ = addRow("receiving", [this] { files_.cancelReceiving(); });
  layout->addWidget(sending_.box);
  layout->addWidget(receiving_.box);

  if (side == Side::helper) {
    auto* buttons = new QHBoxLayout;
    auto* sendButton = new QPushButton("Send a file...");
    sendButton->setObjectName("sendFile");
    auto* askButton = new QPushButton("Ask for a file");
    askButton->setObjectName("askFile");
    askButton->setToolTip("The other person picks a file on their PC and sends it");
    buttons->addWidget(sendButton);
    buttons->addWidget(askButton);
    buttons->addStretch(1);
    layout->addLayout(buttons);
    QObject::connect(sendButton, &QPushButton::clicked, [this] { chooseFileToSend(); });
    QObject::connect(askButton, &QPushButton::clicked, [this] { files_.requestFile(); });
  }
  layout->addStretch(1);

  watching_.push_back(files_.sending().observe([this](const auto& view) { showRow(sending_, view, "Sending"); }));
  watching_.push_back(files_.receiving().observe([this](const auto& view) { showRow(receiving_, view, "Receiving"); }));
  watching_.push_back(files_.offered().observe([this](const auto& view) { showOffer(view); }));
  watching_.push_back(files_.requested().observe([this](bool requested) { pickRequested(requested); }));
  showRow(sending_, files_.sending().get(), "Sending");
  showRow(receiving_, files_.receiving().get(), "Receiving");
  showOffer(files_.offered().get());
}

FileWindow::~FileWindow() = default;

FileWindow::Row FileWindow::addRow(const QString& objectName, const std::function<void()>& cancel) {
  Row row{new QWidget, ui::plainLabel(), ui::plainLabel(), new QProgressBar};
  row.box->setObjectName(objectName);
  auto* grid = new QVBoxLayout(row.box);
  grid->setContentsMargins(0, 4, 0, 4);
  grid->addWidget(row.name);
  auto* line = new QHBoxLayout;
  row.bar->setRange(0, 1000);
  row.bar->setTextVisible(false);
  auto* stop = new QPushButton("Cancel");
  line->addWidget(row.bar, 1);
  line->addWidget(stop);
  grid->addLayout(line);
  grid->addWidget(row.detail);
  QObject::connect(stop, &QPushButton::clicked, cancel);
  return row;
}

void FileWindow::showRow(const Row& row, const std::optional<TransferView>& view, const char* verb) {
  row.box->setVisible(view.has_value());
  if (!view) return;
  row.name->setText(QString(verb) + " " + ui::text(view->name));
  row.bar->setValue(view->size == 0 ? 1000 : int(view->done * 1000 / view->size));
  row.detail->setText(ui::text(progressText(*view)));
  showUp();
}

void FileWindow::showOffer(const std::optional<TransferView>& offer) {
  offerBox_->setVisible(offer.has_value());
  if (!offer) return;
  offerText_->setText("The other PC offers the file \"" + ui::text(offer->name) + "\" (" +
                      ui::text(sizeText(offer->size)) + "). Accept it?");
  showUp();
}

void FileWindow::pickRequested(bool requested) {
  if (!requested) {
    if (picker_) picker_->close();
    return;
  }
  showUp();
  picker_ = new QFileDialog(this, "Your helper asks for a file: pick the one to send");
  picker_->setAttribute(Qt::WA_DeleteOnClose);
  picker_->setFileMode(QFileDialog::ExistingFile);
  // Picked or not, the answer goes once.
  QObject::connect(picker_, &QFileDialog::fileSelected, this, [this](const QString& path) { send(path); });
  QObject::connect(picker_, &QFileDialog::rejected, this, [this] { files_.declineRequest(); });
  picker_->open();
}

void FileWindow::chooseFileToSend() {
  showUp();
  auto* dialog = new QFileDialog(this, "Send a file to the other PC");
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  dialog->setFileMode(QFileDialog::ExistingFile);
  QObject::connect(dialog, &QFileDialog::fileSelected, this, [this](const QString& path) { send(path); });
  dialog->open();
}

void FileWindow::send(const QString& path) {
  files_.sendFile(path.toStdString());
  showUp();
}

void FileWindow::showUp() {
  adjustSize();
  show();
  raise();
}

}  // namespace plimo
