#pragma once
// The playback clock: hands out the recording's picture time stamps at the
// pace of real time, the speed (sixteenths: 16 is normal) and the audio
// position, tells the filter the clock time (CurDTS), carries out play, pause,
// step, "second play", restart and halt, and reports the position once a second.
#include <array>
#include <atomic>
#include <cstdint>
#include <memory>

#include "engine/ACDTSList.h"
#include "engine/ClockInterfaces.h"
#include "platform/Event.h"
#include "platform/MessageSink.h"
#include "platform/MsSleeper.h"
#include "platform/Thread.h"

namespace engine {

enum ClockState : int {
  kStatePlay = 0,
  kStateResume = 1,
  kStateSecondPlay = 2,
  kStateStep = 3,
  kStatePause = 4,
  kStateRestart = 5,
  kStateHalt = 6,
};

class ACPlayClock {
 public:
  static constexpr int kMaxWaitMs = 640;   // of recording time per time stamp
  static constexpr int kMinWaitMs = 20;    // shorter gaps are not waited for
  static constexpr int kStepMs = 30;       // a single step advances at least this far

  // owner receives the progress notices (may be null). sleeper: null for the
  // millisecond sleeper, or a fake for tests.
  explicit ACPlayClock(platform::MessageSink* owner, platform::Sleeper* sleeper = nullptr);
  ~ACPlayClock();
  ACPlayClock(const ACPlayClock&) = delete;
  ACPlayClock& operator=(const ACPlayClock&) = delete;

  // Starts the clock thread (unless it runs); false without a filter.
  bool Start(ClockTarget* filter, AudioClock* audio);
  void Stop();
  // 1 taken (or dropped while no source is active), 0 when the list is full.
  int AddDTS(int64_t time, int64_t position, uint32_t backward);
  void SetState(int state);
  void SetSpeed(int speed) { stored_speed_.store(speed); }
  void Clear();

  // One pass of the clock thread; tests call it directly (no thread) with a
  // fake sleeper. wait_ms: how long to wait for a state event.
  void RunPass(int wait_ms);
  void Attach(ClockTarget* filter, AudioClock* audio) {
    filter_ = filter;
    audio_ = audio;
  }

 private:
  void Report(const DtsEntry& entry, int64_t time);
  void Pace(int64_t ms);
  static int ValidSpeed(int speed);

  platform::MessageSink* owner_;
  platform::MsSleeper own_sleeper_;
  platform::Sleeper* sleeper_;
  ClockTarget* filter_ = nullptr;
  AudioClock* audio_ = nullptr;
  std::array<std::unique_ptr<platform::Event>, 7> states_;
  ACDTSList list_;
  std::atomic<int> stored_speed_{16};
  platform::WorkerThread thread_{"clock"};
  platform::Event stop_wake_{platform::Event::Mode::ManualReset};

  // Owned by the clock thread (or the test driving RunPass).
  int speed_ = 16;
  int64_t last_time_ = 0;
  int last_step_ = 0;
  int64_t last_posted_second_ = -1;
  bool step_ = false;
  bool second_play_ = false;
};

}  // namespace engine
