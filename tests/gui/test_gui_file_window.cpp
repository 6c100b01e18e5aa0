// The files window: a partner's file name shown as it is, never as markup,
// with its size, the offer answered by its buttons, and the progress rows.

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

#include "core/ManualLoop.h"
#include "exchange/FileTransfers.h"
#include "gui/Shots.h"
#include "protocol/crypto/PlimoCrypto.h"
#include "testkit/TempDir.h"
#include "ui/FileWindow.h"

namespace plimo {
namespace {

TEST(FileWindow, ShowsThePartnersOfferAsPlainTextAndAnswersIt) {
  ManualLoop loop;
  MsgChannel channel(loop);
  PartnerExtensions partner;
  testkit::TempDir dir("file-window");
  FileTransfers files(loop, channel, partner, {dir.path(), true}, {});
  ASSERT_TRUE(partner.take(*partner.listOnce()));
  FileWindow window(files, FileWindow::Side::helper);
  const std::string hostile = "<img src=x onerror=1><b>report<b>.pdf";
  files.handle(ChannelMsg{FileKind::offer, false,
                          FileMsg::encode(FileMsg::Offer{7, 12'300'000, PlimoCrypto::sha256({}), hostile})});
  QApplication::processEvents();
  ASSERT_TRUE(window.isVisible()) << "an offer brings the window up";
  auto* offer = window.findChild<QLabel*>("offer");
  ASSERT_TRUE(offer);
  EXPECT_EQ(offer->textFormat(), Qt::PlainText);
  EXPECT_EQ(offer->text().toStdString(), "The other PC offers the file \"" + hostile + "\" (12.3 MB). Accept it?");
  testing::shoot(window, "file-window-offer");

  window.findChild<QPushButton*>("accept")->click();
  QApplication::processEvents();
  EXPECT_FALSE(offer->isVisible());
  auto* receiving = window.findChild<QWidget*>("receiving");
  ASSERT_TRUE(receiving);
  EXPECT_TRUE(receiving->isVisible());
  EXPECT_FALSE(window.findChild<QWidget*>("sending")->isVisible());
  testing::shoot(window, "file-window-receiving");
}

}  // namespace
}  // namespace plimo
