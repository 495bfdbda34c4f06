#pragma once
// A fake clock for multi-threaded code: time stands still while any thread
// that uses the clock is working, and jumps to the earliest deadline once
// every one of them waits on it (a sleep, or an event wait with a time-out).
// Measured on it, a playback's timing does not depend on how fast or how
// loaded the machine is. A thread becomes a participant with its first wait
// and stops being one when it ends.
//
// The clock knows only what its participants tell it. A participant inside a
// platform::BlockingCall (a join) counts as waiting with no deadline of its
// own, so time goes on for the others. Any other wait the clock cannot see
// (a real sleep, a join not announced) counts as work and holds time: the
// clock never guesses from the machine whether a thread is busy.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <span>
#include <thread>

#include "platform/Sleeper.h"

namespace testing_support {

class FakeClock final : public platform::TimeSource, public platform::Sleeper {
 public:
  FakeClock();
  ~FakeClock() override;
  FakeClock(const FakeClock&) = delete;
  FakeClock& operator=(const FakeClock&) = delete;

  uint32_t TickCount() override;
  void SleepMs(uint32_t ms) override;
  bool WaitFor(platform::Event& event, int timeout_ms) override;
  int WaitForAny(std::span<platform::Event* const> events, int timeout_ms) override;
  // Only for participants: a thread that never waited on the clock holds no
  // time, blocked or not.
  void EnterBlocking() override;
  void LeaveBlocking() override;

  uint64_t Now() const;
  // Makes the calling thread a participant before its first wait (time then
  // waits for it), or ends that.
  void Participate();
  void Leave() { Forget(std::this_thread::get_id()); }
  void Forget(std::thread::id thread);  // the thread ended

 private:
  // Real time without a change before the clock reports on stderr who holds
  // it. The report changes nothing: a wait left unannounced is a hang.
  static constexpr std::chrono::seconds kStallReport{20};

  struct Participant {
    bool waiting = false;
    uint64_t deadline = 0;
    std::span<platform::Event* const> events;  // waited for; empty for a sleep
    int blocked = 0;                   // BlockingCall scopes entered
    long tid = 0;                      // the kernel's thread id, for the stall report
  };
  Participant& Self();  // with mutex_ held
  void Changed();       // with mutex_ held
  void AdvanceLoop();
  void ReportStall();   // with mutex_ held

  mutable std::mutex mutex_;
  std::condition_variable cv_;
  std::map<std::thread::id, Participant> participants_;
  uint64_t now_ = 0;
  uint64_t changes_ = 0;
  bool quit_ = false;
  std::thread advancer_;
};

}  // namespace testing_support
