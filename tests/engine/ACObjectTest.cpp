// Reference counts, serial numbers and the object lock of engine objects; the source-active events.
#include "engine/ACObject.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "engine/EngineGlobals.h"

namespace {

using engine::ACObject;

struct Tracked : public virtual ACObject {
  explicit Tracked(std::atomic<int>& destroyed) : destroyed_(destroyed) {}
  ~Tracked() override { ++destroyed_; }
  std::atomic<int>& destroyed_;
};

TEST(ACObject, ReleaseDestroysAtOneAndNeverBelowZero) {
  std::atomic<int> destroyed{0};
  Tracked unowned(destroyed);
  EXPECT_EQ(unowned.Release(), 0u) << "a count of 0 stays 0 and nothing is destroyed";
  EXPECT_EQ(destroyed.load(), 0);

  auto* owned = new Tracked(destroyed);
  EXPECT_EQ(owned->AddRef(), 1u);
  EXPECT_EQ(owned->AddRef(), 2u);
  EXPECT_EQ(owned->Release(), 1u);
  EXPECT_EQ(destroyed.load(), 0);
  EXPECT_EQ(owned->Release(), 0u);
  EXPECT_EQ(destroyed.load(), 1);
}

TEST(ACObject, SerialNumbersIncreaseAndIdentityCallsAnswer) {
  ACObject a, b;
  EXPECT_GT(a.GetSerial(), 0u);
  EXPECT_EQ(b.GetSerial(), a.GetSerial() + 1);
  EXPECT_STREQ(a.GetClassName(), "ACObject");
  int ready = 0;
  EXPECT_EQ(a.IsReady(&ready), 1);
  EXPECT_EQ(ready, 1);
}

TEST(ACObject, LockTimeOutsOnAHeldLock) {
  ACObject object;
  std::atomic<bool> held{false}, release{false};
  std::thread holder([&] {
    object.Lock(-1);
    held = true;
    while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    object.Unlock();
  });
  while (!held) std::this_thread::yield();

  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(object.Lock(0), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(50)) << "0 only tries";

  start = std::chrono::steady_clock::now();
  EXPECT_EQ(object.Lock(250), 0);
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, std::chrono::milliseconds(290)) << "three 100 ms polls";
  EXPECT_LT(waited, std::chrono::milliseconds(600));

  // Released during the polls: taken on the next poll.
  std::thread([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(120));
    release = true;
  }).detach();
  EXPECT_EQ(object.Lock(1000), 1);
  object.Unlock();
  holder.join();

  EXPECT_EQ(object.Lock(0), 1);
  EXPECT_EQ(object.Lock(0), 1) << "the owner may take its lock again";
  object.Unlock();
  object.Unlock();
}

TEST(EngineGlobals, SourceEventsGateInputAndResetTogether) {
  engine::ResetAllSourceEvents();
  EXPECT_FALSE(engine::AnySourceActive());
  engine::SourceActiveEvent(engine::SourceKind::Flv).Set();
  EXPECT_TRUE(engine::AnySourceActive());
  EXPECT_TRUE(engine::SourceActiveEvent(engine::SourceKind::Flv).Wait(0)) << "manual-reset: stays set";
  EXPECT_TRUE(engine::AnySourceActive());
  engine::ResetAllSourceEvents();
  EXPECT_FALSE(engine::AnySourceActive());
}

}  // namespace
