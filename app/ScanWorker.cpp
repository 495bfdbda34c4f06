#include "app/ScanWorker.h"

#include <QMetaObject>
#include <chrono>

namespace app {
namespace {

// A batch goes to the window when it is this big or this old: small enough
// that rows appear while the folder is walked, large enough that ten
// thousand files are not ten thousand window events.
constexpr size_t kBatchRows = 256;
constexpr auto kBatchAge = std::chrono::milliseconds(40);

}  // namespace

ScanWorker::ScanWorker(QObject* parent) : QObject(parent) {}

ScanWorker::~ScanWorker() {
  Cancel();
  JoinFinished(true);
}

void ScanWorker::Cancel() {
  if (current_) {
    current_->cancel = true;
    old_walks_.push_back(std::move(current_));
  }
  ++generation_;  // whatever the cancelled walk still sends is dropped
  running_ = false;
}

void ScanWorker::JoinFinished(bool all) {
  for (auto it = old_walks_.begin(); it != old_walks_.end();) {
    if (all || (*it)->done) {
      if ((*it)->thread.joinable()) (*it)->thread.join();
      it = old_walks_.erase(it);
    } else {
      ++it;
    }
  }
}

void ScanWorker::Start(const Request& request) {
  Cancel();
  JoinFinished(false);
  request_ = request;
  running_ = true;
  const int generation = generation_;
  current_ = std::make_unique<Walk>();
  Walk* walk = current_.get();
  const std::filesystem::path folder = request.folder.toStdString();
  const ScanFilter filter = request.filter;
  const bool recursive = request.recursive;
  walk->thread = std::thread([this, walk, folder, filter, recursive, generation] {
    std::vector<RecordingRow> batch;
    auto sent = std::chrono::steady_clock::now();
    int seen = 0;
    auto send = [&](bool last) {
      // Queued to this object: dropped by Qt if the worker is gone, and by
      // Deliver if a newer scan began.
      QMetaObject::invokeMethod(
          this, [this, generation, rows = std::move(batch), seen, last] { Deliver(generation, rows, seen, last); },
          Qt::QueuedConnection);
      batch.clear();
      sent = std::chrono::steady_clock::now();
    };
    WalkRecordings(
        folder, walk->cancel,
        [&](RecordingRow row) {
          if (filter.Accepts(row)) batch.push_back(std::move(row));
          if (batch.size() >= kBatchRows || std::chrono::steady_clock::now() - sent >= kBatchAge) send(false);
        },
        [&](int files) {
          seen = files;
          if (std::chrono::steady_clock::now() - sent >= kBatchAge) send(false);
        },
        recursive);
    if (!walk->cancel) send(true);
    walk->done = true;
  });
}

void ScanWorker::Deliver(int generation, const std::vector<RecordingRow>& rows, int seen, bool last) {
  if (generation != generation_) return;
  if (!rows.empty()) emit rowsFound(rows);
  emit progress(seen);
  if (!last) return;
  running_ = false;
  if (current_) {
    old_walks_.push_back(std::move(current_));  // ended: joined at the next start
  }
  emit finished(request_.update_search_panel);
}

}  // namespace app
