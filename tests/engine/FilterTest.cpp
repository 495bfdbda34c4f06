// The playback filter: set-up and tear-down, input gating, markers, flushes,
// and whole playbacks through dravik-tool play on the real clock.
#include "engine/ACMovieFilter.h"

#include <gtest/gtest.h>

#include <chrono>
#include <sstream>
#include <thread>
#include <vector>

#include "QVVReader/Format.h"
#include "engine/ACMediaList.h"

#include "engine/EngineGlobals.h"
#include "tests/support/Process.h"
#include "tests/support/QvvSample.h"
#include "tests/support/TempDir.h"

namespace {

using namespace engine;
using testing_support::RunShell;
using testing_support::TempDir;

struct NullSurface : platform::Surface {
  int presented = 0;
  platform::Size ClientSize() const override { return {320, 180}; }
  void Present(const platform::Picture&, const platform::Rect&) override { ++presented; }
  void Erase(std::span<const platform::Rect>) override {}
};

class Filter : public ::testing::Test {
 protected:
  void SetUp() override { ResetAllSourceEvents(); }
  void TearDown() override { ResetAllSourceEvents(); }
};

TEST_F(Filter, SetUpStartsThirtySixThreadsAndTearDownIsIdempotent) {
  NullSurface panes[4];
  ACParam param;
  param.channel_count = 4;
  for (int i = 0; i < 4; ++i) param.windows[static_cast<size_t>(i)] = &panes[i];
  ACMovieFilter filter;
  EXPECT_EQ(filter.getFilterType(), 108);
  EXPECT_EQ(filter.InitFilter(&param), 1);
  EXPECT_EQ(filter.movie_count(), 4);
  EXPECT_EQ(filter.running_threads(), 36) << "all twelve positions, whatever the channel count";
  EXPECT_EQ(filter.FinalFilter(), 1);
  EXPECT_EQ(filter.running_threads(), 0);
  EXPECT_EQ(filter.movie_count(), 0);
  EXPECT_EQ(filter.FinalFilter(), 1);

  ACMovieFilter second;
  ACParam two;
  two.channel_count = 2;
  two.windows[0] = &panes[0];
  second.InitFilter(&two);
  EXPECT_EQ(second.movie_count(), 1) << "a position without a window keeps no movie";
  second.FinalFilter();
  ACMovieFilter bare;
  EXPECT_EQ(bare.InitFilter(nullptr), 1);
  EXPECT_EQ(bare.running_threads(), 36);
}

TEST_F(Filter, InputIsDroppedWithoutASourceAndRingsFillToFifteen) {
  ACMovieFilter filter;  // no threads: nothing consumes
  const uint8_t data[16] = {0, 0, 0, 1, 0x65};
  EXPECT_EQ(filter.InputData(3, 28, 40, data, sizeof data, 64, 64, 0), 1);
  EXPECT_EQ(filter.PacketCount(3), 0) << "acknowledged and dropped";
  EXPECT_EQ(filter.InputAlgData(3, data, sizeof data), 1);
  SourceActiveEvent(SourceKind::Avi).Set();
  for (int i = 0; i < 15; ++i) ASSERT_EQ(filter.InputData(3, 28, 40 * i, data, sizeof data, 64, 64, 0), 1);
  EXPECT_EQ(filter.InputData(3, 28, 600, data, sizeof data, 64, 64, 0), 0) << "the 16th waits";
  EXPECT_EQ(filter.PacketCount(3), 15);
}

TEST_F(Filter, MarkersGoIntoEveryRingAndEmptyDataEmptiesThem) {
  SourceActiveEvent(SourceKind::Qvv).Set();
  ACMovieFilter filter;
  EXPECT_EQ(filter.InputData(-2), 1);
  for (int c = 0; c < kChannelPositions; ++c) EXPECT_EQ(filter.PacketCount(c), 1) << c;
  EXPECT_EQ(filter.InitFilter(nullptr), 1);
  const uint8_t junk[64] = {0, 0, 0, 1, 0x65, 1, 2, 3};
  for (int c = 0; c < kChannelPositions; ++c) filter.InputData(c, 28, 40, junk, sizeof junk, 16, 16, 0);
  EXPECT_TRUE(filter.EmptyData());  // returns once every play thread has confirmed
  for (int c = 0; c < kChannelPositions; ++c) {
    EXPECT_EQ(filter.PacketCount(c), 0);
    EXPECT_EQ(filter.ReadyFrames(c), 0);
  }
  EXPECT_EQ(filter.clock_time(), 0);
  EXPECT_TRUE(filter.EmptyAlgData(-1));
  EXPECT_TRUE(filter.EmptyAlgData(5));
  filter.FinalFilter();
  EXPECT_EQ(filter.unanswered_waits(), 0);
}

TEST_F(Filter, StatusesSayWhatHappened) {
  SourceActiveEvent(SourceKind::Qvv).Set();
  ACMovieFilter filter;  // no threads
  const uint8_t data[8] = {0, 0, 0, 1, 0x65};
  // Arguments no retry can fix are refused, not acknowledged or left to retry.
  EXPECT_EQ(filter.InputData(12, 28, 0, data, sizeof data, 16, 16, 0), -1);
  EXPECT_EQ(filter.InputData(-1, 28, 0, data, sizeof data, 16, 16, 0), -1);
  EXPECT_EQ(filter.InputData(0, 28, 0, data, -5, 16, 16, 0), -1);
  EXPECT_EQ(filter.InputData(0, 28, 0, nullptr, 5, 16, 16, 0), -1);
  EXPECT_EQ(filter.InputAlgData(0, data, -1), -1);
  // A packet over the ring's limit is taken and dropped, and counted.
  std::vector<uint8_t> huge(ACMediaList::kSizeLimit + 1);
  EXPECT_EQ(filter.InputData(0, 28, 0, huge.data(), static_cast<int>(huge.size()), 16, 16, 0), 1);
  EXPECT_EQ(filter.PacketCount(0), 0);
  EXPECT_EQ(filter.DroppedPackets(0), 1);
  // A marker into a full ring whose decode thread does not run gives up at once.
  for (int i = 0; i < 15; ++i) ASSERT_EQ(filter.InputData(2, 28, i, data, sizeof data, 16, 16, 0), 1);
  EXPECT_EQ(filter.InputData(-1), 0);
  // Flushes with no thread to answer end at once.
  EXPECT_TRUE(filter.EmptyData());
  EXPECT_EQ(filter.unanswered_waits(), 0);
}

TEST_F(Filter, AnOverlayFlushIsAnsweredWhileAPictureWaitsForTheClock) {
  TempDir dir;
  const std::string file = testing_support::MakeSampleQvv(DRAVIK_TOOL, dir.path().string(), 1, 1);
  const auto packets = testing_support::ReadQvvVideoPackets(file);
  ASSERT_FALSE(packets.empty());
  SourceActiveEvent(SourceKind::Qvv).Set();
  ACMovieFilter filter;
  ASSERT_EQ(filter.InitFilter(nullptr), 1);
  // Due 100 ms after the clock's 0, which does not move (a paused reader);
  // the second picture publishes the first.
  for (int i = 0; i < 2; ++i) {
    const auto& p = packets[static_cast<size_t>(i)];
    ASSERT_EQ(filter.InputData(0, 28, 100 + 40 * i, p.data.data(), static_cast<int>(p.data.size()), 160, 96, 0), 1);
  }
  while (!filter.DecoderIdle(0) || filter.ReadyFrames(0) > 0) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  // The play thread holds the picture, waiting for the clock.
  EXPECT_TRUE(filter.EmptyAlgData(0));
  EXPECT_TRUE(filter.EmptyData());
  EXPECT_EQ(filter.unanswered_waits(), 0);
  filter.FinalFilter();
}

TEST_F(Filter, AStreamsExtradataReachesItsDecoder) {
  TempDir dir;
  const testing_support::FlvVideo flv = testing_support::MakeFlvVideo(dir.path(), DRAVIK_TOOL);
  ASSERT_FALSE(flv.extradata.empty());
  SourceActiveEvent(SourceKind::Flv).Set();
  ACMovieFilter filter;
  ASSERT_EQ(filter.InitFilter(nullptr), 1);
  filter.SetExtradata(4, flv.extradata);
  int fed = 0;
  for (const auto& packet : flv.packets) {
    while (filter.InputData(4, qvv::codec_id::kH264, packet.pts_us, packet.data.data(),
                            static_cast<int>(packet.data.size()), 160, 96, 0) == 0)
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    ++fed;
  }
  ASSERT_EQ(fed, 25);
  while (!filter.DecoderIdle(4)) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  EXPECT_EQ(filter.DecodeErrors(4), 0) << "length-prefixed pictures decoded with the stream's avcC";
  EXPECT_GE(filter.ReadyFrames(4), 20);
  filter.FinalFilter();
}

}  // namespace
