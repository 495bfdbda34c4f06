#pragma once
// The folder scan off the window's thread. The worker walks the folder and
// hands what it finds to the window in batches (queued, so the worker never
// waits for the window); the window inserts them into the list. A second
// scan cancels the first: the first's batches still on their way are dropped.
#include <QObject>
#include <QString>
#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "app/RecordingScan.h"

namespace app {

class ScanWorker : public QObject {
  Q_OBJECT

 public:
  struct Request {
    QString folder;
    ScanFilter filter;
    bool update_search_panel = true;  // an opened folder (not a search)
    bool recursive = true;
  };

  explicit ScanWorker(QObject* parent = nullptr);
  ~ScanWorker() override;  // cancels and waits for the walk

  void Start(const Request& request);
  void Cancel();
  bool running() const { return running_; }
  // The walk of the current scan has ended (its last batch may still be on its way).
  bool walk_ended() const { return current_ && current_->done.load(); }
  const Request& request() const { return request_; }

 signals:
  // On the window's thread, in the order found.
  void rowsFound(const std::vector<app::RecordingRow>& rows);
  void progress(int files_seen);
  void finished(bool update_search_panel);

 private:
  struct Walk {
    std::atomic<bool> cancel{false};
    std::atomic<bool> done{false};
    std::thread thread;
  };
  void JoinFinished(bool all);
  // On the window's thread: a batch of the walk `generation` (the last one
  // with `last`).
  void Deliver(int generation, const std::vector<RecordingRow>& rows, int seen, bool last);

  Request request_;
  std::unique_ptr<Walk> current_;
  std::vector<std::unique_ptr<Walk>> old_walks_;
  int generation_ = 0;
  bool running_ = false;
};

}  // namespace app
