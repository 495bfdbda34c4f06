// The PCM ring between the audio decode and output threads, against a plain
// queue of bytes: whatever goes in comes out once, in order, whatever the
// sizes of the writes and reads and wherever the ring wraps.
#include "engine/ACSoundBuffer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <random>
#include <vector>

namespace {

using engine::ACSoundBuffer;

TEST(ACSoundBuffer, KeepsEveryByteInOrderAcrossWraps) {
  ACSoundBuffer ring;
  ASSERT_TRUE(ring.Init(1000));
  std::deque<uint8_t> model;
  std::mt19937 random(7);
  uint8_t next = 0;
  for (int step = 0; step < 20000; ++step) {
    if (random() % 2) {
      const uint32_t wanted = 1 + random() % 300;
      uint8_t* region = nullptr;
      const uint32_t got = ring.GetWriteRegion(wanted, &region);
      if (got < wanted) continue;  // the decode thread waits for room
      for (uint32_t i = 0; i < wanted; ++i) {
        region[i] = next;
        model.push_back(next++);
      }
      ring.Commit(wanted);
    } else {
      std::vector<uint8_t> a(random() % 200), b(random() % 200);
      const uint32_t n = ring.Read(a.data(), static_cast<uint32_t>(a.size()), b.data(), static_cast<uint32_t>(b.size()));
      ASSERT_LE(n, a.size() + b.size());
      for (uint32_t i = 0; i < n; ++i) {
        const uint8_t got = i < a.size() ? a[i] : b[i - a.size()];
        ASSERT_EQ(got, model.front()) << "step " << step;
        model.pop_front();
      }
      if (n < a.size() + b.size()) ASSERT_TRUE(model.empty()) << "a short read only when the ring is empty";
    }
    ASSERT_EQ(ring.FillLevel(), model.size()) << "step " << step;
  }
}

TEST(ACSoundBuffer, FullEmptyAndSkip) {
  ACSoundBuffer ring;
  ASSERT_TRUE(ring.Init(100));
  uint8_t* region = nullptr;
  ASSERT_EQ(ring.GetWriteRegion(100, &region), 100u);
  std::memset(region, 1, 100);
  ring.Commit(100);
  EXPECT_EQ(ring.FillLevel(), 100u) << "full: read meets write";
  EXPECT_EQ(ring.GetWriteRegion(1, &region), 0u);
  EXPECT_EQ(ring.Skip(30), 30u);
  EXPECT_EQ(ring.FillLevel(), 70u);
  EXPECT_EQ(ring.Skip(1000), 70u);
  EXPECT_EQ(ring.FillLevel(), 0u);
  ring.ResetRing();
  EXPECT_EQ(ring.GetWriteRegion(60, &region), 60u);
}

}  // namespace
