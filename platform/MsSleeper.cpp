#include "platform/MsSleeper.h"

#include <cerrno>
#include <ctime>

#include "platform/TickCount.h"

namespace platform {
namespace {

constexpr int64_t kNsPerMs = 1000000;

int64_t MonotonicNs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

void SleepUntilNs(int64_t deadline_ns) {
  timespec ts{};
  ts.tv_sec = deadline_ns / 1000000000;
  ts.tv_nsec = deadline_ns % 1000000000;
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
  }
}

void PlainSleepMs(uint32_t ms) { SleepUntilNs(MonotonicNs() + static_cast<int64_t>(ms) * kNsPerMs); }

}  // namespace

uint32_t SystemTimeSource::TickCount() { return TickCount32(); }

void SystemSleeper::SleepMs(uint32_t ms) {
  if (ms != 0) PlainSleepMs(ms);
}

int MsSleeper::Start() {
  origin_ns_.store(MonotonicNs());
  running_.store(true, std::memory_order_release);
  return 1;
}

void MsSleeper::Stop() { running_.store(false, std::memory_order_release); }

void MsSleeper::SleepMs(uint32_t ms) {
  if (ms == 0) return;
  if (!running_.load(std::memory_order_acquire)) {
    PlainSleepMs(ms);
    return;
  }
  // The countdown starts at ms - 1 and the wake-up comes on the tick that finds
  // it at 0: the (ms)th grid point after now.
  const int64_t now = MonotonicNs();
  const int64_t origin = origin_ns_.load();
  const int64_t ticks_done = (now - origin) / kNsPerMs;
  SleepUntilNs(origin + (ticks_done + static_cast<int64_t>(ms)) * kNsPerMs);
}

}  // namespace platform
