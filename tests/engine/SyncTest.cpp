// Channels in step, on a fake clock: whole playbacks of real H.264 through the
// filter and the playback clock, where time moves only while every engine
// thread waits, so the measured skew is the engine's own and not the
// machine's. Also the rule that holds a picture until the clock reaches it,
// and that the pictures reaching a pane are the decoder's, whole and in order.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <latch>
#include <map>
#include <mutex>
#include <semaphore>
#include <span>
#include <thread>
#include <vector>

#include "QVVReader/ByteIO.h"
#include "QVVReader/QvvDemuxer.h"
#include "cli/play/QvvPlayback.h"
#include "engine/ACH264Decoder.h"
#include "engine/ACMovieFilter.h"
#include "engine/ACPlayClock.h"
#include "engine/EngineGlobals.h"
#include "platform/Thread.h"
#include "tests/support/FakeClock.h"
#include "tests/support/Process.h"
#include "tests/support/QvvSample.h"
#include "tests/support/TempDir.h"

namespace {

using testing_support::FakeClock;
using testing_support::TempDir;

TEST(FakeClock, TimeJumpsOnlyWhenEveryParticipantWaits) {
  FakeClock clock;
  platform::Event go(platform::Event::Mode::AutoReset);
  uint64_t woke_at = 0;
  bool signalled = false;
  std::latch joined(2);
  clock.Participate();  // time stands until both threads take part
  std::thread waiter([&] {
    clock.Participate();
    joined.count_down();
    signalled = clock.WaitFor(go, 1000);
    woke_at = clock.Now();
  });
  std::thread sleeper([&] {
    clock.Participate();
    joined.count_down();
    clock.SleepMs(40);
    go.Set();
    clock.SleepMs(5);
  });
  joined.wait();
  clock.Leave();
  sleeper.join();
  waiter.join();
  EXPECT_TRUE(signalled);
  EXPECT_EQ(woke_at, 40u) << "the event wakes its waiter before time moves on";
  EXPECT_EQ(clock.Now(), 45u);
  EXPECT_FALSE(clock.WaitFor(go, 0));
}

// The kernel sees a thread in a wait the clock does not know of as asleep;
// for the clock it is at work, however long it takes and however loaded the
// machine is.
TEST(FakeClock, AParticipantInAnUnannouncedWaitHoldsTime) {
  FakeClock clock;
  std::binary_semaphore release(0);
  std::atomic<bool> released{false};
  bool released_before_waking = false;
  std::latch joined(2);
  clock.Participate();
  std::thread worker([&] {
    clock.Participate();
    joined.count_down();
    release.acquire();  // to the clock: working
    released.store(true);
    clock.SleepMs(1);
  });
  std::thread sleeper([&] {
    clock.Participate();
    joined.count_down();
    clock.SleepMs(10);
    released_before_waking = released.load();
  });
  joined.wait();
  clock.Leave();
  // Time enough for a clock that guesses to move on: the result does not
  // depend on it.
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  release.release();
  worker.join();
  sleeper.join();
  EXPECT_TRUE(released_before_waking);
  EXPECT_EQ(clock.Now(), 10u);
}

// A join announced with BlockingCall lets time go on for the thread joined,
// which needs it to end. Nested calls count; out of them, the thread holds
// time again.
TEST(FakeClock, AnAnnouncedJoinLetsTimeGoOnForTheThreadJoined) {
  FakeClock clock;
  std::binary_semaphore release(0);
  std::atomic<bool> released{false};
  bool released_before_waking = false;
  uint64_t joined_at = 0;
  std::thread joiner([&] {
    clock.SleepMs(1);
    std::thread child([&] { clock.SleepMs(30); });
    {
      platform::BlockingCall outer(clock);
      { platform::BlockingCall inner(clock); }
      child.join();
    }
    joined_at = clock.Now();
    std::thread late([&] {
      clock.SleepMs(5);
      released_before_waking = released.load();
    });
    release.acquire();  // to the clock: working
    released.store(true);
    platform::BlockingCall joining(clock);
    late.join();
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));  // as above: the result does not depend on it
  release.release();
  joiner.join();
  EXPECT_EQ(joined_at, 31u);
  EXPECT_TRUE(released_before_waking);
  EXPECT_EQ(clock.Now(), 36u);
}

// A thread that waits on the clock with a short time-out again and again, as
// the play threads do while nothing comes: while every other participant
// waits, time moves in its steps.
class Ticker {
 public:
  explicit Ticker(FakeClock& clock) : clock_(clock) {
    std::latch in(1);
    thread_ = std::thread([&] {
      clock_.Participate();
      in.count_down();
      while (!clock_.WaitFor(stop_, 10)) {
      }
    });
    in.wait();
  }
  ~Ticker() {
    stop_.Set();
    thread_.join();  // woken by the event: needs no time
  }

 private:
  FakeClock& clock_;
  platform::Event stop_{platform::Event::Mode::ManualReset};
  std::thread thread_;
};

// Joined through the sleeper, a thread's end is seen by the clock: time goes
// on while it sleeps and stands from the moment its body returns, however
// late the joiner gets back to work.
TEST(FakeClock, AJoinThroughTheSleeperStopsTimeWhenTheThreadEnds) {
  for (int round = 0; round < 20; ++round) {
    SCOPED_TRACE(round);
    FakeClock clock;
    clock.Participate();
    Ticker ticker(clock);
    platform::WorkerThread worker("sleeping");
    std::latch in(1);
    ASSERT_TRUE(worker.Start([&](const platform::StopToken&) {
      clock.Participate();
      in.count_down();
      clock.SleepMs(45);
    }));
    in.wait();  // to the clock: working, until the worker takes part
    EXPECT_TRUE(worker.Join(1000, clock));
    EXPECT_EQ(clock.Now(), 45u);
    EXPECT_FALSE(worker.Running());
  }
}

// The playback clock's thread takes part before Start returns: time does not
// run on (here in the ticker's steps) while the thread is being started, so
// the first time stamp is handed out when playback starts.
TEST(PlayClockOnTheFakeClock, StartReturnsWithTheThreadTakingPart) {
  struct FirstCall : engine::ClockTarget {
    FakeClock* clock = nullptr;
    std::atomic<uint64_t> at{0};
    platform::Event called{platform::Event::Mode::ManualReset};
    void CurDTS(int64_t, int, int, bool) override {
      if (called.IsSet()) return;
      at.store(clock->Now());
      called.Set();
    }
    void OneFrame(int) override {}
    void PushFrame(int) override {}
  };
  engine::ResetAllSourceEvents();
  engine::SourceActiveEvent(engine::SourceKind::Qvv).Set();
  for (int round = 0; round < 20; ++round) {
    SCOPED_TRACE(round);
    FakeClock clock;
    clock.Participate();
    Ticker ticker(clock);
    FirstCall target;
    target.clock = &clock;
    engine::ACPlayClock play_clock(nullptr, &clock, &clock);
    ASSERT_EQ(play_clock.AddDTS(0, 0, 0), 1);
    play_clock.SetState(engine::kStatePlay);
    ASSERT_TRUE(play_clock.Start(&target, nullptr));
    ASSERT_TRUE(clock.WaitFor(target.called, 1000));
    EXPECT_EQ(target.at.load(), 0u);
    EXPECT_TRUE(play_clock.Stop());
  }
  engine::ResetAllSourceEvents();
}

class Sync : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir;
    file_ = new std::string(testing_support::MakeSampleQvv(DRAVIK_TOOL, dir_->path().string(), 12, 2));
    ASSERT_FALSE(file_->empty());
  }
  static void TearDownTestSuite() {
    delete file_;
    delete dir_;
  }

  std::vector<cli::ChannelReport> Play(int channels, bool reverse, int speed) {
    qvv::ByteIOContext* pb = qvv::url_open_file(file_->c_str(), qvv::kUrlReadOnly);
    EXPECT_NE(pb, nullptr);
    if (!pb) return {};
    qvv::QvvDemuxer demuxer;
    if (reverse) {
      EXPECT_EQ(demuxer.OpenReverse(pb, *file_), 0);
    } else {
      EXPECT_EQ(demuxer.Open(pb, *file_), 0);
      demuxer.ReadLeadingMetadata();
    }
    FakeClock clock;
    clock.Participate();  // the start of the playback, before this thread's first wait, holds time too
    cli::PlayOptions options;
    options.channels = channels;
    options.reverse = reverse;
    options.speed = speed;
    options.time = &clock;
    options.sleeper = &clock;
    auto reports = cli::PlayQvv(demuxer, options);
    qvv::url_fclose(pb);
    return reports;
  }

  static TempDir* dir_;
  static std::string* file_;
};
TempDir* Sync::dir_ = nullptr;
std::string* Sync::file_ = nullptr;

TEST_F(Sync, FourAndTwelveChannelsShowEveryPictureWithinFortyMilliseconds) {
  struct Case {
    int channels;
    bool reverse;
    int speed;
    int64_t min_ms, max_ms;  // from the first picture to the last: 1.96 s of recording at the speed
  };
  for (const Case c : {Case{4, false, 16, 1900, 2100}, Case{12, false, 16, 1900, 2100}, Case{4, true, 16, 1900, 2100},
                       Case{12, false, 64, 450, 600}}) {
    SCOPED_TRACE(testing::Message() << c.channels << " channels" << (c.reverse ? " backward" : "") << " speed "
                                    << c.speed);
    const auto reports = Play(c.channels, c.reverse, c.speed);
    ASSERT_EQ(reports.size(), static_cast<size_t>(c.channels));
    for (const auto& r : reports) {
      SCOPED_TRACE(testing::Message() << "channel " << r.channel);
      EXPECT_EQ(r.shown, 50) << "every picture";
      EXPECT_TRUE(r.order_ok);
      EXPECT_LE(r.max_skew_ms, 40);
      EXPECT_EQ(r.last - r.first, 1960);
      EXPECT_GE(r.played_ms, c.min_ms) << "the clock paced the pictures";
      EXPECT_LE(r.played_ms, c.max_ms);
    }
  }
}

// Records when (on the fake clock) each picture time stamp was shown.
struct ShownAt : engine::PictureObserver {
  explicit ShownAt(FakeClock& clock) : clock(clock) {}
  void OnPicture(int, int64_t time_ms, const uint8_t*, int width, int, const char* text) override {
    if (text || width == engine::ACMovieFilter::kBlankWidth) return;
    std::lock_guard lock(mutex);
    at.emplace(time_ms, clock.Now());
  }
  std::map<int64_t, uint64_t> Snapshot() {
    std::lock_guard lock(mutex);
    return at;
  }
  FakeClock& clock;
  std::mutex mutex;
  std::map<int64_t, uint64_t> at;
};

TEST_F(Sync, APictureWaitsForTheClockAndOneAtOrBehindItShowsAtOnce) {
  const auto packets = testing_support::ReadQvvVideoPackets(*file_);
  engine::ResetAllSourceEvents();
  engine::SourceActiveEvent(engine::SourceKind::Qvv).Set();
  FakeClock clock;
  clock.Participate();  // time stands while this thread feeds, so fed_at is when the pictures arrived
  ShownAt shown(clock);
  {
    engine::ACMovieFilter filter(&clock, &clock);
    filter.SetObserver(&shown);
    filter.InitFilter(nullptr);
    filter.CurDTS(200, 40, 16, false);
    // Channel 0, pictures at 0, 40, ... 400; the last one stays pending.
    int fed = 0;
    for (const auto& p : packets) {
      if (p.stream != 0) continue;
      ASSERT_EQ(filter.InputData(0, 7, p.pts_us / 1000, p.data.data(), static_cast<int>(p.data.size()), 160, 96, 0), 1);
      if (++fed == 11) break;
    }
    const uint64_t fed_at = clock.Now();
    clock.SleepMs(1000);
    auto at = shown.Snapshot();
    ASSERT_EQ(at.size(), 6u) << "0 .. 200 shown; 240 .. 360 wait for the clock (360 is 160 ms ahead, 400 pending)";
    EXPECT_EQ(at.rbegin()->first, 200);
    EXPECT_LE(at[0] - fed_at, 2u) << "behind the clock: at once";
    // Behind the clock the pictures still come at least half a frame apart.
    EXPECT_GE(at[120] - at[80], 20u);

    // The clock reaches 300: the pictures up to it show, 320 and 360 wait.
    const uint64_t moved_at = clock.Now();
    filter.CurDTS(300, 40, 16, false);
    clock.SleepMs(1000);
    at = shown.Snapshot();
    ASSERT_EQ(at.size(), 8u);
    EXPECT_EQ(at.rbegin()->first, 280);
    EXPECT_LE(at[240] - moved_at, 20u) << "at or behind the clock: at once (within the half-frame pace)";
    filter.CurDTS(360, 40, 16, false);
    clock.SleepMs(200);
    EXPECT_EQ(shown.Snapshot().size(), 10u);
    filter.FinalFilter();
  }
  engine::ResetAllSourceEvents();
}

// Keeps (size, checksum of the luma) of every picture presented. A pane of the
// pictures' size on the surface path gets them pixel for pixel.
struct RecordingSurface : platform::Surface {
  struct Shown {
    int width, height;
    uint32_t luma;
    bool operator==(const Shown&) const = default;
  };
  platform::Size ClientSize() const override { return {160, 96}; }
  void Present(const platform::Picture& picture, const platform::Rect&) override {
    if (picture.format != platform::PixelFormat::YUYV) return;
    uint32_t sum = 0;
    bool black = true;  // the blank picture (all zero) is not one of the decoder's
    for (int y = 0; y < picture.height; ++y) {
      const uint8_t* row = picture.pixels + static_cast<ptrdiff_t>(y) * picture.stride;
      for (int x = 0; x < picture.width; ++x) {
        sum = sum * 31 + row[2 * x];  // Y0 U Y1 V
        black = black && row[2 * x] == 0;
      }
    }
    if (black) return;
    std::lock_guard lock(mutex);
    shown.push_back({picture.width, picture.height, sum});
  }
  void Erase(std::span<const platform::Rect>) override {}
  std::mutex mutex;
  std::vector<Shown> shown;
};

TEST_F(Sync, ThePicturesPresentedAreTheDecodersInTheirOrder) {
  const auto packets = testing_support::ReadQvvVideoPackets(*file_);
  // The reference: channel 1 decoded straight, pictures written out.
  std::vector<RecordingSurface::Shown> expected;
  engine::ACH264Decoder decoder;
  std::vector<uint8_t> planar(160 * 96 * 3 / 2);
  std::vector<const testing_support::VideoPacket*> fed;
  for (const auto& p : packets) {
    if (p.stream != 1) continue;
    fed.push_back(&p);
    int key = 0;
    decoder.Decode(1, p.data.data(), static_cast<int>(p.data.size()), &key, 160, 96, planar.data(), planar.size());
    ASSERT_TRUE(decoder.got_picture());
    uint32_t sum = 0;
    for (size_t i = 0; i < 160 * 96; ++i) sum = sum * 31 + planar[i];
    expected.push_back({160, 96, sum});
    if (fed.size() == 30) break;  // more than the queue's nodes: blocks go round
  }
  expected.pop_back();  // the last stays pending

  engine::ResetAllSourceEvents();
  engine::SourceActiveEvent(engine::SourceKind::Qvv).Set();
  FakeClock clock;
  RecordingSurface surface;
  {
    engine::ACMovieFilter filter(&clock, &clock);
    engine::ACParam param;
    param.channel_count = 2;
    param.windows[1] = &surface;
    filter.InitFilter(&param);
    filter.SetShowMode(0);
    filter.CurDTS(100000, 40, 256, false);  // far ahead: every picture is due
    for (const auto* p : fed) {
      while (!filter.InputData(1, 7, p->pts_us / 1000, p->data.data(), static_cast<int>(p->data.size()), 160, 96, 0))
        clock.SleepMs(2);
    }
    clock.SleepMs(2000);
    filter.FinalFilter();
  }
  engine::ResetAllSourceEvents();
  EXPECT_EQ(surface.shown, expected);
}

}  // namespace
