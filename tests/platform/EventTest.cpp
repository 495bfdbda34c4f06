// Manual- and auto-reset events, time-outs, waiting for any, and no lost wake-ups.
#include "platform/Event.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

using platform::Event;

TEST(Event, ManualResetWakesEveryWaiterAndStaysSet) {
  Event e(Event::Mode::ManualReset);
  std::atomic<int> woken{0};
  std::vector<std::thread> waiters;
  for (int i = 0; i < 6; ++i) waiters.emplace_back([&] { woken += e.Wait(5000) ? 1 : 0; });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  e.Set();
  for (auto& t : waiters) t.join();
  EXPECT_EQ(woken.load(), 6);
  EXPECT_TRUE(e.Wait(0));
  e.Reset();
  EXPECT_FALSE(e.Wait(0));
}

TEST(Event, AutoResetReleasesOneWaiterPerSet) {
  Event e(Event::Mode::AutoReset);
  std::atomic<int> woken{0};
  std::vector<std::thread> waiters;
  for (int i = 0; i < 4; ++i) waiters.emplace_back([&] { woken += e.Wait(400) ? 1 : 0; });
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  e.Set();
  e.Set();  // not counted: still signalled, nobody consumed it yet - or consumed: at most 2 wake
  for (auto& t : waiters) t.join();
  EXPECT_GE(woken.load(), 1);
  EXPECT_LE(woken.load(), 2);
  EXPECT_FALSE(e.IsSet()) << "a successful wait consumes the signal";
}

TEST(Event, WaitTimesOutAndZeroOnlyTests) {
  Event e(Event::Mode::ManualReset);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(e.Wait(0));
  EXPECT_FALSE(e.Wait(60));
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, std::chrono::milliseconds(60));
}

TEST(Event, WaitAnyReturnsTheSignalledIndex) {
  Event a(Event::Mode::AutoReset), b(Event::Mode::AutoReset), c(Event::Mode::ManualReset);
  Event* events[] = {&a, &b, &c};
  EXPECT_EQ(Event::WaitAny(events, 10), platform::kWaitTimeout);
  std::thread setter([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    b.Set();
  });
  EXPECT_EQ(Event::WaitAny(events, 5000), 1);
  setter.join();
  EXPECT_FALSE(b.IsSet());
  c.Set();
  a.Set();
  EXPECT_EQ(Event::WaitAny(events, 0), 0) << "lowest signalled index first";
  EXPECT_EQ(Event::WaitAny(events, 0), 2);
  EXPECT_TRUE(c.IsSet()) << "manual-reset stays set";
}

TEST(Event, NoLostWakeUpsUnderManyRounds) {
  // A producer and consumer hand a token back and forth through two auto-reset
  // events; a lost wake-up would stall a round until its time-out.
  Event ping(Event::Mode::AutoReset), pong(Event::Mode::AutoReset);
  constexpr int kRounds = 2000;
  std::atomic<int> misses{0};
  std::thread other([&] {
    for (int i = 0; i < kRounds; ++i) {
      if (!ping.Wait(2000)) ++misses;
      pong.Set();
    }
  });
  for (int i = 0; i < kRounds; ++i) {
    ping.Set();
    if (!pong.Wait(2000)) ++misses;
  }
  other.join();
  EXPECT_EQ(misses.load(), 0);
}

}  // namespace
