// The millisecond sleeper: its 1 ms grid and its stop.
#include "platform/MsSleeper.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point t) {
  return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

TEST(MsSleeper, ZeroReturnsAtOnceAndOneWaitsForTheNextTick) {
  platform::MsSleeper sleeper;
  ASSERT_EQ(sleeper.Start(), 1);
  auto t = Clock::now();
  sleeper.SleepMs(0);
  EXPECT_LT(MsSince(t), 0.5);

  // SleepMs(1) ends on the next tick: never more than one tick plus scheduling
  // slack, and consecutive sleeps land on the tick grid (whole milliseconds).
  std::vector<double> waits;
  for (int i = 0; i < 50; ++i) {
    t = Clock::now();
    sleeper.SleepMs(1);
    waits.push_back(MsSince(t));
  }
  std::sort(waits.begin(), waits.end());
  EXPECT_LE(waits[waits.size() / 2], 1.5) << "median";
  EXPECT_GT(waits.front(), 0.0);

  // SleepMs(10) from a tick boundary takes 10 ticks.
  sleeper.SleepMs(1);
  t = Clock::now();
  sleeper.SleepMs(10);
  const double ten = MsSince(t);
  EXPECT_GE(ten, 9.0);
  EXPECT_LT(ten, 30.0);
}

TEST(MsSleeper, AfterStopItSleepsPlainlyAndCannotRestart) {
  platform::MsSleeper sleeper;
  ASSERT_EQ(sleeper.Start(), 1);
  sleeper.Stop();
  EXPECT_FALSE(sleeper.Running());
  EXPECT_EQ(sleeper.Start(), 0);
  const auto t = Clock::now();
  sleeper.SleepMs(5);
  EXPECT_GE(MsSince(t), 5.0);
}

}  // namespace
