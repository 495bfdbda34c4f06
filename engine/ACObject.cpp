#include "engine/ACObject.h"

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include "platform/TickCount.h"

namespace engine {
namespace {
std::atomic<uint32_t> g_serial_counter{0};
constexpr int kLockPollMs = 100;
}  // namespace

ACObject::ACObject() : serial_(++g_serial_counter) {}

ACObject::~ACObject() = default;

uint32_t ACObject::AddRef() {
  std::lock_guard lock(count_lock_);
  return ++ref_count_;
}

uint32_t ACObject::Release() {
  count_lock_.Enter();
  if (ref_count_ == 0) {
    count_lock_.Leave();
    return 0;
  }
  if (ref_count_ == 1) {
    ref_count_ = 0;
    count_lock_.Leave();
    delete this;
    return 0;
  }
  const uint32_t count = --ref_count_;
  count_lock_.Leave();
  return count;
}

int ACObject::IsReady(int* ready) {
  if (ready) *ready = 1;
  return 1;
}

uint32_t ACObject::RefCount() const {
  std::lock_guard lock(count_lock_);
  return ref_count_;
}

int ACObject::Lock(int timeout_ms) {
  if (timeout_ms == -1) {
    object_lock_.Enter();
    return 1;
  }
  if (object_lock_.TryEnter()) return 1;
  if (timeout_ms <= 0) return 0;
  const uint32_t start = platform::TickCount32();
  for (;;) {
    std::this_thread::sleep_for(std::chrono::milliseconds(kLockPollMs));
    if (object_lock_.TryEnter()) return 1;
    if (platform::TicksSince(start, platform::TickCount32()) >= static_cast<uint32_t>(timeout_ms)) return 0;
  }
}

void ACObject::Unlock() { object_lock_.Leave(); }

}  // namespace engine
