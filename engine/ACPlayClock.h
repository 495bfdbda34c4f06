#pragma once
// The playback clock: hands out the recording's picture time stamps at the
// pace of real time, the speed (sixteenths: 16 is normal) and the audio
// position, tells the filter the clock time (CurDTS), carries out play, pause,
// step, "second play", restart and halt, and reports the position once a second.
//
// Its pace is measured from a base: the time stamp of the last wait. "No base
// yet" (after a start, a restart, a new file), "halted" (the stop button:
// times are reported as 0) and "stepping" are states of their own, so a
// recording whose first picture is at time 0 is paced like any other.
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
  static constexpr int kStopWaitMs = 2000;
  static constexpr int kStartWaitMs = 2000;  // for the thread to come up

  // owner receives the progress notices (may be null). sleeper: null for the
  // millisecond sleeper; time: null for the system's; fakes for tests (they
  // must outlive the thread).
  explicit ACPlayClock(platform::MessageSink* owner, platform::Sleeper* sleeper = nullptr,
                       platform::TimeSource* time = nullptr);
  ~ACPlayClock();
  ACPlayClock(const ACPlayClock&) = delete;
  ACPlayClock& operator=(const ACPlayClock&) = delete;

  // Starts the clock thread and returns once it runs (a fake sleeper knows it
  // then). False without a filter, when a thread runs for another filter, or
  // when the last one has not ended yet.
  bool Start(ClockTarget* filter, AudioClock* audio);
  // Stops the thread; false (reported) when it did not end within kStopWaitMs.
  bool Stop();
  // 1 taken (or dropped while no source is active), 0 when the list is full.
  int AddDTS(int64_t time, int64_t position, uint32_t backward);
  void SetState(int state);
  void SetSpeed(int speed);
  void Clear();

  // One pass of the clock thread; tests call it directly (no thread) with a
  // fake sleeper. wait_ms: how long to wait for a state event.
  void RunPass(int wait_ms);
  // Sets the filter and audio player for RunPass without a thread.
  void Attach(ClockTarget* filter, AudioClock* audio);

  enum class Base { kNone, kSet, kHalted };
  Base base() const;

 private:
  struct Core;
  std::shared_ptr<Core> core_;
  platform::WorkerThread thread_{"clock"};
};

}  // namespace engine
