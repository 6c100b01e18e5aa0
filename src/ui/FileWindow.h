#pragma once
// The session's files in one small window: a progress bar with the rate and
// time left for the file going out and the one coming in, each with Cancel;
// the partner's offer with its name and size to accept or decline; on the
// helper's side Send a file and Ask for a file, on the helped PC's side the
// file chooser the helper's request opens (the helped person picks; the
// helper never browses this disk). It shows itself when something needs
// the person.
//
// Owner: the session's windows; the transfers outlive it. Main thread only.

#include <QPointer>
#include <QWidget>
#include <vector>

#include "core/Observable.h"

class QFileDialog;
class QLabel;
class QProgressBar;
class QPushButton;

namespace plimo {

class FileTransfers;
struct TransferView;

class FileWindow final : public QWidget {
 public:
  enum class Side { helper, helped };

  FileWindow(FileTransfers& files, Side side);
  ~FileWindow() override;

  // The helper's Send a file, and a file dropped onto the view.
  void chooseFileToSend();
  void send(const QString& path);

 private:
  struct Row {
    QWidget* box;
    QLabel* name;
    QLabel* detail;
    QProgressBar* bar;
  };
  Row addRow(const QString& objectName, const std::function<void()>& cancel);
  void showRow(const Row& row, const std::optional<TransferView>& view, const char* verb);
  void showOffer(const std::optional<TransferView>& offer);
  void pickRequested(bool requested);
  void showUp();

  FileTransfers& files_;
  Row sending_, receiving_;
  QWidget* offerBox_;
  QLabel* offerText_;
  QPointer<QFileDialog> picker_;
  std::vector<Subscription> watching_;
};

}  // namespace plimo
