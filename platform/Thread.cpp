#include "platform/Thread.h"

#include <chrono>
#include <cstdio>

#include "platform/Sleeper.h"

namespace platform {

WorkerThread::WorkerThread(std::string name) : name_(std::move(name)) {}

WorkerThread::~WorkerThread() {
  bool joinable;
  {
    std::lock_guard control(control_);
    joinable = thread_.joinable();
  }
  if (joinable) Stop(500);
}

bool WorkerThread::Start(Body body) {
  std::lock_guard control(control_);
  if (thread_.joinable()) return false;
  auto shared = std::make_shared<Shared>();
  try {
    thread_ = std::thread([shared, body = std::move(body)] {
      body(StopToken(shared->stop));
      {
        std::lock_guard lock(shared->mutex);
        shared->finished = true;
        shared->cv.notify_all();
      }
      shared->done.Set();
    });
  } catch (const std::system_error&) {
    return false;
  }
  shared_ = std::move(shared);
  return true;
}

bool WorkerThread::Running() const {
  std::shared_ptr<Shared> shared;
  {
    std::lock_guard control(control_);
    if (!thread_.joinable()) return false;
    shared = shared_;
  }
  std::lock_guard lock(shared->mutex);
  return !shared->finished;
}

void WorkerThread::RequestStop() {
  std::lock_guard control(control_);
  if (shared_) shared_->stop->store(true, std::memory_order_release);
}

bool WorkerThread::Join(int timeout_ms) {
  std::shared_ptr<Shared> shared;
  {
    std::lock_guard control(control_);
    if (!thread_.joinable()) return true;
    shared = shared_;
  }
  {
    std::unique_lock lock(shared->mutex);
    auto done = [&] { return shared->finished; };
    if (timeout_ms < 0) {
      shared->cv.wait(lock, done);
    } else if (!shared->cv.wait_for(lock, std::chrono::milliseconds(timeout_ms), done)) {
      return false;
    }
  }
  std::lock_guard control(control_);
  // The body has returned; another Join may have joined it meanwhile.
  if (thread_.joinable() && shared_ == shared) thread_.join();
  return true;
}

bool WorkerThread::Join(int timeout_ms, Sleeper& sleeper) {
  std::shared_ptr<Shared> shared;
  {
    std::lock_guard control(control_);
    if (!thread_.joinable()) return true;
    shared = shared_;
  }
  if (!sleeper.WaitFor(shared->done, timeout_ms)) return false;
  std::lock_guard control(control_);
  // The body has returned; another Join may have joined it meanwhile.
  if (thread_.joinable() && shared_ == shared) thread_.join();
  return true;
}

bool WorkerThread::Stop(int timeout_ms) {
  RequestStop();
  if (Join(timeout_ms)) return true;
  std::fprintf(stderr, "dravik: thread '%s' did not stop within %d ms; detached\n", name_.c_str(),
               timeout_ms);
  std::lock_guard control(control_);
  if (thread_.joinable()) thread_.detach();
  return false;
}

}  // namespace platform
