#pragma once
// Builds the map's whole track beside playback: on request it reads one
// recording file from start to end on its own handle, hands every GPS record
// with its absolute time (the file's start from its name plus the record's
// time) to the map, then a separator, and says which file it finished.
#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/Thread.h"
#include "playback/RecordSinks.h"

namespace playback {

class SensorWorker {
 public:
  using Finished = std::function<void(int index, bool opened)>;

  SensorWorker(MapSink& map, Finished finished);
  ~SensorWorker();
  SensorWorker(const SensorWorker&) = delete;
  SensorWorker& operator=(const SensorWorker&) = delete;

  // Reads files[index] (a request while one runs replaces the one waiting).
  void Request(std::vector<std::string> files, int index);
  // Every file in turn, waiting for each; for callers without a window.
  void ReadAll(const std::vector<std::string>& files);

 private:
  void Run(const platform::StopToken& stop);
  bool ReadFile(const std::string& path, const platform::StopToken& stop);

  MapSink& map_;
  Finished finished_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::vector<std::string> files_;  // guarded by mutex_
  int index_ = -1;                  // guarded by mutex_: -1 none waiting
  int done_count_ = 0;              // guarded by mutex_
  platform::WorkerThread thread_{"sensor worker"};
};

}  // namespace playback
