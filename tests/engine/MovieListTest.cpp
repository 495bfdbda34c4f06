// The frame queue: when frames become visible, its 35 nodes, backward groups, and a group longer than the queue.
#include "engine/ACMovieList.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using engine::ACMovieList;
using engine::FrameInfo;
using engine::FrameNode;
using engine::ObjectLock;

// Appends a frame the way the decode thread does: take a pending node, fill it;
// it becomes visible when the next one is appended.
FrameNode* Append(ACMovieList& q, int64_t time, uint32_t size = 6) {
  FrameNode* node = q.AppendPending(size);
  if (!node) return nullptr;
  node->time = time;
  node->width = 2;
  node->height = 2;
  for (uint32_t i = 0; i < size; ++i) node->pixels[i] = static_cast<uint8_t>(time + i);
  return node;
}

std::vector<int64_t> Drain(ACMovieList& q) {
  std::vector<int64_t> times;
  FrameInfo info;
  engine::PixelBlock pixels;
  while (q.Fetch(info, pixels)) times.push_back(info.time);
  return times;
}

TEST(ACMovieList, FramesBecomeVisibleOnlyWhenTheNextIsAppended) {
  ACMovieList q;
  ObjectLock lock(q);
  EXPECT_EQ(q.FreeCount(), 35);
  Append(q, 40);
  EXPECT_EQ(q.ReadyCount(), 0) << "pending is invisible";
  Append(q, 80);
  EXPECT_EQ(q.ReadyCount(), 1);
  FrameInfo info;
  engine::PixelBlock pixels;
  ASSERT_TRUE(q.Fetch(info, pixels));
  EXPECT_EQ(info.time, 40);
  EXPECT_EQ(info.size, 6u);
  ASSERT_NE(pixels.get(), nullptr);
  EXPECT_EQ(pixels[5], 45);
  EXPECT_FALSE(q.Fetch(info, pixels));
  EXPECT_EQ(pixels[5], 45) << "a failed fetch leaves the shown picture alone";
  // The block given for the picture goes back to the queue and is reused.
  const uint8_t* shown_before = pixels.get();
  ASSERT_TRUE(q.Fetch(info, pixels) || (Append(q, 120), q.Fetch(info, pixels)));
  EXPECT_EQ(info.time, 80);
  EXPECT_EQ(pixels[0], 80);
  EXPECT_NE(pixels.get(), shown_before);
}

TEST(ACMovieList, ThirtyFiveNodesThenTheProducerMustWait) {
  ACMovieList q;
  ObjectLock lock(q);
  for (int i = 0; i < 35; ++i) ASSERT_NE(Append(q, i), nullptr);
  EXPECT_EQ(Append(q, 35), nullptr) << "no free node";
  EXPECT_EQ(q.ReadyCount(), 35) << "the failed append still published the last pending node";
  FrameInfo info;
  engine::PixelBlock spare;
  ASSERT_TRUE(q.Fetch(info, spare));
  EXPECT_EQ(Append(q, 35), nullptr) << "the taken node returns only on the next fetch";
  ASSERT_TRUE(q.Fetch(info, spare));
  EXPECT_NE(Append(q, 35), nullptr);
  q.Clear();
  EXPECT_EQ(q.FreeCount(), 35);
  EXPECT_EQ(q.ReadyCount(), 0);
}

TEST(ACMovieList, AClearKeepsTheBlocksForThePicturesAfterIt) {
  ACMovieList q;
  ObjectLock lock(q);
  FrameNode* first = Append(q, 0, 4096);
  ASSERT_NE(first, nullptr);
  const uint8_t* block = first->pixels.get();
  q.Clear();  // a seek
  FrameNode* again = Append(q, 0, 4096);
  ASSERT_EQ(again, first) << "nodes go back in order";
  EXPECT_EQ(again->pixels.get(), block) << "the block was kept, not unmapped and mapped again";
  q.ReleaseBlocks();
  EXPECT_EQ(first->pixels.get(), nullptr);
  EXPECT_EQ(q.FreeCount(), 35);
}

TEST(ACMovieList, BackwardGroupsComeOutInDescendingOrder) {
  // The reader delivers groups from the end of the file towards its start,
  // each group forward: [900 920 940] then [800 820 840 860] then [700 ...].
  ACMovieList q;
  ObjectLock lock(q);
  std::vector<int64_t> shown;
  const std::vector<std::vector<int64_t>> groups = {{900, 920, 940}, {800, 820, 840, 860}, {700, 720}};
  for (const auto& group : groups) {
    for (size_t i = 0; i < group.size(); ++i) {
      ASSERT_NE(Append(q, group[i]), nullptr);
      if (i == 0) q.ReverseGroupAndMark();  // key frame of a backward packet
    }
    auto drained = Drain(q);
    shown.insert(shown.end(), drained.begin(), drained.end());
  }
  // The last group is still behind its mark until another key frame arrives.
  ASSERT_NE(Append(q, -3), nullptr);
  q.ReverseGroupAndMark();
  auto drained = Drain(q);
  shown.insert(shown.end(), drained.begin(), drained.end());
  EXPECT_EQ(shown, (std::vector<int64_t>{940, 920, 900, 860, 840, 820, 800, 720, 700}));
}

TEST(ACMovieList, AGroupLongerThanTheQueueClearsInsteadOfDeadlocking) {
  ACMovieList q;
  ObjectLock lock(q);
  Append(q, 0);
  q.ReverseGroupAndMark();
  int appended = 1;
  while (Append(q, appended * 10)) ++appended;
  EXPECT_EQ(appended, 35);
  // Every node is in the unfinished group: nothing can be shown and nothing is free.
  FrameInfo info;
  engine::PixelBlock spare;
  EXPECT_FALSE(q.Fetch(info, spare));
  EXPECT_EQ(q.FreeCount(), 35) << "cleared";
  EXPECT_FALSE(q.HasGroupMark());
  EXPECT_NE(Append(q, 1000), nullptr) << "the decoder can go on";
}

}  // namespace
