#pragma once
// The backup dialog: a small modal window that copies a list of recording
// files into a folder on a worker thread, shows which file it is copying and
// then the result ("back up success" or "copy error:..."), and whose Cancel
// stops the copy. The window's thread never waits for the copy: the status
// line is refreshed by queued calls when a file starts and when the worker
// ends.
//
// Cancel abandons the file being copied (its temporary file is removed) and
// closes the window once the worker has ended; after the copy has ended it
// closes at once. Closing the window while the copy runs is ignored; Enter
// and Escape do nothing.
#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <QThread>
#include <functional>
#include <string>
#include <vector>

#include "tools/BackupCopy.h"

namespace app {
class LanguageResources;
}

namespace tools {

class CSearchFileCopy : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kDialogNumber = 247;
  static constexpr int kIdStatus = 1121;
  static constexpr int kIdCancel = 1122;

  // `sources`: full paths in the order they are copied; `destination`: the
  // folder they go to. The texts come from `languages` (English without).
  // The copy starts when the window is first shown.
  CSearchFileCopy(std::vector<std::string> sources, std::string destination,
                  const app::LanguageResources* languages = nullptr, QWidget* parent = nullptr);
  // Cancels a copy still running and waits for its worker.
  ~CSearchFileCopy() override;

  // Called as the copy goes on (see CopyProgress: on the worker thread, and
  // on its read-back thread for blocks read back), after the window's own
  // bookkeeping. Set before the window is shown.
  void set_progress_hook(std::function<void(const CopyProgress&)> hook) { progress_hook_ = std::move(hook); }

  // The worker has ended (or was never started and the window closed).
  bool copy_ended() const { return ended_; }
  const BackupCopy& copy() const { return copy_; }
  QString status_text() const;

 signals:
  // The worker has ended; `success` when every file was copied or skipped.
  void copyEnded(bool success);

 public slots:
  // Cancel: stops the copy, closes once the worker has ended.
  void reject() override;

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void Start();
  void Refresh();
  void OnWorkerEnded();

  BackupCopy copy_;
  std::function<void(const CopyProgress&)> progress_hook_;
  QLabel* status_ = nullptr;
  QPushButton* cancel_ = nullptr;
  QThread* worker_ = nullptr;     // owned; null until started
  bool ended_ = false;            // the worker has ended (window's thread)
  bool cancel_requested_ = false;  // close once the worker ends
};

}  // namespace tools
