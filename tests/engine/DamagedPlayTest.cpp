// Whole playbacks of damaged recordings on the fake clock: a channel of
// broken packets, channels with nothing to decode, a time stamp far off the
// time line. The other channels must play as if nothing had happened, and
// playback must not wait for what cannot come.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "QVVReader/ByteIO.h"
#include "QVVReader/QvvDemuxer.h"
#include "QVVReader/QvvWriter.h"
#include "cli/play/QvvPlayback.h"
#include "tests/support/FakeClock.h"
#include "tests/support/Process.h"
#include "tests/support/QvvSample.h"
#include "tests/support/TempDir.h"

namespace {

using testing_support::FakeClock;
using testing_support::TempDir;
using testing_support::VideoPacket;

struct Played {
  std::vector<cli::ChannelReport> reports;
  cli::PlaySummary summary;
  uint64_t took_ms = 0;  // fake-clock time of the whole run
  std::string stderr_text;
  const cli::ChannelReport* Channel(int c) const {
    for (const auto& r : reports)
      if (r.channel == c) return &r;
    return nullptr;
  }
};

class DamagedPlay : public ::testing::Test {
 protected:
  static constexpr int kFrames = 50;  // per channel: 2 s at 25 frames a second

  static void SetUpTestSuite() {
    dir_ = new TempDir;
    const std::string file = testing_support::MakeSampleQvv(DRAVIK_TOOL, dir_->path().string(), 4, 2);
    ASSERT_FALSE(file.empty());
    packets_ = new std::vector<VideoPacket>(testing_support::ReadQvvVideoPackets(file));
    ASSERT_EQ(packets_->size(), 4u * kFrames);
  }
  static void TearDownTestSuite() {
    delete packets_;
    delete dir_;
  }

  // The sample written again as a recording of `streams` video streams; every
  // packet goes through `change` (with its number within its channel) first,
  // and is left out when it returns false.
  std::string Rewrite(const std::string& name, int streams, int64_t duration_ms,
                      const std::function<bool(VideoPacket&, int)>& change) {
    qvv::QvvFileConfig config;
    config.video = streams;
    config.start_time = 1710489600;
    for (int i = 0; i < streams; ++i) config.streams.push_back({0, 28, 160, 96, 25, 512, 0, 0, 0});
    const std::string path = (*dir_ / name).string();
    qvv::QvvWriter writer;
    EXPECT_EQ(writer.Open(path, config), 0);
    int number[4] = {};
    for (VideoPacket p : *packets_) {
      const int n = number[p.stream]++;
      if (!change(p, n)) continue;
      writer.WriteVideo(static_cast<uint32_t>(p.stream), static_cast<uint32_t>(p.pts_us), n % 25 == 0, p.data.data(),
                        p.data.size());
    }
    EXPECT_EQ(writer.Finish(duration_ms), 0);
    return path;
  }

  static Played Play(const std::string& file, int channels = 12) {
    Played out;
    qvv::ByteIOContext* pb = qvv::url_open_file(file.c_str(), qvv::kUrlReadOnly);
    EXPECT_NE(pb, nullptr);
    if (!pb) return out;
    qvv::QvvDemuxer demuxer;
    EXPECT_EQ(demuxer.Open(pb, file), 0);
    demuxer.ReadLeadingMetadata();
    FakeClock clock;
    cli::PlayOptions options;
    options.channels = channels;
    options.time = &clock;
    options.sleeper = &clock;
    testing::internal::CaptureStderr();
    out.reports = cli::PlayQvv(demuxer, options, &out.summary);
    out.stderr_text = testing::internal::GetCapturedStderr();
    out.took_ms = clock.Now();
    qvv::url_fclose(pb);
    return out;
  }

  static void ExpectWhole(const Played& played, int channel, int pictures = kFrames) {
    SCOPED_TRACE(testing::Message() << "channel " << channel);
    const cli::ChannelReport* r = played.Channel(channel);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->shown, pictures) << "every picture";
    EXPECT_EQ(r->decode_errors, 0);
    EXPECT_TRUE(r->order_ok);
    EXPECT_EQ(r->first, 0);
    EXPECT_EQ(r->last - r->first, (pictures - 1) * 40);
    EXPECT_LE(r->max_skew_ms, 40);
  }

  static TempDir* dir_;
  static std::vector<VideoPacket>* packets_;
};
TempDir* DamagedPlay::dir_ = nullptr;
std::vector<VideoPacket>* DamagedPlay::packets_ = nullptr;

TEST_F(DamagedPlay, BrokenPacketsCountAsDecodeErrorsOfTheirChannelOnly) {
  // From the tenth packet on, channel 2 carries zeros and pseudo-random bytes.
  uint32_t lcg = 7;
  const std::string file = Rewrite("broken.qvv", 4, 2000, [&](VideoPacket& p, int n) {
    if (p.stream == 2 && n >= 10) {
      for (auto& b : p.data) b = n % 2 ? static_cast<uint8_t>((lcg = lcg * 1664525u + 1013904223u) >> 24) : 0;
    }
    return true;
  });
  const Played played = Play(file);
  ASSERT_EQ(played.reports.size(), 4u) << "the channels the recording has";
  for (const int c : {0, 1, 3}) ExpectWhole(played, c);
  const cli::ChannelReport* broken = played.Channel(2);
  ASSERT_NE(broken, nullptr);
  EXPECT_GE(broken->shown, 10) << "the pictures before the damage";
  EXPECT_GE(broken->decode_errors, 20) << "at least the packets of zeros";
  EXPECT_LE(broken->decode_errors, kFrames - 10);
  // The decoder's complaints are counted for channel 2, not printed.
  ASSERT_EQ(played.summary.libav_messages.size(), 1u);
  EXPECT_EQ(played.summary.libav_messages[0].channel, 2);
  EXPECT_GE(played.summary.libav_messages[0].errors, 20u);
  EXPECT_EQ(played.stderr_text, "");
}

TEST_F(DamagedPlay, AChannelWithNothingToDecodeDoesNotHoldUpTheStart) {
  struct Case {
    const char* name;
    int streams;
    std::function<bool(VideoPacket&, int)> change;
    int pictures[4];  // expected per channel
  };
  const std::vector<Case> cases = {
      // A declared camera that recorded nothing.
      {"silent.qvv", 4, [](VideoPacket& p, int) { return p.stream != 3; }, {kFrames, kFrames, kFrames, 0}},
      // Video packets of a camera that is not declared either: listed by its packets.
      {"undeclared.qvv", 3, [](VideoPacket&, int) { return true; }, {kFrames, kFrames, kFrames, kFrames}},
      // Channel 0 stopped after three pictures.
      {"stopped.qvv", 4, [](VideoPacket& p, int n) { return p.stream != 0 || n < 3; }, {3, kFrames, kFrames, kFrames}},
      // Cut after five frames: no channel reaches the eight pictures of the pre-roll.
      {"cut.qvv", 4, [](VideoPacket&, int n) { return n < 5; }, {5, 5, 5, 5}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Played played = Play(Rewrite(c.name, c.streams, 2000, c.change));
    EXPECT_LT(played.summary.preroll_ms, 500u) << "no waiting for the pre-roll's limit" << played.stderr_text;
    // 2 s of recording and the last pictures' 300 ms, not the 10 s limit.
    EXPECT_LT(played.took_ms, 5000u) << played.stderr_text;
    EXPECT_EQ(played.reports.size(), 4u);
    for (int ch = 0; ch < 4; ++ch) {
      if (c.pictures[ch] == 0) {
        ASSERT_NE(played.Channel(ch), nullptr) << ch;
        EXPECT_EQ(played.Channel(ch)->shown, 0);
      } else {
        ExpectWhole(played, ch, c.pictures[ch]);
      }
    }
  }
}

TEST_F(DamagedPlay, AFarOffTimeStampDoesNotMoveTheClock) {
  // One tag of channel 1 with a damaged time stamp, the recorder's 0xFFFFFFFF.
  const std::string file = Rewrite("far.qvv", 4, 2000, [](VideoPacket& p, int n) {
    if (p.stream == 1 && n == 30) p.pts_us = 0xFFFFFFFF;
    return true;
  });
  const Played played = Play(file);
  EXPECT_EQ(played.summary.dropped_timestamps, 1u);
  for (const int c : {0, 2, 3}) ExpectWhole(played, c);
  const cli::ChannelReport* one = played.Channel(1);
  ASSERT_NE(one, nullptr);
  EXPECT_EQ(one->shown, kFrames - 1) << "all but the dropped packet's picture";
  EXPECT_EQ(one->last, 1960);
  EXPECT_TRUE(one->order_ok);
  EXPECT_LE(one->max_skew_ms, 40);
}

}  // namespace
