#pragma once
// A fake clock for multi-threaded code: time stands still while any thread
// that uses the clock is working, and jumps to the earliest deadline once
// every one of them waits on it (a sleep, or an event wait with a time-out).
// Measured on it, a playback's timing does not depend on how fast or how
// loaded the machine is. A thread becomes a participant with its first wait
// and stops being one when it ends. A participant that blocks on something
// the clock cannot see (a join, a real sleep) would stop time for ever: when
// nothing has changed for a while and no other thread of the process is
// running (the kernel's task states say so), time moves on anyway.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
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

  uint64_t Now() const;
  // Makes the calling thread a participant before its first wait (time then
  // waits for it), or ends that.
  void Participate();
  void Leave() { Forget(std::this_thread::get_id()); }
  // How many times time was moved on for a participant blocked on something
  // the clock cannot see.
  uint64_t GraceAdvances() const;
  void Forget(std::thread::id thread);  // the thread ended

 private:
  struct Participant {
    bool waiting = false;
    uint64_t deadline = 0;
    platform::Event* event = nullptr;  // waited for, or null for a sleep
    long tid = 0;                      // the kernel's thread id
  };
  Participant& Self();  // with mutex_ held
  void Changed();       // with mutex_ held
  void AdvanceLoop();

  mutable std::mutex mutex_;
  std::condition_variable cv_;
  std::map<std::thread::id, Participant> participants_;
  uint64_t now_ = 0;
  uint64_t changes_ = 0;
  uint64_t grace_advances_ = 0;
  bool quit_ = false;
  std::thread advancer_;
};

}  // namespace testing_support
