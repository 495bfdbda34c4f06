#include "platform/Thread.h"

#include <chrono>
#include <cstdio>

namespace platform {

WorkerThread::WorkerThread(std::string name) : name_(std::move(name)) {}

WorkerThread::~WorkerThread() {
  if (thread_.joinable()) Stop(500);
}

bool WorkerThread::Start(Body body) {
  if (thread_.joinable()) return false;
  auto shared = std::make_shared<Shared>();
  try {
    thread_ = std::thread([shared, body = std::move(body)] {
      body(StopToken(shared->stop));
      std::lock_guard lock(shared->mutex);
      shared->finished = true;
      shared->cv.notify_all();
    });
  } catch (const std::system_error&) {
    return false;
  }
  shared_ = std::move(shared);
  return true;
}

bool WorkerThread::Running() const {
  if (!thread_.joinable()) return false;
  std::lock_guard lock(shared_->mutex);
  return !shared_->finished;
}

void WorkerThread::RequestStop() {
  if (shared_) shared_->stop->store(true, std::memory_order_release);
}

bool WorkerThread::Join(int timeout_ms) {
  if (!thread_.joinable()) return true;
  {
    std::unique_lock lock(shared_->mutex);
    auto done = [&] { return shared_->finished; };
    if (timeout_ms < 0) {
      shared_->cv.wait(lock, done);
    } else if (!shared_->cv.wait_for(lock, std::chrono::milliseconds(timeout_ms), done)) {
      return false;
    }
  }
  thread_.join();
  return true;
}

bool WorkerThread::Stop(int timeout_ms) {
  RequestStop();
  if (Join(timeout_ms)) return true;
  std::fprintf(stderr, "dravik: thread '%s' did not stop within %d ms; detached\n", name_.c_str(),
               timeout_ms);
  thread_.detach();
  return false;
}

}  // namespace platform
