// The packet, raw-record and overlay queues: capacity, order, markers and clearing.
#include <gtest/gtest.h>

#include <numeric>
#include <vector>

#include "engine/ACMediaList.h"
#include "engine/ACRAWDataList.h"
#include "engine/AlgProtocolList.h"

namespace {

using engine::ACMediaList;
using engine::ACRAWDataList;
using engine::AlgProtocolList;
using engine::MediaPacketInfo;
using engine::ObjectLock;

std::vector<uint8_t> Bytes(size_t n, uint8_t seed) {
  std::vector<uint8_t> v(n);
  std::iota(v.begin(), v.end(), seed);
  return v;
}

TEST(ACMediaList, FillsToFifteenWrapsAndKeepsOrder) {
  ACMediaList list;
  ObjectLock lock(list);
  EXPECT_TRUE(list.Empty());
  for (int i = 0; i < 15; ++i) {
    const auto data = Bytes(100 + i, static_cast<uint8_t>(i));
    ASSERT_EQ(list.Put(0x1B, i * 40, data.data(), static_cast<uint32_t>(data.size()), 1280, 720, i & 1), 1);
  }
  EXPECT_TRUE(list.Full());
  const auto extra = Bytes(10, 0);
  EXPECT_EQ(list.Put(0x1B, 999, extra.data(), 10, 1, 1, 0), 0) << "16th put: full";

  std::vector<uint8_t> out(4096);
  MediaPacketInfo info;
  ASSERT_TRUE(list.Get(info, out.data(), static_cast<uint32_t>(out.size())));
  EXPECT_EQ(info.time, 0);
  EXPECT_EQ(list.Put(0x1B, 15 * 40, extra.data(), 10, 1, 1, 0), 1) << "one Get makes room for one";
  EXPECT_EQ(list.Put(0x1B, 999, extra.data(), 10, 1, 1, 0), 0);

  // Drain across the wrap: times 40..600 in order with their own bytes and fields.
  for (int i = 1; i <= 15; ++i) {
    ASSERT_TRUE(list.Get(info, out.data(), static_cast<uint32_t>(out.size())));
    EXPECT_EQ(info.time, i * 40);
    if (i < 15) {
      EXPECT_EQ(info.size, 100u + i);
      EXPECT_EQ(out[0], i);
      EXPECT_EQ(out[info.size - 1], static_cast<uint8_t>(i + info.size - 1));
      EXPECT_EQ(info.backward, static_cast<uint32_t>(i & 1));
      EXPECT_EQ(info.width, 1280u);
      EXPECT_EQ(info.codec_id, 0x1Bu);
    }
  }
  EXPECT_TRUE(list.Empty());
  EXPECT_FALSE(list.Get(info, out.data(), static_cast<uint32_t>(out.size())));
}

TEST(ACMediaList, OversizedPacketIsAcceptedButNotStoredAndGetTruncates) {
  ACMediaList list;
  ObjectLock lock(list);
  std::vector<uint8_t> big(ACMediaList::kSizeLimit + 1, 0xAB);
  EXPECT_EQ(list.Put(1, 0, big.data(), static_cast<uint32_t>(big.size()), 0, 0, 0), 1);
  EXPECT_TRUE(list.Empty());
  big.resize(ACMediaList::kSizeLimit);
  EXPECT_EQ(list.Put(1, 0, big.data(), static_cast<uint32_t>(big.size()), 0, 0, 0), 1);
  EXPECT_EQ(list.Count(), 1);

  // A consumer with a smaller buffer gets the first `capacity` bytes.
  std::vector<uint8_t> out(1000);
  MediaPacketInfo info;
  ASSERT_TRUE(list.Get(info, out.data(), 1000));
  EXPECT_EQ(info.size, 1000u);
  EXPECT_EQ(out[999], 0xAB);
}

TEST(ACMediaList, MarkersAndClearZeroPayloads) {
  ACMediaList list;
  ObjectLock lock(list);
  const auto data = Bytes(64, 1);
  ASSERT_EQ(list.Put(1, -2, nullptr, 0, 0, 0, 0), 1);
  ASSERT_EQ(list.Put(1, 80, data.data(), 64, 0, 0, 0), 1);
  list.Clear();
  EXPECT_TRUE(list.Empty());
  EXPECT_EQ(list.Count(), 0);
  // The ring starts over at slot 0 and the reused buffer was zeroed.
  ASSERT_EQ(list.Put(1, -1, nullptr, 0, 0, 0, 0), 1);
  MediaPacketInfo info;
  std::vector<uint8_t> out(64);
  ASSERT_TRUE(list.Get(info, out.data(), 64));
  EXPECT_EQ(info.time, -1);
  EXPECT_EQ(info.size, 0u);
}

TEST(ACRAWDataList, ThirtySlotsGrowOnlyAndGetEmptiesTheSlot) {
  ACRAWDataList list;
  ObjectLock lock(list);
  for (int i = 0; i < 30; ++i) {
    const auto data = Bytes(10 + i, static_cast<uint8_t>(i));
    ASSERT_EQ(list.Put(data.data(), static_cast<int32_t>(data.size())), 1);
  }
  EXPECT_EQ(list.Put(nullptr, 0), 0);
  std::vector<uint8_t> out(8000);
  EXPECT_EQ(list.Get(out.data(), 8000), 10);
  EXPECT_EQ(out[0], 0);
  EXPECT_EQ(list.Get(out.data(), 5), 5) << "copies at most the capacity";
  EXPECT_EQ(out[0], 1);
  // Reused slot 0 with a smaller block, then a bigger one (grows).
  const auto small = Bytes(3, 7), big = Bytes(5000, 9);
  ASSERT_EQ(list.Put(small.data(), 3), 1);
  ASSERT_EQ(list.Put(big.data(), 5000), 1);
  list.Clear();
  EXPECT_TRUE(list.Empty());
  EXPECT_EQ(list.Get(out.data(), 8000), -1);
}

TEST(AlgProtocolList, CopiesWholeRecordsInOrder) {
  AlgProtocolList list;
  ObjectLock lock(list);
  qvv::AlgProtocol record;
  for (int i = 0; i < AlgProtocolList::kCapacity; ++i) {
    record.Reset();
    record.time = 1000 + i;
    record.circles.push_back({1, 5, i, i});
    record.texts.push_back({2, "car " + std::to_string(i), 10, 20, 2048});
    ASSERT_EQ(list.Put(record), 1);
  }
  EXPECT_EQ(list.Put(record), 0);
  ASSERT_NE(list.Peek(), nullptr);
  EXPECT_EQ(list.Peek()->time, 1000);
  qvv::AlgProtocol out;
  for (int i = 0; i < AlgProtocolList::kCapacity; ++i) {
    EXPECT_EQ(list.Count(), AlgProtocolList::kCapacity - i) << "draining a ring that was full";
    ASSERT_TRUE(list.Get(out));
    EXPECT_EQ(out.time, 1000 + i);
    ASSERT_EQ(out.texts.size(), 1u);
    EXPECT_EQ(out.texts[0].text, "car " + std::to_string(i));
    EXPECT_EQ(out.width, 1920);
  }
  EXPECT_FALSE(list.Get(out));
}

}  // namespace
