// The guard that keeps a damaged time stamp off the playback clock.
#include "engine/TimestampGuard.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using engine::TimestampGuard;

// Feeds the time stamps; returns those accepted.
std::vector<int64_t> Pass(TimestampGuard& guard, const std::vector<int64_t>& times) {
  std::vector<int64_t> accepted;
  for (const int64_t t : times)
    if (guard.Accept(t)) accepted.push_back(t);
  return accepted;
}

TEST(TimestampGuard, ALoneTimeStampFarOffTheTimeLineIsDropped) {
  TimestampGuard guard(4000);
  // Four channels a frame apart; one tag of channel 2 damaged to 0xFFFFFFFF us.
  EXPECT_EQ(Pass(guard, {0, 0, 0, 0, 40, 40, 4294967, 40, 80, 80}), (std::vector<int64_t>{0, 0, 0, 0, 40, 40, 40, 80, 80}));
  EXPECT_EQ(guard.dropped(), 1u);
  // A jump within the recording but more than five seconds away is as suspect.
  EXPECT_EQ(Pass(guard, {120, 6000, 160}), (std::vector<int64_t>{120, 160}));
  EXPECT_EQ(guard.dropped(), 2u);
  // Negative times are markers to the filter, never a picture's.
  EXPECT_FALSE(guard.Accept(-3));
  EXPECT_EQ(guard.dropped(), 3u);

  // Far behind is as suspect as far ahead; a step back within the limit is not
  // (channels are interleaved, backwards play steps back by groups).
  TimestampGuard open;
  EXPECT_EQ(Pass(open, {20000, 20040, 9000, 20080, 19000}), (std::vector<int64_t>{20000, 20040, 20080, 19000}));
  EXPECT_EQ(open.dropped(), 1u);
}

TEST(TimestampGuard, BeyondTheRecordedDurationIsSuspectFromTheFirstTimeStamp) {
  TimestampGuard known(4000);
  EXPECT_EQ(Pass(known, {4294967, 0, 40}), (std::vector<int64_t>{0, 40}));
  EXPECT_EQ(known.dropped(), 1u);
  // Within the limit past the end: a duration rounded down.
  EXPECT_TRUE(known.Accept(4100));

  // Without a known duration the first time stamp starts the time line.
  TimestampGuard unknown;
  EXPECT_TRUE(unknown.Accept(4294967));
  EXPECT_EQ(unknown.dropped(), 0u);
}

TEST(TimestampGuard, TimeStampsThatAgreeMakeANewTimeLine) {
  // The recording really jumps (the recorder's clock was set): after three
  // time stamps on the new line, it is followed, also past a wrong duration.
  TimestampGuard guard(4000);
  EXPECT_EQ(Pass(guard, {0, 40, 80, 60000, 60000, 60040, 60040, 60080}), (std::vector<int64_t>{0, 40, 80, 60040, 60040, 60080}));
  EXPECT_EQ(guard.dropped(), 2u);
  EXPECT_FALSE(guard.Accept(80)) << "the old time line is now the suspect one";

  // Suspects that do not agree with each other never make a time line.
  TimestampGuard scattered(4000);
  EXPECT_EQ(Pass(scattered, {0, 40, 90000, 40, 200000, 80, 300000, 400000, 500000, 120}),
            (std::vector<int64_t>{0, 40, 40, 80, 120}));
  EXPECT_EQ(scattered.dropped(), 5u);

  // A custom limit: a two-second step is a jump.
  TimestampGuard tight(0, {1000, 2});
  EXPECT_EQ(Pass(tight, {0, 2000, 40, 2000, 2040, 2080}), (std::vector<int64_t>{0, 40, 2040, 2080}));
}

}  // namespace
