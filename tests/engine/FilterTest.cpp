// The playback filter: set-up and tear-down, input gating, markers, flushes,
// and whole playbacks through dravik-tool play on the real clock.
#include "engine/ACMovieFilter.h"

#include <gtest/gtest.h>

#include <sstream>

#include "engine/EngineGlobals.h"
#include "tests/support/Process.h"
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
  filter.InputData(-2);
  for (int c = 0; c < kChannelPositions; ++c) EXPECT_EQ(filter.PacketCount(c), 1) << c;
  filter.InitFilter(nullptr);
  const uint8_t junk[64] = {0, 0, 0, 1, 0x65, 1, 2, 3};
  for (int c = 0; c < kChannelPositions; ++c) filter.InputData(c, 28, 40, junk, sizeof junk, 16, 16, 0);
  filter.EmptyData();  // returns once every play thread has confirmed
  for (int c = 0; c < kChannelPositions; ++c) {
    EXPECT_EQ(filter.PacketCount(c), 0);
    EXPECT_EQ(filter.ReadyFrames(c), 0);
  }
  EXPECT_EQ(filter.clock_time(), 0);
  filter.EmptyAlgData(-1);
  filter.FinalFilter();
}

}  // namespace
