// Tear-down under a user's clicks: seeks, stops, pauses, relayouts and closes
// from two threads while twelve channels play, and a pane that stops drawing.
// Every wait ends in its bound; none is left unanswered.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

#include "engine/ACMovieFilter.h"
#include "engine/ACPlayClock.h"
#include "engine/EngineGlobals.h"
#include "tests/support/Process.h"
#include "tests/support/QvvSample.h"
#include "tests/support/TempDir.h"

namespace {

using namespace engine;
using testing_support::TempDir;

struct CountingSurface : platform::Surface {
  std::atomic<int> presented{0};
  int slow_ms = 0;  // a pane that draws slowly
  platform::Size ClientSize() const override { return {160, 96}; }
  void Present(const platform::Picture&, const platform::Rect&) override {
    if (slow_ms) std::this_thread::sleep_for(std::chrono::milliseconds(slow_ms));
    presented.fetch_add(1);
  }
  void Erase(std::span<const platform::Rect>) override {}
};

// A pane whose drawing blocks until the test lets it go (a GUI gone unresponsive).
struct BlockingSurface : platform::Surface {
  std::mutex mutex;
  std::condition_variable cv;
  bool blocked = false, inside = false;
  platform::Size ClientSize() const override { return {160, 96}; }
  void Present(const platform::Picture&, const platform::Rect&) override {
    std::unique_lock lock(mutex);
    inside = true;
    cv.notify_all();
    cv.wait(lock, [&] { return !blocked; });
    inside = false;
    cv.notify_all();
  }
  void Erase(std::span<const platform::Rect>) override {}
  void WaitInside() {
    std::unique_lock lock(mutex);
    cv.wait(lock, [&] { return inside; });
  }
  void Release() {
    std::lock_guard lock(mutex);
    blocked = false;
    cv.notify_all();
  }
};

class Storm : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir;
    const std::string file = testing_support::MakeSampleQvv(DRAVIK_TOOL, dir_->path().string(), 12, 2);
    ASSERT_FALSE(file.empty());
    packets_ = new std::vector<testing_support::VideoPacket>(testing_support::ReadQvvVideoPackets(file));
    ASSERT_FALSE(packets_->empty());
  }
  static void TearDownTestSuite() {
    delete packets_;
    delete dir_;
  }
  void SetUp() override { ResetAllSourceEvents(); }
  void TearDown() override { ResetAllSourceEvents(); }

  static TempDir* dir_;
  static std::vector<testing_support::VideoPacket>* packets_;
};
TempDir* Storm::dir_ = nullptr;
std::vector<testing_support::VideoPacket>* Storm::packets_ = nullptr;

// Runs `body` and fails (then aborts: a hung engine cannot be torn down) when
// it does not end within `limit`.
template <typename Body>
void WithinOrAbort(std::chrono::seconds limit, const char* what, Body body) {
  auto done = std::async(std::launch::async, body);
  if (done.wait_for(limit) == std::future_status::timeout) {
    std::fprintf(stderr, "%s did not end within %lld s: a hang\n", what, static_cast<long long>(limit.count()));
    std::abort();
  }
  done.get();
}

TEST_F(Storm, RandomCommandsFromTwoThreadsWhileTwelveChannelsPlayNeverHang) {
  std::array<CountingSurface, 12> first, second;
  first[3].slow_ms = 15;  // slower than the pictures come
  auto param_for = [](std::array<CountingSurface, 12>& panes, int count) {
    ACParam param;
    param.channel_count = count;
    for (int c = 0; c < count; ++c) param.windows[static_cast<size_t>(c)] = &panes[static_cast<size_t>(c)];
    return param;
  };
  ACMovieFilter filter;
  ACPlayClock clock(nullptr);
  ACParam param = param_for(first, 12);
  ASSERT_EQ(filter.InitFilter(&param), 1);
  ASSERT_TRUE(clock.Start(&filter, nullptr));
  SourceActiveEvent(SourceKind::Qvv).Set();
  clock.SetState(kStatePlay);

  std::atomic<bool> done{false};
  // The reader: the recording over and over, each time stamp to the clock.
  std::thread reader([&] {
    int64_t offset = 0;
    while (!done.load()) {
      for (const auto& p : *packets_) {
        if (done.load()) break;
        const int64_t ms = offset + p.pts_us / 1000;
        while (!done.load() && filter.InputData(p.stream, 28, ms, p.data.data(), static_cast<int>(p.data.size()), 160,
                                                96, 0) == 0)
          std::this_thread::sleep_for(std::chrono::milliseconds(2));
        while (!done.load() && clock.AddDTS(ms, ms * 1000, 0) == 0)
          std::this_thread::sleep_for(std::chrono::milliseconds(2));
      }
      offset += 2000;
    }
  });

  std::atomic<int> failed_flushes{0};
  auto seek = [&] {
    failed_flushes += !filter.EmptyData();
    failed_flushes += !filter.EmptyAlgData(-1);
    clock.Clear();
    clock.SetState(kStateRestart);
  };
  // The window's thread: everything a user can click.
  auto window = [&] {
    std::mt19937 random(12);
    for (int i = 0; i < 200; ++i) {
      switch (random() % 9) {
        case 0: seek(); break;
        case 1: clock.SetState(kStatePause); break;
        case 2: clock.SetState(kStatePlay); break;
        case 3: clock.SetState(kStateStep); break;
        case 4: clock.SetSpeed(1 << (random() % 9)); break;
        case 5:  // stop
          ResetAllSourceEvents();
          clock.SetState(kStateHalt);
          failed_flushes += !filter.EmptyData();
          SourceActiveEvent(SourceKind::Qvv).Set();
          break;
        case 6: {  // another layout on other panes
          ACParam other = param_for(random() % 2 ? second : first, 1 + static_cast<int>(random() % 12));
          EXPECT_EQ(filter.InitFilter(&other), 1);
          break;
        }
        case 7:  // close the recording and open another
          clock.Stop();
          filter.FinalFilter();
          EXPECT_EQ(filter.InitFilter(&param), 1);
          EXPECT_TRUE(clock.Start(&filter, nullptr));
          clock.SetState(kStatePlay);
          break;
        case 8: filter.SetChannelClosed(static_cast<int>(random() % 12), random() % 2); break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(random() % 8));
    }
  };
  // A reader thread's part: seeks and file changes.
  auto reader_commands = [&] {
    std::mt19937 random(34);
    for (int i = 0; i < 200; ++i) {
      switch (random() % 3) {
        case 0: seek(); break;
        case 1: filter.InputData(-2); filter.InputData(-1); break;
        case 2: clock.SetState(kStateResume); break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(random() % 8));
    }
  };
  WithinOrAbort(std::chrono::seconds(240), "the command storm", [&] {
    std::thread a(window), b(reader_commands);
    a.join();
    b.join();
  });
  EXPECT_EQ(failed_flushes.load(), 0);

  // Still playing after the storm: pictures keep coming on every pane.
  for (int c = 0; c < 12; ++c) filter.SetChannelClosed(c, false);
  ASSERT_EQ(filter.InitFilter(&param), 1);
  clock.SetSpeed(16);
  clock.SetState(kStatePlay);
  std::array<int, 12> before{};
  for (int c = 0; c < 12; ++c) before[static_cast<size_t>(c)] = first[static_cast<size_t>(c)].presented.load();
  WithinOrAbort(std::chrono::seconds(120), "playing after the storm", [&] {
    for (int c = 0; c < 12; ++c) {
      while (first[static_cast<size_t>(c)].presented.load() < before[static_cast<size_t>(c)] + 3)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  });
  done.store(true);
  reader.join();
  WithinOrAbort(std::chrono::seconds(60), "the tear-down", [&] {
    EXPECT_TRUE(clock.Stop());
    filter.FinalFilter();
  });
  EXPECT_EQ(filter.running_threads(), 0);
  EXPECT_EQ(filter.unanswered_waits(), 0);
}

TEST_F(Storm, APaneThatStopsDrawingDelaysNoWaitBeyondItsBound) {
  std::array<CountingSurface, 12> panes;
  BlockingSurface stuck;
  stuck.blocked = true;
  ACParam param;
  param.channel_count = 2;
  param.windows[0] = &panes[0];
  param.windows[1] = &stuck;
  ResetAllSourceEvents();
  SourceActiveEvent(SourceKind::Qvv).Set();
  {
    ACMovieFilter filter;
    ASSERT_EQ(filter.InitFilter(&param), 1);
    // A picture for channel 2 at time 0 is due at once: its play thread
    // draws it and hangs in the pane.
    for (const auto& p : *packets_) {
      if (p.stream != 1) continue;
      ASSERT_EQ(filter.InputData(1, 28, 0, p.data.data(), static_cast<int>(p.data.size()), 160, 96, 0), 1);
      break;
    }
    filter.CurDTS(0, 40, 16, false);
    stuck.WaitInside();

    // A seek: channel 2 cannot answer; the wait ends and says so.
    EXPECT_FALSE(filter.EmptyData());
    EXPECT_EQ(filter.unanswered_waits(), 1);
    // A relayout cannot take the pane from under the drawing thread.
    ACParam other;
    other.channel_count = 1;
    other.windows[0] = &panes[0];
    EXPECT_EQ(filter.InitFilter(&other), 0);
    // Closing: every other thread stops; the stuck one is reported.
    filter.FinalFilter();
    EXPECT_EQ(filter.running_threads(), 1);
    EXPECT_GE(filter.unanswered_waits(), 3);
  }  // destroyed with the play thread still inside the pane
  // Let it go: it finishes on the state it kept alive (ASan sees any use
  // of freed memory) and ends, as its stop was requested.
  stuck.Release();
  std::unique_lock lock(stuck.mutex);
  stuck.cv.wait(lock, [&] { return !stuck.inside; });
}

}  // namespace
