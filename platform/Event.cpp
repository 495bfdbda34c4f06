#include "platform/Event.h"

#include <algorithm>
#include <chrono>

namespace platform {

// One waiting thread. Set() marks it woken under its own mutex, so a wake-up that
// arrives between the waiter's check of the events and its sleep is never lost.
// Lock order: Event::mutex_ before Waiter::mutex.
struct Event::Waiter {
  std::mutex mutex;
  std::condition_variable cv;
  bool woken = false;
};

Event::Event(Mode mode, bool initially_set) : mode_(mode), signalled_(initially_set) {}

Event::~Event() = default;

void Event::Set() {
  std::lock_guard lock(mutex_);
  signalled_ = true;
  for (Waiter* w : waiters_) {
    std::lock_guard wl(w->mutex);
    w->woken = true;
    w->cv.notify_one();
  }
}

void Event::Reset() {
  std::lock_guard lock(mutex_);
  signalled_ = false;
}

bool Event::IsSet() const {
  std::lock_guard lock(mutex_);
  return signalled_;
}

bool Event::TryConsumeLocked() {
  if (!signalled_) return false;
  if (mode_ == Mode::AutoReset) signalled_ = false;
  return true;
}

bool Event::Wait(int timeout_ms) {
  Event* self = this;
  return WaitAny(std::span<Event* const>(&self, 1), timeout_ms) == 0;
}

int Event::WaitAny(std::span<Event* const> events, int timeout_ms) {
  auto try_all = [&]() -> int {
    for (size_t i = 0; i < events.size(); ++i) {
      std::lock_guard lock(events[i]->mutex_);
      if (events[i]->TryConsumeLocked()) return static_cast<int>(i);
    }
    return kWaitTimeout;
  };

  int hit = try_all();
  if (hit != kWaitTimeout || timeout_ms == 0 || events.empty()) return hit;

  Waiter waiter;
  for (Event* e : events) {
    std::lock_guard lock(e->mutex_);
    e->waiters_.push_back(&waiter);
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    {
      std::lock_guard wl(waiter.mutex);
      waiter.woken = false;
    }
    hit = try_all();
    if (hit != kWaitTimeout) break;
    std::unique_lock wl(waiter.mutex);
    if (timeout_ms < 0) {
      waiter.cv.wait(wl, [&] { return waiter.woken; });
    } else if (!waiter.cv.wait_until(wl, deadline, [&] { return waiter.woken; })) {
      wl.unlock();
      hit = try_all();  // a last look: a signal may have raced with the time-out
      break;
    }
  }
  for (Event* e : events) {
    std::lock_guard lock(e->mutex_);
    auto& ws = e->waiters_;
    ws.erase(std::remove(ws.begin(), ws.end(), &waiter), ws.end());
  }
  return hit;
}

}  // namespace platform
