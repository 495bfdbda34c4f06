#pragma once
// Time seams: the clock and the play loop take these so tests can run them on a
// fake clock deterministically; production uses the real ones.
#include <cstdint>
#include <span>

#include "platform/Event.h"

namespace platform {

class Sleeper {
 public:
  virtual ~Sleeper() = default;
  virtual void SleepMs(uint32_t ms) = 0;
  // A timed wait for an event (kInfinite: no time-out); true when signalled.
  // Threads paced by a sleeper wait through it, so a fake clock sees them.
  virtual bool WaitFor(Event& event, int timeout_ms) { return event.Wait(timeout_ms); }
  // The same for several events: the index of the one that ended the wait
  // (the lowest signalled), or kWaitTimeout.
  virtual int WaitForAny(std::span<Event* const> events, int timeout_ms) { return Event::WaitAny(events, timeout_ms); }
  // Brackets a wait the sleeper cannot see (a join of threads that wait
  // through it): a fake clock lets time go on for the others meanwhile rather
  // than hold it for this thread. Use BlockingCall.
  virtual void EnterBlocking() {}
  virtual void LeaveBlocking() {}
};

// Announces the enclosed wait to the sleeper for the scope's lifetime.
class BlockingCall {
 public:
  explicit BlockingCall(Sleeper& sleeper) : sleeper_(sleeper) { sleeper_.EnterBlocking(); }
  ~BlockingCall() { sleeper_.LeaveBlocking(); }
  BlockingCall(const BlockingCall&) = delete;
  BlockingCall& operator=(const BlockingCall&) = delete;

 private:
  Sleeper& sleeper_;
};

class TimeSource {
 public:
  virtual ~TimeSource() = default;
  virtual uint32_t TickCount() = 0;  // 32-bit milliseconds, wrapping
};

// The real ones: monotonic clock and nanosleep.
class SystemTimeSource final : public TimeSource {
 public:
  uint32_t TickCount() override;
};

class SystemSleeper final : public Sleeper {
 public:
  void SleepMs(uint32_t ms) override;
};

}  // namespace platform
