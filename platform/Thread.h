#pragma once
// Worker threads stopped the cooperative way: a stop flag the body polls, a timed
// join, and — since Linux has no safe way to kill a thread — detaching a thread
// that did not stop in time and saying so on stderr. The state the body touches
// lives in a shared block, so a detached body never reads freed memory of ours.
#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/Event.h"

namespace platform {

class Sleeper;

class StopToken {
 public:
  bool StopRequested() const { return flag_->load(std::memory_order_acquire); }
  explicit StopToken(std::shared_ptr<std::atomic<bool>> flag) : flag_(std::move(flag)) {}

 private:
  std::shared_ptr<std::atomic<bool>> flag_;
};

class WorkerThread {
 public:
  using Body = std::function<void(const StopToken&)>;

  explicit WorkerThread(std::string name = "worker");
  ~WorkerThread();  // stops with a 500 ms wait if still running
  WorkerThread(const WorkerThread&) = delete;
  WorkerThread& operator=(const WorkerThread&) = delete;

  // Starts the body; false if a thread is already running or could not start.
  bool Start(Body body);
  bool Running() const;
  const std::string& name() const { return name_; }
  void RequestStop();
  // Waits up to timeout_ms for the body to return. True when it has ended (the
  // thread is joined); false when it is still running.
  bool Join(int timeout_ms);
  // The same, waiting through a sleeper: a fake clock sees the wait end when
  // the body returns, and lets time go on meanwhile only while every thread
  // it knows waits (the one joined may have a sleep to finish).
  bool Join(int timeout_ms, Sleeper& sleeper);
  // RequestStop + Join; a thread that does not end in time is detached and
  // reported on stderr. Returns true when the thread ended by itself.
  bool Stop(int timeout_ms);

 private:
  struct Shared {
    std::shared_ptr<std::atomic<bool>> stop = std::make_shared<std::atomic<bool>>(false);
    std::mutex mutex;
    std::condition_variable cv;
    bool finished = false;  // guarded by mutex
    Event done{Event::Mode::ManualReset};  // set once finished is
  };

  std::string name_;
  // Running() may be asked from any thread while the owner starts or joins:
  // control_ guards thread_ and shared_ (never held while waiting).
  mutable std::mutex control_;
  std::shared_ptr<Shared> shared_;
  std::thread thread_;
};

}  // namespace platform
