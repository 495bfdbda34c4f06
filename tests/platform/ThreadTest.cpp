// Worker threads: a cooperative stop within the wait, and a body that ignores the flag.
#include "platform/Thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

using platform::StopToken;
using platform::WorkerThread;

TEST(WorkerThread, StopsCooperativelyWithinTheWait) {
  WorkerThread worker("poller");
  std::atomic<int> passes{0};
  ASSERT_TRUE(worker.Start([&](const StopToken& stop) {
    while (!stop.StopRequested()) {
      ++passes;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  }));
  EXPECT_FALSE(worker.Start([](const StopToken&) {})) << "one body at a time";
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_TRUE(worker.Running());
  EXPECT_TRUE(worker.Stop(500));
  EXPECT_FALSE(worker.Running());
  EXPECT_GT(passes.load(), 0);
  // Restartable once it has ended.
  EXPECT_TRUE(worker.Start([](const StopToken&) {}));
  EXPECT_TRUE(worker.Join(1000));
}

TEST(WorkerThread, ABodyThatIgnoresTheFlagIsDetachedAndReported) {
  auto release = std::make_shared<std::atomic<bool>>(false);
  WorkerThread worker("stubborn");
  ASSERT_TRUE(worker.Start([release](const StopToken&) {
    while (!release->load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }));
  testing::internal::CaptureStderr();
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(worker.Stop(100));
  const auto waited = std::chrono::steady_clock::now() - start;
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_GE(waited, std::chrono::milliseconds(100));
  EXPECT_LT(waited, std::chrono::milliseconds(1000));
  EXPECT_NE(err.find("stubborn"), std::string::npos) << err;
  EXPECT_FALSE(worker.Running());
  release->store(true);  // let the detached body finish; it owns its state
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
}

}  // namespace
