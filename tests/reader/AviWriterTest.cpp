// The clip writer's structure: OpenDML indexes (read with "idx1" out of the
// way), the cipher marker, data streams, the AVIX continuation, and damaged
// AVI headers and indexes.
#include "QVVReader/AviWriter.h"

#include <gtest/gtest.h>

#include "QVVReader/AviDemuxer.h"
#include "QVVReader/FourCC.h"
#include "tests/reader/PeerTestUtil.h"
#include "tests/support/Process.h"
#include "tests/support/QvvSample.h"
#include "tests/support/TempDir.h"

namespace {

using namespace qvv;
using testing_support::ReadFileBytes;
using testing_support::RunShell;
using testing_support::TempDir;
using testing_support::WriteFileBytes;

const std::string kTool = DRAVIK_TOOL;

// Writes a clip of `frames` video frames (every fifth a key frame, every 7th
// missing) and a data stream with a GPS record a second.
void WriteClip(const std::filesystem::path& path, int frames, uint32_t cipher, int64_t riff_size = 0,
               size_t frame_bytes = 1000) {
  AviWriter w;
  if (riff_size) w.set_max_riff_size(riff_size);
  AviClipStream video;
  video.kind = 0;
  video.codec_tag = FourCC("DRVK");  // not a codec FFmpeg decodes: ffprobe lists packets without probing them
  video.time_base = {1, 25};
  video.width = 64;
  video.height = 48;
  video.format = AviWriter::BitmapInfoHeader(64, 48, video.codec_tag);
  AviClipStream data;
  data.kind = 2;
  data.time_base = {1, 1};
  ASSERT_EQ(w.Begin(path.string(), {video, data}, cipher, {{"Title", "clip"}}), 0);
  std::vector<uint8_t> payload(frame_bytes);
  for (int f = 0; f < frames; ++f) {
    if (f % 7 == 3) continue;  // missing: an empty chunk keeps its place
    for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<uint8_t>(f + i);
    ASSERT_EQ(w.WritePacket(0, f, f % 5 == 0, payload.data(), payload.size()), 0);
    if (f % 25 == 0) {
      const auto record = testing_support::GpsRecord(22.5, 114.0, f, "B-1");
      ASSERT_EQ(w.WritePacket(1, f / 25, true, record.data(), record.size()), 0);
    }
  }
  ASSERT_EQ(w.Finish(), 0);
}

struct Opened {
  explicit Opened(const std::filesystem::path& path) : pb(url_open_file(path.c_str(), kUrlReadOnly)) {
    status = pb ? avi.Open(pb, path.string()) : -1;
  }
  ~Opened() { url_fclose(pb); }
  ByteIOContext* pb;
  AviDemuxer avi;
  int status;
};

TEST(AviWriter, ClipsCarryCipherMarkerDataStreamsAndGaps) {
  TempDir dir;
  const auto path = dir / "clip.avi";
  WriteClip(path, 60, 1);
  Opened file(path);
  ASSERT_EQ(file.status, 0);
  EXPECT_EQ(file.avi.cipher_marker(), 1u);
  EXPECT_TRUE(file.avi.is_odml());
  EXPECT_EQ(file.avi.tags().at("Software"), "Lavf52.31.0");
  EXPECT_EQ(file.avi.tags().at("Title"), "clip");
  EXPECT_EQ(file.avi.context().streams[1]->kind, kKindData);
  ReaderPacket p;
  std::vector<int64_t> video_pts;
  int records = 0;
  for (;;) {
    const int r = file.avi.ReadPacket(p);
    if (r < 0) break;
    if (p.stream_index == 0) video_pts.push_back(p.pts);
    if (p.stream_index == 1) {
      ++records;
      EXPECT_EQ(p.data[0], 0x02) << "an AMF0 record name";
    }
  }
  ASSERT_EQ(video_pts.size(), 60u - 9u);
  EXPECT_EQ(video_pts[3], 4) << "frame 3 is missing; frame 4 keeps its time";
  EXPECT_EQ(records, 3);
  // ffprobe agrees, gaps included.
  const auto theirs = reader_test::FfprobePackets(path.string());
  int64_t last_video = -1;
  for (const auto& t : theirs) {
    if (t.kind == "video") last_video = t.pts;
  }
  EXPECT_EQ(last_video, 58) << "frame 59 is one of the missing ones";
}

TEST(AviWriter, TheOpenDmlIndexAloneServesSeeking) {
  TempDir dir;
  const auto path = dir / "clip.avi";
  WriteClip(path, 100, 0);
  std::string bytes = ReadFileBytes(path);
  const size_t idx1 = bytes.rfind("idx1");
  ASSERT_NE(idx1, std::string::npos);
  bytes.replace(idx1, 4, "JUNK");  // only "indx" + "ix##" remain
  const auto only_odml = dir / "odml.avi";
  WriteFileBytes(only_odml, bytes);
  Opened file(only_odml);
  ASSERT_EQ(file.status, 0);
  ASSERT_TRUE(file.avi.Seek(2'040'000));  // frame 51: key frames at 50 and 55
  ReaderPacket p;
  ASSERT_GT(file.avi.ReadPacket(p), 0);
  EXPECT_EQ(p.pts, 50);
  EXPECT_TRUE(p.flags & kPacketFlagKey);
  // And the same packets as ffprobe reads.
  const auto ours = reader_test::ToolPackets(kTool, only_odml.string());
  const auto theirs = reader_test::FfprobePackets(only_odml.string());
  ASSERT_EQ(ours.size(), theirs.size());
  for (size_t i = 0; i < ours.size(); ++i) {
    EXPECT_EQ(ours[i].crc, theirs[i].crc);
    EXPECT_EQ(ours[i].key, theirs[i].key);
  }
}

TEST(AviWriter, ContinuesInAvixListsPastTheRiffLimit) {
  TempDir dir;
  const auto path = dir / "clip.avi";
  WriteClip(path, 200, 0, /*riff_size=*/64 * 1024);
  const std::string bytes = ReadFileBytes(path);
  EXPECT_GE(std::count_if(bytes.begin(), bytes.end() - 4, [&](const char& c) { return std::string_view(&c, 4) == "AVIX"; }), 2);
  const auto ours = reader_test::ToolPackets(kTool, path.string());
  const auto theirs = reader_test::FfprobePackets(path.string());
  ASSERT_EQ(ours.size(), theirs.size());
  EXPECT_EQ(ours.size(), 171u + 7u) << "29 frames missing, one of them with the record of its second";
  for (size_t i = 0; i < ours.size(); ++i) EXPECT_EQ(ours[i].crc, theirs[i].crc);
  std::string errors;
  EXPECT_EQ(RunShell("ffprobe -v error -count_packets -show_entries stream=nb_read_packets -of csv=p=0 '" +
                         path.string() + "' 2>&1",
                     &errors),
            0);
  EXPECT_EQ(errors, "171\n7\n");
}

// Builds an AVI header by hand from chunks.
std::string Chunk(const std::string& id, const std::string& body) {
  std::string out = id;
  const uint32_t n = static_cast<uint32_t>(body.size());
  out += std::string{static_cast<char>(n), static_cast<char>(n >> 8), static_cast<char>(n >> 16), static_cast<char>(n >> 24)};
  out += body;
  if (n & 1) out += '\0';
  return out;
}
std::string List(const std::string& type, const std::string& body) { return Chunk("LIST", type + body); }
std::string Strl(const std::string& type, const std::string& handler) {
  std::string strh = type + handler + std::string(12, '\0');
  strh += std::string("\x01\0\0\0\x19\0\0\0", 8) + std::string(24, '\0');
  return List("strl", Chunk("strh", strh));
}
std::string Avi(const std::string& hdrl_body, const std::string& movi_body) {
  const std::string avih = Chunk("avih", std::string("\x40\x9c\0\0", 4) + std::string(36, '\0') + std::string("\x02\0\0\0", 4) + std::string(12, '\0'));
  const std::string body = "AVI " + List("hdrl", avih + hdrl_body) + List("movi", movi_body);
  return Chunk("RIFF", body);
}

TEST(AviWriter, DamagedHeadersAreRefusedAndDamagedDataIsCrossed) {
  TempDir dir;
  const std::string frame = Chunk("00dc", "abcd");
  const auto open = [&](const std::string& bytes) {
    WriteFileBytes(dir / "x.avi", bytes);
    return std::make_unique<Opened>(dir / "x.avi");
  };
  EXPECT_EQ(open(Avi(Strl("vids", "H264"), frame))->status, 0);
  EXPECT_EQ(open(Avi(Strl("xxxx", "H264"), frame))->status, -1) << "unknown stream type";
  EXPECT_EQ(open(Avi(Strl("vids", "H264") + Strl("iavs", "dvsd"), frame))->status, -1) << "DV among others";
  EXPECT_EQ(open(Avi(Strl("iavs", "dvsd"), frame))->status, 0) << "DV alone";
  EXPECT_EQ(open(Avi(List("strl", ""), frame))->status, -1) << "a strl list without a stream";
  EXPECT_EQ(open(Avi(Strl("vids", "H264") + Strl("pads", "xxxx"), frame))->status, 0) << "padding streams do not count";
  EXPECT_EQ(open("RIFF\0\0\0\0WAVE")->status, -1);
  // Garbage and a lying chunk size inside movi: the good frames around it are read.
  auto file = open(Avi(Strl("vids", "H264"), frame + "garbage!" + Chunk("00dc", "efgh") +
                                                  std::string("00dc\xff\xff\xff\x7f", 8) + Chunk("00dc", "ijkl")));
  ASSERT_EQ(file->status, 0);
  ReaderPacket p;
  std::vector<std::string> payloads;
  int r;
  while ((r = file->avi.ReadPacket(p)) >= 0) payloads.emplace_back(reinterpret_cast<char*>(p.data.get()), p.size);
  EXPECT_EQ(r, kAviEndOfFile);
  EXPECT_TRUE(IsEndOfStream(r));
  EXPECT_EQ(payloads, (std::vector<std::string>{"abcd", "efgh", "ijkl"}));
}

TEST(AviWriter, IndexEntriesPastTheEndAreSkipped) {
  TempDir dir;
  const auto path = dir / "clip.avi";
  WriteClip(path, 20, 0);
  std::string bytes = ReadFileBytes(path);
  // Point the last idx1 entry far past the end and rename the OpenDML index away.
  const size_t idx1 = bytes.rfind("idx1");
  const size_t last = bytes.size() - 16;
  bytes[last + 8] = '\xff';
  bytes[last + 9] = '\xff';
  bytes[last + 10] = '\xff';
  bytes[last + 11] = '\x0f';
  for (size_t at = bytes.find("indx"); at != std::string::npos && at < idx1; at = bytes.find("indx", at + 1)) bytes.replace(at, 4, "JUNK");
  WriteFileBytes(path, bytes);
  Opened file(path);
  ASSERT_EQ(file.status, 0);
  ReaderPacket p;
  int n = 0;
  while (file.avi.ReadPacket(p) >= 0) ++n;
  EXPECT_GE(n, 17);
}

}  // namespace
