// Reverse play from a place in the recording: the first group read backwards
// is the one that holds the place, and the groups before it follow.
#include <gtest/gtest.h>

#include <memory>

#include "QVVReader/AviDemuxer.h"
#include "QVVReader/ByteIO.h"
#include "QVVReader/FlvDemuxer.h"
#include "QVVReader/QvvDemuxer.h"
#include "QVVReader/Rational.h"
#include "tests/support/Process.h"
#include "tests/support/QvvSample.h"
#include "tests/support/TempDir.h"

namespace {

using testing_support::RunShell;
using testing_support::TempDir;

// The seconds at which the video groups begin, in the order read.
std::vector<int64_t> GroupStartsFrom(const std::string& path, qvv::Demuxer& demuxer, int64_t target_us) {
  qvv::ByteIOContext* pb = nullptr;
  EXPECT_GE(qvv::url_fopen(&pb, path.c_str(), qvv::kUrlReadOnly), 0) << path;
  std::vector<int64_t> starts;
  if (!pb) return starts;
  if (demuxer.OpenReverse(pb, path) >= 0 && demuxer.SeekReverse(target_us)) {
    qvv::ReaderPacket packet;
    while (demuxer.ReadPacketReverse(packet) >= 0) {
      const qvv::AVStream* stream = demuxer.context().FindStream(packet.stream_index);
      if (!stream || stream->kind != qvv::kKindVideo || stream->stream_number != 0) continue;
      if (packet.flags & qvv::kPacketFlagKey)
        starts.push_back(qvv::av_rescale_q(packet.pts, stream->time_base, {1, 1000}) / 1000);
    }
  }
  qvv::url_fclose(pb);
  return starts;
}

TEST(ReverseSeek, EveryReaderStartsBackwardsAtTheGroupOfThePlace) {
  TempDir dir;
  for (const std::string format : {"qvv", "avi", "flv"}) {
    SCOPED_TRACE(format);
    std::string out;
    ASSERT_EQ(RunShell(std::string(DRAVIK_TOOL) + " mksample '" + (dir / format).string() + "' --format " + format +
                           " --channels 1 --seconds 6 --groups 1 --width 160 --height 96 --audio none",
                       &out),
              0);
    const std::string path = out.substr(0, out.find('\n'));
    auto make = [&]() -> std::unique_ptr<qvv::Demuxer> {
      if (format == "qvv") return std::make_unique<qvv::QvvDemuxer>();
      if (format == "avi") return std::make_unique<qvv::AviDemuxer>();
      return std::make_unique<qvv::FlvDemuxer>();
    };
    // One group a second: from 3.5 s the group of second 3, then 2, 1, 0.
    EXPECT_EQ(GroupStartsFrom(path, *make(), 3500000), (std::vector<int64_t>{3, 2, 1, 0}));
    EXPECT_EQ(GroupStartsFrom(path, *make(), 0), (std::vector<int64_t>{0}));
    // The last second, or beyond the end: from the end.
    EXPECT_EQ(GroupStartsFrom(path, *make(), 5500000), (std::vector<int64_t>{5, 4, 3, 2, 1, 0}));
    EXPECT_EQ(GroupStartsFrom(path, *make(), 60000000), (std::vector<int64_t>{5, 4, 3, 2, 1, 0}));
  }
}

TEST(ReverseSeek, GroupsLongerThanASecondStartAtTheGroupOfThePlace) {
  TempDir dir;
  testing_support::QvvSampleOptions o;
  o.video = 2;
  o.seconds = 6;
  o.fps = 5;
  o.gop = 10;  // a key frame every two seconds
  const auto path = (dir / "20240102030405_1000.qvv").string();
  testing_support::WriteQvvSample(path, o);
  qvv::QvvDemuxer a, b, c, d;
  EXPECT_EQ(GroupStartsFrom(path, a, 2500000), (std::vector<int64_t>{2, 0}));
  EXPECT_EQ(GroupStartsFrom(path, b, 3900000), (std::vector<int64_t>{2, 0}));
  EXPECT_EQ(GroupStartsFrom(path, c, 1000000), (std::vector<int64_t>{0}));
  EXPECT_EQ(GroupStartsFrom(path, d, 4000000), (std::vector<int64_t>{4, 2, 0}));
}

}  // namespace
