#pragma once
// Win32-style events: manual-reset (stays signalled until reset, wakes every
// waiter) and auto-reset (a successful wait consumes the signal, one waiter wins).
// WaitAny waits on several events at once, as the reader threads do.
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <span>
#include <vector>

namespace platform {

inline constexpr int kInfinite = -1;
inline constexpr int kWaitTimeout = -1;

class Event {
 public:
  enum class Mode { ManualReset, AutoReset };

  explicit Event(Mode mode, bool initially_set = false);
  ~Event();
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;

  void Set();
  void Reset();
  // Peeks without consuming (also for auto-reset events).
  bool IsSet() const;

  // Waits up to timeout_ms (kInfinite: forever, 0: test only). True when signalled.
  bool Wait(int timeout_ms);

  // Waits until one of the events is signalled; returns its index (the lowest
  // signalled one), or kWaitTimeout.
  static int WaitAny(std::span<Event* const> events, int timeout_ms);

 private:
  struct Waiter;
  bool TryConsumeLocked();

  const Mode mode_;
  mutable std::mutex mutex_;
  bool signalled_;              // guarded by mutex_
  std::vector<Waiter*> waiters_;  // guarded by mutex_: threads inside WaitAny
};

}  // namespace platform
