// The MP4 reader against ffprobe: packets, times and key flags as libavformat
// lists them, video turned into Annex B byte streams that decode, seeking,
// and damaged files that end with a clear message.
#include "QVVReader/Mp4Demuxer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>

#include "tests/reader/PeerTestUtil.h"
#include "tests/support/Process.h"
#include "tests/support/TempDir.h"

namespace {

using qvv::Mp4Demuxer;
using reader_test::Packet;
using reader_test::ToolPackets;
using testing_support::ReadFileBytes;
using testing_support::RunShell;
using testing_support::TempDir;
using testing_support::WriteFileBytes;

const std::string kTool = DRAVIK_TOOL;
// 4 s of 25 fps pictures with a key frame each second, and 4 s of sound.
const std::string kVideoIn = "-f lavfi -i testsrc=size=320x240:rate=25:duration=4 ";
const std::string kAudioIn = "-f lavfi -i sine=f=440:r=8000:d=4 ";
const std::string kH264 = "-c:v libx264 -pix_fmt yuv420p -g 25 -bf 2 ";
const std::string kHevc = "-c:v libx265 -pix_fmt yuv420p -g 25 -x265-params log-level=error -tag:v hvc1 ";
const std::string kAac = "-c:a aac ";

using ByteIO = std::unique_ptr<qvv::ByteIOContext, int (*)(qvv::ByteIOContext*)>;
ByteIO OpenBytes(const std::string& path) { return {qvv::url_open_file(path.c_str(), qvv::kUrlReadOnly), qvv::url_fclose}; }

std::string Make(const TempDir& dir, const std::string& name, const std::string& args) {
  const std::string path = (dir / name).string();
  const std::string cmd = "ffmpeg -v error -y " + args + " '" + path + "'";
  EXPECT_EQ(RunShell(cmd), 0) << cmd;
  return path;
}

// ffprobe's packets. The AAC priming packet carries side data, which compact
// output writes on a line of its own: such lines continue the packet before.
std::vector<Packet> FfprobePackets(const std::string& path) {
  std::string out;
  RunShell("ffprobe -v error -show_packets -show_data_hash CRC32 -of compact=p=0 "
           "-show_entries packet=codec_type,stream_index,pts,size,flags,data_hash '" + path + "'",
           &out);
  std::vector<std::string> records;
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) {
    if (line.empty()) continue;
    if (line[0] == '|' && !records.empty()) {
      records.back() += line;
    } else {
      records.push_back(line);
    }
  }
  std::vector<Packet> packets;
  for (const auto& record : records) {
    Packet p;
    std::istringstream fields(record);
    for (std::string field; std::getline(fields, field, '|');) {
      const auto eq = field.find('=');
      if (eq == std::string::npos) continue;
      const std::string key = field.substr(0, eq), value = field.substr(eq + 1);
      if (key == "codec_type") p.kind = value;
      if (key == "stream_index") p.stream = std::stoi(value);
      if (key == "pts") p.pts = value == "N/A" ? INT64_MIN : std::stoll(value);
      if (key == "size") p.size = std::stoi(value);
      if (key == "flags") p.key = value.find('K') != std::string::npos;
      if (key == "data_hash") p.crc = value.substr(value.find(':') + 1);
    }
    packets.push_back(p);
  }
  return packets;
}

// Same packets, times and key flags; audio byte for byte.
void ExpectPacketsLikeFfprobe(const std::string& path) {
  const auto ours = ToolPackets(kTool, path);
  const auto theirs = FfprobePackets(path);
  ASSERT_FALSE(theirs.empty()) << path;
  ASSERT_EQ(ours.size(), theirs.size()) << path;
  std::map<int, int> video_frames;
  for (size_t i = 0; i < ours.size(); ++i) {
    SCOPED_TRACE(testing::Message() << path << " packet " << i);
    EXPECT_EQ(ours[i].stream, theirs[i].stream);
    EXPECT_EQ(ours[i].kind, theirs[i].kind);
    EXPECT_EQ(ours[i].pts, theirs[i].pts);
    EXPECT_EQ(ours[i].key, theirs[i].key);
    if (ours[i].kind == "video") {
      ++video_frames[ours[i].stream];  // the bytes are Annex B's (see below)
    } else {
      EXPECT_EQ(ours[i].size, theirs[i].size);
      EXPECT_EQ(ours[i].crc, theirs[i].crc);
    }
  }
  EXPECT_FALSE(video_frames.empty());
}

struct Nal {
  int type;
  size_t offset;
};

// The NAL units of an Annex B packet; empty when it does not begin with a
// four-byte start code.
std::vector<Nal> AnnexBUnits(const uint8_t* p, size_t size, bool hevc) {
  std::vector<Nal> units;
  if (size < 5 || p[0] != 0 || p[1] != 0 || p[2] != 0 || p[3] != 1) return units;
  for (size_t i = 0; i + 3 < size; ++i) {
    if (p[i] == 0 && p[i + 1] == 0 && p[i + 2] == 1) {
      const uint8_t header = p[i + 3];
      units.push_back({hevc ? (header >> 1) & 0x3F : header & 0x1F, i + 3});
      i += 2;
    }
  }
  return units;
}

// Parameter sets (H.264 SPS 7 and PPS 8; HEVC VPS 32, SPS 33, PPS 34) ahead
// of the key picture's first slice (H.264 IDR 5; HEVC IRAP 16 to 21).
bool HasParameterSetsBeforePicture(const std::vector<Nal>& units, bool hevc) {
  const auto picture = std::find_if(units.begin(), units.end(), [&](const Nal& n) {
    return hevc ? n.type >= 16 && n.type <= 21 : n.type == 5;
  });
  if (picture == units.end()) return false;
  for (int type : hevc ? std::vector<int>{32, 33, 34} : std::vector<int>{7, 8}) {
    if (std::none_of(units.begin(), picture, [&](const Nal& n) { return n.type == type; })) return false;
  }
  return true;
}

struct ReadResult {
  int status = 0;
  std::vector<std::vector<uint8_t>> video;  // payloads of the video packets, in order
  std::vector<bool> video_key;
  std::vector<int64_t> video_pts;
};

ReadResult ReadAll(Mp4Demuxer& mp4) {
  ReadResult result;
  qvv::ReaderPacket packet;
  for (;;) {
    result.status = mp4.ReadPacket(packet);
    if (result.status < 0) return result;
    const qvv::AVStream* st = mp4.context().FindStream(packet.stream_index);
    if (!st || st->kind != qvv::kKindVideo) continue;
    EXPECT_EQ(packet.data[static_cast<size_t>(packet.size)], 0) << "zero padding after the payload";
    result.video.emplace_back(packet.data.get(), packet.data.get() + packet.size);
    result.video_key.push_back((packet.flags & qvv::kPacketFlagKey) != 0);
    result.video_pts.push_back(packet.pts);
  }
}

std::string ProbeField(const std::string& text, const std::string& key) {
  const auto at = text.find("\"" + key + "\": ");
  if (at == std::string::npos) return "";
  const auto begin = at + key.size() + 4;
  return text.substr(begin, text.find_first_of(",\n}", begin) - begin);
}

TEST(Mp4Reader, PacketsListLikeFfprobe) {
  TempDir dir;
  std::string out;
  ASSERT_EQ(RunShell(kTool + " mksample '" + dir.path().string() +
                         "' --format mp4 --channels 2 --seconds 2 --groups 1 --width 320 --height 180",
                     &out),
            0);
  std::istringstream samples(out);
  std::vector<std::string> files;
  for (std::string file; std::getline(samples, file);) files.push_back(file);
  ASSERT_EQ(files.size(), 2u);
  // Recorder files carry no data track: no records.
  EXPECT_EQ(RunShell(kTool + " records '" + files[0] + "'", &out), 0);
  EXPECT_EQ(out, "");
  files.push_back(Make(dir, "b.mp4", kVideoIn + kAudioIn + kH264 + kAac));  // B-frames: pts out of order
  files.push_back(Make(dir, "h.mp4", kVideoIn + kHevc));
  for (const auto& file : files) ExpectPacketsLikeFfprobe(file);
}

TEST(Mp4Reader, ProbeAgreesWithFfprobe) {
  TempDir dir;
  const auto path = Make(dir, "a.mp4", kVideoIn + kAudioIn + kH264 + kAac);
  std::string ours, theirs, bases, packets;
  ASSERT_EQ(RunShell(kTool + " probe '" + path + "'", &ours), 0);
  RunShell("ffprobe -v error -of default=nw=1 -show_entries format=duration '" + path + "'", &theirs);
  EXPECT_EQ(ProbeField(ours, "format"), "\"mp4\"");
  EXPECT_NEAR(std::stod(ProbeField(ours, "duration_us")), std::stod(theirs.substr(theirs.find('=') + 1)) * 1e6, 1);
  EXPECT_EQ(ProbeField(ours, "file_size"), std::to_string(std::filesystem::file_size(path)));
  EXPECT_NE(ours.find("{\"number\": 0, \"kind\": \"video\", \"codec\": 28, \"width\": 320, \"height\": 240, "
                      "\"frame_rate\": 25"),
            std::string::npos)
      << ours;
  EXPECT_NE(ours.find("{\"number\": 1, \"kind\": \"audio\", \"codec\": 86018,"), std::string::npos) << ours;
  EXPECT_NE(ours.find("\"sample_rate\": 8000, \"channels\": 1"), std::string::npos) << ours;
  // Packet times count in the streams' own time bases, as ffprobe gives them.
  RunShell("ffprobe -v error -of csv=p=0 -show_entries stream=time_base '" + path + "' | tr '\\n' ' '", &bases);
  RunShell(kTool + " packets '" + path + "' | grep '^#' | sed 's/.* tb=\\([^ ]*\\) .*/\\1/' | tr '\\n' ' '", &packets);
  EXPECT_EQ(packets, bases);
}

TEST(Mp4Reader, VideoLeavesAsAnnexBWithParameterSetsAndDecodes) {
  TempDir dir;
  const auto h264 = Make(dir, "b.mp4", kVideoIn + kAudioIn + kH264 + kAac);
  const auto hevc = Make(dir, "h.mp4", kVideoIn + kHevc);
  for (const auto& path : {h264, hevc}) {
    SCOPED_TRACE(path);
    const bool is_hevc = path == hevc;
    const ByteIO pb = OpenBytes(path);
    ASSERT_NE(pb, nullptr);
    Mp4Demuxer mp4;
    ASSERT_EQ(mp4.Open(pb.get(), path), 0) << mp4.error_text();
    EXPECT_EQ(mp4.context().FindStream(0)->codec_id, is_hevc ? qvv::codec_id::kHevc : qvv::codec_id::kH264);
    const auto read = ReadAll(mp4);
    EXPECT_EQ(read.status, qvv::kErrEndOfStream);
    EXPECT_FALSE(mp4.damage().any());
    ASSERT_EQ(read.video.size(), 100u);
    int keys = 0;
    std::ofstream stream((dir / "video.es").string(), std::ios::binary);
    for (size_t i = 0; i < read.video.size(); ++i) {
      const auto& v = read.video[i];
      const auto units = AnnexBUnits(v.data(), v.size(), is_hevc);
      ASSERT_FALSE(units.empty()) << "packet " << i << " does not start with 00 00 00 01";
      stream.write(reinterpret_cast<const char*>(v.data()), static_cast<std::streamsize>(v.size()));
      if (!read.video_key[i]) continue;
      ++keys;
      EXPECT_TRUE(HasParameterSetsBeforePicture(units, is_hevc)) << "key frame " << i;
    }
    stream.close();
    EXPECT_EQ(keys, 4);
    // The byte stream alone decodes into every picture, and it is byte for
    // byte what ffmpeg's own copy into a raw stream writes.
    std::string frames;
    const std::string format = is_hevc ? "hevc" : "h264";
    RunShell("ffprobe -v error -f " + format + " -count_frames -of csv=p=0 "
             "-show_entries stream=nb_read_frames,width,height '" + (dir / "video.es").string() + "'",
             &frames);
    EXPECT_EQ(frames, "320,240,100\n");
    const std::string reference = (dir / "reference.es").string();
    ASSERT_EQ(RunShell("ffmpeg -v error -y -i '" + path + "' -map 0:v -c copy -f " + format + " '" + reference + "'"), 0);
    EXPECT_TRUE(ReadFileBytes(dir / "video.es") == ReadFileBytes(reference));
  }
}

TEST(Mp4Reader, SeekGoesBackToTheKeyFrameAtOrBeforeTheTarget) {
  TempDir dir;
  const auto path = Make(dir, "b.mp4", kVideoIn + kAudioIn + kH264 + kAac);
  // The video time base is 1/12800: a key frame every 12800.
  for (auto [target, expected] : {std::pair{1.5, 12800}, std::pair{1.0, 12800}, std::pair{2.99, 25600},
                                  std::pair{0.2, 0}, std::pair{9.0, 38400}}) {
    const auto packets = ToolPackets(kTool, path, "--seek " + std::to_string(target));
    const auto video = std::find_if(packets.begin(), packets.end(), [](const Packet& p) { return p.kind == "video"; });
    ASSERT_NE(video, packets.end()) << target;
    EXPECT_EQ(video->pts, expected) << target;
    EXPECT_TRUE(video->key) << target;
  }

  // After reading to the end, a seek starts again with a whole key frame,
  // parameter sets first: nothing of the old position is left in the filter.
  Mp4Demuxer mp4;
  ASSERT_EQ(mp4.Open(nullptr, path), 0) << "opened by name, without a byte context";
  const auto all = ReadAll(mp4);
  ASSERT_EQ(all.status, qvv::kErrEndOfStream);
  ASSERT_TRUE(mp4.Seek(1500000));
  const auto again = ReadAll(mp4);
  ASSERT_FALSE(again.video.empty());
  EXPECT_EQ(again.video_pts[0], 12800);
  EXPECT_TRUE(HasParameterSetsBeforePicture(AnnexBUnits(again.video[0].data(), again.video[0].size(), false), false));
  EXPECT_EQ(again.video.size(), 75u);
  EXPECT_TRUE(std::equal(again.video.begin(), again.video.end(), all.video.end() - 75)) << "the same bytes again";
}

TEST(Mp4Reader, BackwardPlayIsRefused) {
  TempDir dir;
  const auto path = Make(dir, "a.mp4", kVideoIn + kH264 + "-t 1");
  std::string out;
  EXPECT_EQ(RunShell(kTool + " packets --reverse '" + path + "' 2>&1", &out), 1);
  EXPECT_NE(out.find("cannot play backwards: MP4 recordings play forwards only"), std::string::npos) << out;
  const ByteIO pb = OpenBytes(path);
  Mp4Demuxer mp4;
  EXPECT_EQ(mp4.OpenReverse(pb.get(), path), Mp4Demuxer::kErrNoBackward);
  ASSERT_EQ(mp4.Open(pb.get(), path), 0);
  qvv::ReaderPacket packet;
  EXPECT_EQ(mp4.ReadPacketReverse(packet), Mp4Demuxer::kErrNoBackward);
  EXPECT_GT(mp4.ReadPacket(packet), 0) << "forward reading is not disturbed";
}

TEST(Mp4Reader, CutShortFilesEndWithAClearMessage) {
  TempDir dir;
  // Track header first: a cut in the sample data leaves a readable start.
  const auto whole = Make(dir, "whole.mp4", kVideoIn + kAudioIn + kH264 + kAac + "-movflags +faststart");
  const std::string bytes = ReadFileBytes(whole);
  const auto cut = (dir / "cut.mp4").string();
  WriteFileBytes(cut, std::string_view(bytes).substr(0, bytes.size() / 2));
  std::string out;
  EXPECT_EQ(RunShell(kTool + " packets '" + cut + "' 2>&1 >/dev/null", &out), 0);
  EXPECT_NE(out.find("cut short"), std::string::npos) << out;
  const auto full = ToolPackets(kTool, whole);
  const auto part = ToolPackets(kTool, cut);
  ASSERT_GT(part.size(), 10u);
  ASSERT_LT(part.size(), full.size());
  for (size_t i = 0; i < part.size(); ++i) EXPECT_EQ(part[i].crc, full[i].crc) << "packet " << i;
  Mp4Demuxer mp4;
  ASSERT_EQ(mp4.Open(nullptr, cut), 0);
  EXPECT_EQ(ReadAll(mp4).status, qvv::kErrIO);
  EXPECT_TRUE(mp4.damage().truncated);

  // Track header last (as a recorder that lost power leaves it): cut in the
  // sample data, nothing describes the samples.
  const auto late = Make(dir, "late.mp4", kVideoIn + kAudioIn + kH264 + kAac);
  const std::string late_bytes = ReadFileBytes(late);
  WriteFileBytes(dir / "nomoov.mp4", std::string_view(late_bytes).substr(0, late_bytes.size() / 2));
  WriteFileBytes(dir / "empty.mp4", "");
  WriteFileBytes(dir / "text.mp4", "not a movie at all\n");
  for (const char* name : {"nomoov.mp4", "empty.mp4", "text.mp4"}) {
    SCOPED_TRACE(name);
    const auto path = (dir / name).string();
    for (const char* command : {"packets", "probe", "records"}) {
      EXPECT_EQ(RunShell(kTool + " " + command + " '" + path + "' 2>&1", &out), 1) << command;
      EXPECT_NE(out.find("damaged recording: not a readable MP4 file (its 'moov' box"), std::string::npos) << out;
    }
    Mp4Demuxer bad;
    EXPECT_LT(bad.Open(nullptr, path), 0);
    EXPECT_NE(bad.error_text(), "");
    qvv::ReaderPacket packet;
    EXPECT_LT(bad.ReadPacket(packet), 0) << "an unopened reader reads nothing";
    EXPECT_FALSE(bad.Seek(0));
  }
}

TEST(Mp4Reader, AVideoTrackWithDamagedParameterSetsIsLeftOutAndSaidSo) {
  TempDir dir;
  const auto path = Make(dir, "h.mp4", kVideoIn + kAudioIn + kHevc + kAac + "-t 1");
  std::string bytes = ReadFileBytes(path);
  // The first parameter-set array of the HEVC track header claims 65535
  // units: far more than the header holds.
  const size_t hvcc = bytes.find("hvcC");
  ASSERT_NE(hvcc, std::string::npos);
  const size_t first_array = hvcc + 4 + 22 + 1;
  bytes[first_array + 1] = '\xFF';
  bytes[first_array + 2] = '\xFF';
  WriteFileBytes(path, bytes);
  std::string out;
  EXPECT_EQ(RunShell(kTool + " packets '" + path + "' 2>&1", &out), 0);
  EXPECT_NE(out.find("25 damaged packets left out"), std::string::npos) << out;
  EXPECT_NE(out.find("# stream 0 video codec=173"), std::string::npos) << out;
  EXPECT_EQ(out.find("\n0 video "), std::string::npos) << "no video packet leaves the reader";
  EXPECT_NE(out.find("\n1 audio "), std::string::npos) << "the sound still plays";
}

}  // namespace
