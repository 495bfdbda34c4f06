// The millisecond sleeper: its 1 ms grid and its stop.
#include "platform/MsSleeper.h"

#include <gtest/gtest.h>

#include <chrono>

namespace {

using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point t) {
  return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

TEST(MsSleeper, SleepsEndOnTheGridNeverBeforeIt) {
  // Only lower bounds: how late a sleep ends depends on the machine's load.
  platform::MsSleeper sleeper;
  ASSERT_EQ(sleeper.Start(), 1);
  // Consecutive SleepMs(1) land on consecutive grid points: 50 of them span
  // at least 49 whole milliseconds, however the first one fell.
  auto t = Clock::now();
  for (int i = 0; i < 50; ++i) sleeper.SleepMs(1);
  EXPECT_GE(MsSince(t), 49.0);
  // SleepMs(10) from a grid point takes ten ticks.
  sleeper.SleepMs(1);
  t = Clock::now();
  sleeper.SleepMs(10);
  EXPECT_GE(MsSince(t), 9.0);
}

TEST(MsSleeper, AfterStopItSleepsPlainlyAndARestartLaysANewGrid) {
  platform::MsSleeper sleeper;
  ASSERT_EQ(sleeper.Start(), 1);
  sleeper.Stop();
  EXPECT_FALSE(sleeper.Running());
  auto t = Clock::now();
  sleeper.SleepMs(5);
  EXPECT_GE(MsSince(t), 5.0);
  // A clock started again after a stop keeps its 1 ms grid.
  ASSERT_EQ(sleeper.Start(), 1);
  EXPECT_TRUE(sleeper.Running());
  t = Clock::now();
  sleeper.SleepMs(3);
  EXPECT_GE(MsSince(t), 2.0);  // the third grid point: at least two whole milliseconds on
}

}  // namespace
