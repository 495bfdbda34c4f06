// The QVV reader against files of our own writer: forward and reverse order,
// key flags, metadata, seeking from both directions, and damaged files.
#include "QVVReader/QvvDemuxer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "QVVReader/Amf0Writer.h"
#include "tests/support/QvvSample.h"
#include "tests/support/TempDir.h"

namespace {

using namespace qvv;
using testing_support::QvvSampleOptions;
using testing_support::ReadFileBytes;
using testing_support::TempDir;
using testing_support::WriteFileBytes;
using testing_support::WrittenPacket;

struct ReadPacketInfo {
  int stream;
  int64_t pts;
  bool key;
  std::vector<uint8_t> payload;
};

// An opened file with its reader; closes on destruction.
class Opened {
 public:
  explicit Opened(const std::filesystem::path& path, bool reverse = false) {
    pb_ = url_open_file(path.c_str(), kUrlReadOnly);
    if (!pb_) return;
    status_ = reverse ? demuxer_.OpenReverse(pb_, path.string()) : demuxer_.Open(pb_, path.string());
  }
  ~Opened() { url_fclose(pb_); }
  bool ok() const { return pb_ && status_ == 0; }
  QvvDemuxer& demuxer() { return demuxer_; }
  ByteIOContext* pb() { return pb_; }

  // Reads to the end; the last status in `end_status`.
  std::vector<ReadPacketInfo> ReadAll(bool reverse = false, int* end_status = nullptr) {
    std::vector<ReadPacketInfo> out;
    ReaderPacket packet;
    for (int guard = 0; guard < 100000; ++guard) {
      const int r = reverse ? demuxer_.ReadPacketReverse(packet) : demuxer_.ReadPacket(packet);
      if (r < 0) {
        if (end_status) *end_status = r;
        break;
      }
      out.push_back({packet.stream_index, packet.pts, (packet.flags & kPacketFlagKey) != 0,
                     std::vector<uint8_t>(packet.data.get(), packet.data.get() + packet.size)});
    }
    return out;
  }

 private:
  ByteIOContext* pb_ = nullptr;
  QvvDemuxer demuxer_;
  int status_ = -1;
};

void ExpectSame(const std::vector<WrittenPacket>& written, const std::vector<ReadPacketInfo>& read) {
  ASSERT_EQ(read.size(), written.size());
  for (size_t i = 0; i < read.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(read[i].stream, written[i].stream);
    EXPECT_EQ(read[i].pts, written[i].pts_us);
    EXPECT_EQ(read[i].key, written[i].key);
    EXPECT_EQ(read[i].payload, written[i].payload);
  }
}

TEST(QvvDemuxer, ReadsBackEveryPacketWithStreamsAndMetadata) {
  TempDir dir;
  QvvSampleOptions o;
  o.video = 3;
  o.audio = 2;
  o.data = 1;
  const auto path = dir / "20240102030405_1000.qvv";
  const auto written = WriteQvvSample(path, o);
  Opened file(path);
  ASSERT_TRUE(file.ok());
  const auto read = file.ReadAll();
  ExpectSame(written, read);

  const AVFormatContext& ctx = file.demuxer().context();
  EXPECT_EQ(ctx.nb_streams, 6);
  EXPECT_EQ(ctx.duration, 4000000) << "metadata milliseconds become microseconds";
  EXPECT_EQ(ctx.file_size, static_cast<int64_t>(std::filesystem::file_size(path)));
  EXPECT_EQ(ctx.start_time, 1700000000);
  EXPECT_STREQ(ctx.bus_number, "BUS-42");
  const AVStream* video = ctx.FindStream(2);
  ASSERT_NE(video, nullptr);
  EXPECT_EQ(video->kind, kKindVideo);
  EXPECT_EQ(video->codec_id, codec_id::kH264);
  EXPECT_EQ(video->width, 640);
  EXPECT_EQ(video->frame_rate, 5);
  EXPECT_EQ(video->bit_rate, 512 * 1024);
  EXPECT_EQ(video->time_base.den, 1000000);
  const AVStream* audio = ctx.FindStream(3);
  ASSERT_NE(audio, nullptr);
  EXPECT_EQ(audio->kind, kKindAudio) << "\"streamtype\" turns a declared stream into audio";
  EXPECT_EQ(audio->codec_id, codec_id::kVoice);
  EXPECT_EQ(audio->sample_rate, 8000);
  EXPECT_EQ(audio->channels, 1);
  EXPECT_EQ(ctx.FindStream(5)->kind, kKindData);
}

TEST(QvvDemuxer, AudioIsAlwaysKeyVideoOnlyOnKeyFrames) {
  TempDir dir;
  QvvSampleOptions o;
  o.video = 1;
  o.audio = 1;
  o.gop = 3;
  const auto path = dir / "20240102030405_1000.qvv";
  WriteQvvSample(path, o);
  Opened file(path);
  int video_keys = 0, video = 0;
  for (const auto& p : file.ReadAll()) {
    if (p.stream == 1) {
      EXPECT_TRUE(p.key);
    }
    if (p.stream == 0) {
      ++video;
      video_keys += p.key;
    }
  }
  EXPECT_EQ(video, 20);
  EXPECT_EQ(video_keys, 7);
}

// Reverse play: groups from the end towards the start, each group forward, every
// video packet exactly once; audio and data all delivered too.
TEST(QvvDemuxer, ReverseDeliversGroupsBackwards) {
  TempDir dir;
  QvvSampleOptions o;
  o.video = 3;
  o.audio = 1;
  o.data = 1;
  o.seconds = 5;
  const auto path = dir / "20240102030405_1000.qvv";
  const auto written = WriteQvvSample(path, o);
  Opened file(path, true);
  ASSERT_TRUE(file.ok());
  int end_status = 0;
  const auto read = file.ReadAll(true, &end_status);
  EXPECT_EQ(end_status, kErrEndOfStream);
  ASSERT_EQ(read.size(), written.size());

  for (int v = 0; v < 3; ++v) {
    SCOPED_TRACE(v);
    std::vector<int64_t> times;
    for (const auto& p : read) {
      if (p.stream == v) times.push_back(p.pts);
    }
    ASSERT_EQ(times.size(), 25u);
    // Split into groups at key frames as they come; groups descend, frames ascend inside.
    std::vector<std::vector<int64_t>> groups;
    for (const auto& p : read) {
      if (p.stream != v) continue;
      if (p.key || groups.empty()) groups.emplace_back();
      groups.back().push_back(p.pts);
    }
    ASSERT_EQ(groups.size(), 5u);
    for (size_t g = 0; g < groups.size(); ++g) {
      EXPECT_TRUE(std::is_sorted(groups[g].begin(), groups[g].end()));
      EXPECT_EQ(groups[g].size(), 5u);
      if (g > 0) {
        EXPECT_LT(groups[g].front(), groups[g - 1].front());
      }
    }
  }
  std::multiset<int64_t> audio;
  for (const auto& p : read) {
    if (p.stream == 3) audio.insert(p.pts);
  }
  EXPECT_EQ(audio.size(), 25u);
  EXPECT_EQ(std::set<int64_t>(audio.begin(), audio.end()).size(), 25u) << "each once";
}

// The key frame the seek must land on: the earliest, in file order, of the
// video key frames in the last second at or before the target that has any.
int64_t ExpectedKeyFrame(const std::vector<WrittenPacket>& written, int64_t target_second) {
  int64_t second = -1;
  for (const auto& p : written) {
    if (p.kind == 0 && p.key && p.pts_us / 1000000 <= target_second) second = std::max(second, p.pts_us / 1000000);
  }
  for (const auto& p : written) {
    if (p.kind == 0 && p.key && p.pts_us / 1000000 == second) return p.pts_us;
  }
  return -1;
}

TEST(QvvDemuxer, SeekLandsOnTheEarliestKeyFrameOfTheSecondFromBothDirections) {
  TempDir dir;
  struct Case {
    int trend;  // the byte estimate lands after, near and before the target
    int channels;
    int key_frame_size;  // large key frames: the estimate lands inside one
  };
  for (const Case c : {Case{-1, 2, 0}, Case{0, 2, 0}, Case{1, 2, 0}, Case{0, 4, 200000}, Case{1, 4, 400000}}) {
    SCOPED_TRACE(testing::Message() << "trend " << c.trend << ", " << c.channels << " channels, key frames of "
                                    << c.key_frame_size);
    QvvSampleOptions o;
    o.video = c.channels;
    o.audio = 1;
    o.seconds = 8;
    o.size_trend = c.trend;
    o.key_frame_size = c.key_frame_size;
    const auto path = dir / "20240102030405_1000.qvv";
    const auto written = WriteQvvSample(path, o);
    for (int64_t second = 1; second < 8; ++second) {
      for (bool from_end : {false, true}) {
        SCOPED_TRACE(testing::Message() << "second " << second << (from_end ? " from the end" : " from the start"));
        Opened file(path);
        file.demuxer().ReadLeadingMetadata();
        if (from_end) file.ReadAll();
        ASSERT_TRUE(file.demuxer().Seek(second * 1000000 + 300000));
        const auto read = file.ReadAll();
        ASSERT_FALSE(read.empty());
        EXPECT_EQ(read[0].pts, ExpectedKeyFrame(written, second));
        // Every channel starts with its key frame.
        std::map<int, bool> first_is_key;
        for (const auto& p : read) {
          if (p.stream < c.channels) first_is_key.emplace(p.stream, p.key);
        }
        ASSERT_EQ(first_is_key.size(), static_cast<size_t>(c.channels));
        for (const auto& [stream, key] : first_is_key) EXPECT_TRUE(key) << "channel " << stream;
      }
    }
  }
}

TEST(QvvDemuxer, SeekEdgeCases) {
  TempDir dir;
  QvvSampleOptions o;
  o.video = 1;
  o.first_key_frame = 10;  // no key frame in the first two seconds
  const auto path = dir / "20240102030405_1000.qvv";
  const auto written = WriteQvvSample(path, o);
  Opened file(path);
  file.demuxer().ReadLeadingMetadata();
  EXPECT_FALSE(file.demuxer().Seek(-1));
  const int64_t before = url_ftell(file.pb());
  EXPECT_FALSE(file.demuxer().Seek(1500000)) << "no key frame at or before 1 s";
  EXPECT_EQ(url_ftell(file.pb()), before) << "the position is left as it was";
  ReaderPacket packet;
  ASSERT_GT(file.demuxer().ReadPacket(packet), 0);
  EXPECT_EQ(packet.pts, written.front().pts_us);
  // Zero goes to byte 0; reading finds the first tag again.
  file.ReadAll();
  EXPECT_TRUE(file.demuxer().Seek(0));
  ASSERT_GT(file.demuxer().ReadPacket(packet), 0);
  EXPECT_EQ(packet.pts, written.front().pts_us);
}

// ---------------------------------------------------------------- damage

TEST(QvvDemuxer, GarbageBetweenTagsAndZeroSizedTagsAreSkipped) {
  TempDir dir;
  const auto path = dir / "20240102030405_1000.qvv";
  QvvFileConfig config;
  config.video = 1;
  config.streams = {{0, 28, 320, 240, 25, 100, 0, 0, 0}};
  QvvWriter writer;
  ASSERT_EQ(writer.Open(path.string(), config), 0);
  const std::vector<uint8_t> a(100, 0xAA), b(300, 0xBB), c(495, 0xCC);
  writer.WriteVideo(0, 0, true, a.data(), a.size());
  const uint8_t garbage[] = {0x01, 0xFF, 0x07, 0x00, 0x01, 0x01, 0xFF, 0x00, 0x13, 0x42};
  writer.WriteRaw(garbage, sizeof garbage);
  writer.WriteTag(9, 0, 40000, 0x20, nullptr, 0);  // data size 1: flags only, no payload
  writer.WriteVideo(0, 80000, false, b.data(), b.size());
  // A payload of 495 bytes gives data size 496 and PreviousTagSize 0x1FF: the
  // field's last bytes read like a marker.
  writer.WriteVideo(0, 120000, false, c.data(), c.size());
  writer.WriteVideo(0, 160000, false, b.data(), b.size());
  ASSERT_EQ(writer.Finish(200), 0);
  Opened file(path);
  const auto read = file.ReadAll();
  ASSERT_EQ(read.size(), 4u);
  EXPECT_EQ(read[0].payload, a);
  EXPECT_EQ(read[1].pts, 80000);
  EXPECT_EQ(read[2].payload, c);
  EXPECT_EQ(read[3].pts, 160000);
}

TEST(QvvDemuxer, TruncatedAnywhereEndsCleanlyWithIntactPackets) {
  TempDir dir;
  QvvSampleOptions o;
  o.video = 2;
  o.audio = 1;
  o.data = 1;
  o.seconds = 1;
  o.payload_min = 20;
  o.payload_max = 300;
  const auto full_path = dir / "20240102030405_1000.qvv";
  const auto written = WriteQvvSample(full_path, o);
  const std::string bytes = ReadFileBytes(full_path);
  const auto cut_path = dir / "20240102030406_1000.qvv";
  bool opened_shorter = false;
  for (size_t cut = 0; cut < bytes.size(); cut += 7) {
    WriteFileBytes(cut_path, std::string_view(bytes).substr(0, cut));
    Opened file(cut_path);
    if (!file.ok()) {
      EXPECT_FALSE(opened_shorter) << "a cut before the first whole packet refuses to open; cut " << cut;
      continue;
    }
    opened_shorter = true;
    int status = 0;
    const auto read = file.ReadAll(false, &status);
    EXPECT_TRUE(status == kErrEndOfStream || status == kErrIO) << status;
    ASSERT_LE(read.size(), written.size());
    for (size_t i = 0; i < read.size(); ++i) ASSERT_EQ(read[i].payload, written[i].payload) << "cut " << cut;
    Opened reverse(cut_path, true);
    reverse.ReadAll(true);  // must end, whatever it finds
  }
}

// Builds a file by hand: header bytes, then tags.
class RawQvv {
 public:
  explicit RawQvv(std::vector<uint8_t> header_counts) {
    bytes_ = {'Q', 'V', 'V', 1};
    bytes_.insert(bytes_.end(), header_counts.begin(), header_counts.end());
    const uint32_t offset = static_cast<uint32_t>(bytes_.size() + 4);
    Be(offset, 4);
    Be(0, 4);
  }
  void Tag(int type, uint32_t stream, uint32_t ts, const std::vector<uint8_t>& data, int64_t size_field = -1) {
    bytes_.push_back(0x01);
    bytes_.push_back(0xFF);
    bytes_.push_back(static_cast<uint8_t>(type));
    Be(size_field >= 0 ? static_cast<uint32_t>(size_field) : static_cast<uint32_t>(data.size()), 3);
    Be(ts & 0xFFFFFF, 3);
    bytes_.push_back(static_cast<uint8_t>(ts >> 24));
    Be(stream, 3);
    bytes_.insert(bytes_.end(), data.begin(), data.end());
    Be(0, 2);
    Be(static_cast<uint32_t>(data.size() + 15), 4);
  }
  void Write(const std::filesystem::path& path) {
    WriteFileBytes(path, std::string(bytes_.begin(), bytes_.end()));
  }

 private:
  void Be(uint32_t v, int n) {
    for (int i = n - 1; i >= 0; --i) bytes_.push_back(static_cast<uint8_t>(v >> (8 * i)));
  }
  std::vector<uint8_t> bytes_;
};

TEST(QvvDemuxer, HeaderFormsFollowTheNameLength) {
  TempDir dir;
  {  // one count byte of 0: 4 video, 4 audio, 1 data
    RawQvv raw({0x00});
    raw.Tag(9, 0, 0, {0x10, 1, 2, 3});
    const auto path = dir / "20240102030405_1000.qvv";
    raw.Write(path);
    Opened file(path);
    ASSERT_TRUE(file.ok());
    EXPECT_EQ(file.demuxer().context().nb_streams, 9);
    EXPECT_EQ(file.demuxer().context().streams[8]->kind, kKindData);
    EXPECT_EQ(file.ReadAll().size(), 1u);
  }
  {  // 113 characters or more: three count bytes
    RawQvv raw({12, 12, 1});
    raw.Tag(9, 11, 5, {0x10, 9, 9});
    const std::string name = "20240102030405_NM_0000060000_0000000001_0001_0002_03_00000004_" +
                             std::string(36, '0') + "ID1234567890_fff.qvv";
    ASSERT_GE(name.size(), 113u);
    const auto path = dir / name;
    raw.Write(path);
    Opened file(path);
    ASSERT_TRUE(file.ok());
    EXPECT_EQ(file.demuxer().context().nb_streams, 25);
    const auto read = file.ReadAll();
    ASSERT_EQ(read.size(), 1u);
    EXPECT_EQ(read[0].stream, 11);
  }
}

TEST(QvvDemuxer, UndeclaredStreamsAreCreatedUpToFortyEight) {
  TempDir dir;
  RawQvv raw({0x20});  // one video stream
  raw.Tag(8, 7, 0, {0x2E, 1, 2});      // audio, undeclared
  raw.Tag(22, 9, 0, {0x10, 0x05});     // data record, undeclared
  for (uint32_t s = 10; s < 60; ++s) raw.Tag(9, s, 0, {0x10, static_cast<uint8_t>(s)});
  const auto path = dir / "20240102030405_1000.qvv";
  raw.Write(path);
  Opened file(path);
  const auto read = file.ReadAll();
  const AVFormatContext& ctx = file.demuxer().context();
  EXPECT_EQ(ctx.nb_streams, kMaxStreams);
  EXPECT_EQ(ctx.FindStream(7)->kind, kKindAudio);
  EXPECT_EQ(ctx.FindStream(7)->sample_rate, 44100);
  EXPECT_EQ(ctx.FindStream(7)->bits_per_sample, 16);
  EXPECT_EQ(ctx.FindStream(9)->kind, kKindData);
  // 1 declared + 2 + 45 video streams fill the table; tags of the rest are skipped.
  EXPECT_EQ(read.size(), 2u + 45u);
  EXPECT_EQ(ctx.FindStream(55), nullptr);
}

TEST(QvvDemuxer, OverlongMetadataStringAbandonsTheRestOfTheTag) {
  TempDir dir;
  RawQvv raw({0x21});  // one video, one data
  Amf0Writer amf;
  amf.String("onMetaData");
  amf.BeginArray(3);
  amf.Field("start_time", 77);
  amf.Field("busnum", std::string(256, 'x'));
  amf.Field("duration", 5000);
  amf.EndArray();
  raw.Tag(18, 0, 0, amf.bytes());
  raw.Tag(9, 0, 0, {0x10, 1});
  const auto path = dir / "20240102030405_1000.qvv";
  raw.Write(path);
  Opened file(path);
  EXPECT_EQ(file.ReadAll().size(), 1u) << "reading goes on after the metadata tag";
  EXPECT_EQ(file.demuxer().context().start_time, 77) << "keys before the long string stay";
  EXPECT_STREQ(file.demuxer().context().bus_number, "");
  EXPECT_NE(file.demuxer().context().duration, 5000000) << "keys after it are not applied";
}

}  // namespace
