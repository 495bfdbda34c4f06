// The playback clock on a fake sleeper: waits per speed, audio pacing, step,
// second play, markers, progress notices; and the time-stamp list's order.
#include "engine/ACPlayClock.h"

#include <gtest/gtest.h>

#include <mutex>
#include <span>
#include <thread>
#include <vector>

#include "engine/EngineGlobals.h"

namespace {

using namespace engine;

struct FakeSleeper : platform::Sleeper {
  std::vector<uint32_t> sleeps;
  void SleepMs(uint32_t ms) override { sleeps.push_back(ms); }
  bool WaitFor(platform::Event&, int ms) override {
    sleeps.push_back(static_cast<uint32_t>(ms));
    return false;
  }
  // Waits for events (a state, a time stamp) do not pace: they look once.
  int WaitForAny(std::span<platform::Event* const> events, int) override { return platform::Event::WaitAny(events, 0); }
};

struct RecordingTarget : ClockTarget {
  struct Call {
    int64_t clock;
    int step;
    int speed;
    bool backward;
  };
  std::vector<Call> calls;
  int one_frame = -1, push_frame = -1;
  void CurDTS(int64_t clock_ms, int step_ms, int speed, bool backward) override {
    calls.push_back({clock_ms, step_ms, speed, backward});
  }
  void OneFrame(int on) override { one_frame = on; }
  void PushFrame(int on) override { push_frame = on; }
};

struct RecordingSink : platform::MessageSink {
  std::mutex mutex;
  std::vector<std::pair<platform::MsgParam, platform::MsgParam>> progress;
  void Post(uint32_t message, platform::MsgParam first, platform::MsgParam second) override {
    std::lock_guard lock(mutex);
    if (message == platform::msg::kProgress) progress.emplace_back(first, second);
  }
  platform::MsgParam Send(uint32_t, platform::MsgParam, platform::MsgParam) override { return 0; }
};

struct FakeAudio : AudioClock {
  int64_t position = 0;
  int speed = 0;
  bool paused = false;
  void SetSpeed(int s) override { speed = s; }
  int64_t Position() override { return position; }
  void Pause() override { paused = true; }
  void Resume() override { paused = false; }
};

class Clock : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetAllSourceEvents();
    SourceActiveEvent(SourceKind::Qvv).Set();
    clock_.Attach(&target_, nullptr);
  }
  void TearDown() override { ResetAllSourceEvents(); }
  void Run(int passes) {
    for (int i = 0; i < passes; ++i) clock_.RunPass(0);
  }
  FakeSleeper sleeper_;
  RecordingTarget target_;
  RecordingSink sink_;
  ACPlayClock clock_{&sink_, &sleeper_};
};

TEST_F(Clock, FortyMillisecondStepsWaitScaledBySpeed) {
  for (auto [speed, expected] : {std::pair{16, 40u}, std::pair{32, 20u}, std::pair{256, 3u}, std::pair{1, 640u}}) {
    SCOPED_TRACE(speed);
    clock_.Clear();
    sleeper_.sleeps.clear();
    clock_.SetSpeed(speed);
    clock_.SetState(kStatePlay);
    for (int i = 0; i < 4; ++i) ASSERT_EQ(clock_.AddDTS(1000 + 40 * i, 0, 0), 1);
    Run(4);
    ASSERT_EQ(sleeper_.sleeps.size(), 3u);
    for (uint32_t s : sleeper_.sleeps) EXPECT_EQ(s, expected);
    clock_.AddDTS(0, 0, 0);
    clock_.SetState(kStateHalt);  // the next speed starts from a fresh clock
    Run(1);
  }
}

TEST_F(Clock, GapsOfTwentyMillisecondsOrLessAreNotWaitedForButAccumulate) {
  clock_.SetState(kStatePlay);
  for (int i = 0; i < 6; ++i) clock_.AddDTS(1000 + 10 * i, 0, 0);
  Run(6);
  // 10, 20 (not waited), 30 ms behind the last wait: waited.
  EXPECT_EQ(sleeper_.sleeps, (std::vector<uint32_t>{30}));
  ASSERT_EQ(target_.calls.size(), 6u);
  EXPECT_EQ(target_.calls.back().clock, 1050);
}

TEST_F(Clock, AudioPositionPacesTheClock) {
  FakeAudio audio;
  clock_.Attach(&target_, &audio);
  clock_.SetState(kStatePlay);
  clock_.AddDTS(1000, 0, 0);
  clock_.AddDTS(1400, 0, 0);
  clock_.AddDTS(1800, 0, 0);
  audio.position = 1500;  // ahead of 1400: no wait
  Run(2);
  EXPECT_TRUE(sleeper_.sleeps.empty());
  audio.position = 1700;  // 100 ms short of 1800
  Run(1);
  EXPECT_EQ(sleeper_.sleeps, (std::vector<uint32_t>{100}));
  EXPECT_EQ(audio.speed, 16);
  clock_.SetState(kStatePause);
  Run(1);
  EXPECT_TRUE(audio.paused);
  EXPECT_EQ(target_.push_frame, 1);
}

TEST_F(Clock, StepAdvancesAtLeastThirtyMilliseconds) {
  for (int i = 0; i < 8; ++i) clock_.AddDTS(1000 + 10 * i, 0, 0);
  clock_.SetState(kStateStep);
  Run(1);
  ASSERT_EQ(target_.calls.size(), 1u);
  EXPECT_EQ(target_.one_frame, 1);
  clock_.SetState(kStateStep);
  Run(1);
  ASSERT_EQ(target_.calls.size(), 2u);
  EXPECT_EQ(target_.calls[1].clock - target_.calls[0].clock, 30) << "three entries of 10 ms";
  Run(3);  // a step is one-shot
  EXPECT_EQ(target_.calls.size(), 2u);
}

TEST_F(Clock, SecondPlayWaitsFortyMillisecondsPerRecordedSecond) {
  clock_.SetState(kStateSecondPlay);
  clock_.AddDTS(1000, 0, 0);
  clock_.AddDTS(1040, 0, 0);
  clock_.AddDTS(3540, 0, 0);
  Run(3);
  EXPECT_EQ(sleeper_.sleeps, (std::vector<uint32_t>{80})) << "no wait for the first second";
}

TEST_F(Clock, MarkersProgressNoticesAndHalt) {
  clock_.SetState(kStatePlay);
  clock_.AddDTS(-1, 0, 0);
  clock_.AddDTS(1999, 1999000, 0);
  clock_.AddDTS(2000, 2000000, 0);
  clock_.AddDTS(2999, 2999000, 0);
  clock_.AddDTS(3000, 3000000, 0);
  Run(5);
  ASSERT_EQ(sink_.progress.size(), 4u);
  EXPECT_EQ(sink_.progress[0].second, -1);
  EXPECT_EQ(sink_.progress[1], std::make_pair(platform::MsgParam{1999}, platform::MsgParam{2}));
  EXPECT_EQ(sink_.progress[2], std::make_pair(platform::MsgParam{2000}, platform::MsgParam{4})) << "once at 2000";
  EXPECT_EQ(sink_.progress[3].second, 6) << "not again before 3000";
  clock_.AddDTS(4500, 4500000, 1);  // backward at 4.5 s
  clock_.AddDTS(-3, 9000000, 0);
  Run(2);
  EXPECT_EQ(sink_.progress[4].second, 1 + 2 * 4);
  EXPECT_EQ(sink_.progress[5], std::make_pair(platform::MsgParam{9000}, platform::MsgParam{-3}));
  // Halt: one more time stamp, reported as 0.
  clock_.AddDTS(5000, 0, 0);
  clock_.SetState(kStateHalt);
  Run(1);
  EXPECT_EQ(target_.calls.back().clock, 0);
  // 7 leaves no state signalled: nothing is taken.
  clock_.AddDTS(6000, 0, 0);
  clock_.SetState(7);
  const size_t calls = target_.calls.size();
  Run(3);
  EXPECT_EQ(target_.calls.size(), calls);
}

// Time that moves only by the clock's own sleeps and by the work a target
// says it did.
struct SteppedTime : platform::TimeSource, platform::Sleeper {
  uint32_t now = 1000;
  std::vector<uint32_t> sleeps;
  uint32_t TickCount() override { return now; }
  void SleepMs(uint32_t ms) override { now += ms; }
  bool WaitFor(platform::Event&, int ms) override {
    sleeps.push_back(static_cast<uint32_t>(ms));
    now += static_cast<uint32_t>(ms);
    return false;
  }
  int WaitForAny(std::span<platform::Event* const> events, int) override { return platform::Event::WaitAny(events, 0); }
};

struct BusyTarget : RecordingTarget {
  SteppedTime* time = nullptr;
  uint32_t work_ms = 3;  // what showing a time stamp costs
  std::vector<uint32_t> shown_at;
  void CurDTS(int64_t clock_ms, int step_ms, int speed, bool backward) override {
    RecordingTarget::CurDTS(clock_ms, step_ms, speed, backward);
    shown_at.push_back(time->now);
    time->now += work_ms;
  }
};

TEST(ClockSchedule, ItsOwnWorkIsTakenFromTheNextWaitButAStallIsNotCaughtUp) {
  ResetAllSourceEvents();
  SourceActiveEvent(SourceKind::Qvv).Set();
  SteppedTime time;
  BusyTarget target;
  target.time = &time;
  ACPlayClock clock(nullptr, &time, &time);
  clock.Attach(&target, nullptr);
  clock.SetState(kStatePlay);
  for (int i = 0; i < 4; ++i) clock.AddDTS(40 * i, 0, 0);
  for (int i = 0; i < 4; ++i) clock.RunPass(0);
  EXPECT_EQ(time.sleeps, (std::vector<uint32_t>{40, 37, 37})) << "3 ms of work each time";
  EXPECT_EQ(target.shown_at, (std::vector<uint32_t>{1000, 1043, 1083, 1123})) << "40 ms apart once on schedule";
  // A stall longer than a short gap (the reader had nothing for 100 ms):
  // the clock starts afresh instead of rushing through the next pictures.
  time.now += 100;
  time.sleeps.clear();
  for (int i = 4; i < 6; ++i) clock.AddDTS(40 * i, 0, 0);
  for (int i = 0; i < 2; ++i) clock.RunPass(0);
  EXPECT_EQ(time.sleeps, (std::vector<uint32_t>{40, 37}));
  ResetAllSourceEvents();
}

TEST_F(Clock, ARecordingThatStartsAtZeroIsPacedFromItsFirstPicture) {
  clock_.SetState(kStatePlay);
  EXPECT_EQ(clock_.base(), ACPlayClock::Base::kNone);
  for (int i = 0; i < 3; ++i) clock_.AddDTS(40 * i, 0, 0);
  Run(3);
  EXPECT_EQ(clock_.base(), ACPlayClock::Base::kSet);
  EXPECT_EQ(sleeper_.sleeps, (std::vector<uint32_t>{40, 40})) << "0 is a time, not 'no base'";
}

TEST_F(Clock, AStepStopsAtEachMarkerAndNeverHalts) {
  for (int64_t marker : {-1, -2, -3}) {
    SCOPED_TRACE(marker);
    clock_.Clear();
    target_.calls.clear();
    clock_.SetState(kStateRestart);  // no base
    clock_.AddDTS(1000, 0, 0);
    Run(1);
    // 1010 is not 30 ms on: the step would take more, but the marker ends it.
    clock_.AddDTS(1010, 0, 0);
    clock_.AddDTS(marker, 0, 0);
    clock_.SetState(kStateStep);
    Run(1);
    ASSERT_EQ(target_.calls.size(), 2u);
    EXPECT_EQ(target_.calls[1].clock, 1010);
    EXPECT_EQ(clock_.base(), ACPlayClock::Base::kSet) << "not left halted";
    clock_.SetState(kStateStep);
    Run(1);
    ASSERT_EQ(target_.calls.size(), 3u);
    EXPECT_EQ(target_.calls[2].clock, marker) << "the marker is handed out on its own";
    EXPECT_NE(clock_.base(), ACPlayClock::Base::kHalted);
  }
}

TEST_F(Clock, HaltReportsZeroUntilPlayClearsIt) {
  clock_.SetState(kStatePlay);
  clock_.AddDTS(1000, 0, 0);
  Run(1);
  clock_.AddDTS(1040, 0, 0);
  clock_.SetState(kStateHalt);
  Run(1);
  EXPECT_EQ(clock_.base(), ACPlayClock::Base::kHalted);
  EXPECT_EQ(target_.calls.back().clock, 0);
  clock_.AddDTS(1080, 0, 0);
  clock_.AddDTS(1120, 0, 0);
  clock_.SetState(kStatePlay);
  sleeper_.sleeps.clear();
  Run(2);
  EXPECT_EQ(target_.calls.back().clock, 1120);
  EXPECT_EQ(sleeper_.sleeps, (std::vector<uint32_t>{40})) << "paced from the first time after the halt";
}

TEST(ClockThread, RestartsAfterAStopAndStopsWhileWaitingForAState) {
  ResetAllSourceEvents();
  SourceActiveEvent(SourceKind::Qvv).Set();
  RecordingTarget target;
  ACPlayClock clock(nullptr);  // the millisecond sleeper
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    ASSERT_TRUE(clock.Start(&target, nullptr));
    clock.SetState(kStateRestart);
    for (int i = 0; i < 3; ++i) ASSERT_EQ(clock.AddDTS(100 * round + 30 * i, 0, 0), 1);
    // Stop comes while the clock may wait for a state or pace: it ends either way.
    while (clock.base() != ACPlayClock::Base::kSet) std::this_thread::yield();
    EXPECT_TRUE(clock.Stop());
  }
  ResetAllSourceEvents();
}

TEST_F(Clock, InputWhileNoSourceIsActiveIsAcknowledgedAndDropped) {
  ResetAllSourceEvents();
  EXPECT_EQ(clock_.AddDTS(1000, 0, 0), 1);
  clock_.SetState(kStatePlay);
  Run(2);
  EXPECT_TRUE(target_.calls.empty());
}

TEST(ACDTSList, OrdersTimesFromTheFirstNewFileMarker) {
  ACDTSList list;
  ObjectLock lock(list);
  for (int64_t t : {5, 3, 4, -1, 2, 1}) ASSERT_TRUE(list.Insert(t, 0, 0));
  std::vector<int64_t> order;
  DtsEntry e;
  while (list.TakeHead(e)) order.push_back(e.time);
  EXPECT_EQ(order, (std::vector<int64_t>{3, 4, 5, -1, 1, 2}));
  // Equal times keep their arrival order; 150 entries, then full.
  for (int i = 0; i < ACDTSList::kCapacity; ++i) ASSERT_TRUE(list.Insert(100, i, 0));
  EXPECT_FALSE(list.Insert(100, 999, 0));
  for (int i = 0; i < ACDTSList::kCapacity; ++i) {
    ASSERT_TRUE(list.TakeHead(e));
    EXPECT_EQ(e.position, i);
  }
}

TEST(ACDTSList, BackwardGroupsComeOutRising) {
  // Groups read backwards: times fall within a group and rise from one to the next.
  ACDTSList list;
  ObjectLock lock(list);
  for (int64_t t : {180, 140, 100}) list.Insert(t, 0, 1);  // group A
  for (int64_t t : {260, 220, 200}) list.Insert(t, 0, 1);  // group B
  std::vector<int64_t> order;
  DtsEntry e;
  while (list.TakeHead(e)) order.push_back(e.time);
  EXPECT_EQ(order, (std::vector<int64_t>{100, 140, 180})) << "group B is still being read";
  list.Insert(-3, 0, 1);
  while (list.TakeHead(e)) order.push_back(e.time);
  EXPECT_EQ(order, (std::vector<int64_t>{100, 140, 180, 200, 220, 260, -3}));
}

TEST(ACDTSList, AClockAheadOfTheReaderWaitsForTheBackwardGroupToEnd) {
  // The clock takes whatever is ready as each time arrives. Had it taken a
  // group's first (highest) time at once, the group's last picture would wait
  // for a clock that had already gone by.
  ACDTSList list;
  ObjectLock lock(list);
  std::vector<int64_t> order;
  DtsEntry e;
  for (int64_t t : {1960, 1920, 1880, 2000, 1980, -3}) {
    list.Insert(t, 0, 1);
    while (list.TakeHead(e)) order.push_back(e.time);
  }
  EXPECT_EQ(order, (std::vector<int64_t>{1880, 1920, 1960, 1980, 2000, -3}));
  // Forward times are handed out as they come.
  list.Insert(40, 0, 0);
  ASSERT_TRUE(list.TakeHead(e));
  EXPECT_EQ(e.time, 40);
}

TEST(ACDTSList, ABackwardGroupLongerThanTheListIsHandedOutRatherThanWaitedFor) {
  ACDTSList list;
  ObjectLock lock(list);
  DtsEntry e;
  for (int i = 0; i < ACDTSList::kCapacity; ++i) {
    EXPECT_FALSE(list.TakeHead(e)) << i;
    ASSERT_TRUE(list.Insert(10000 - i, 0, 1));
  }
  ASSERT_TRUE(list.TakeHead(e)) << "full: the reader could not go on";
  EXPECT_EQ(e.time, 10000 - ACDTSList::kCapacity + 1);
  EXPECT_FALSE(list.TakeHead(e)) << "room again: the group waits for its end";
}

}  // namespace
