// The AVI and FLV readers and the clip writer against FFmpeg: files made by the
// ffmpeg CLI read like ffprobe reads them; clips we write read back in ffprobe
// and decode cleanly.
#include <gtest/gtest.h>

#include "QVVReader/AviDemuxer.h"
#include "QVVReader/AviWriter.h"
#include "QVVReader/FlvDemuxer.h"
#include "tests/reader/PeerTestUtil.h"
#include "tests/support/Process.h"
#include "tests/support/TempDir.h"

namespace {

using reader_test::FfprobePackets;
using reader_test::ToolPackets;
using testing_support::ReadFileBytes;
using testing_support::RunShell;
using testing_support::TempDir;
using testing_support::WriteFileBytes;

const std::string kTool = DRAVIK_TOOL;

std::string Make(const TempDir& dir, const std::string& name, const std::string& args) {
  const std::string path = (dir / name).string();
  const std::string cmd = "ffmpeg -v error -y " + args + " '" + path + "'";
  EXPECT_EQ(RunShell(cmd), 0) << cmd;
  return path;
}

const char* kVideoSource = "-f lavfi -i testsrc=size=320x240:rate=25:duration=4 ";

void ExpectSamePackets(const std::string& path, bool compare_audio_pts = false) {
  const auto ours = ToolPackets(kTool, path);
  const auto theirs = FfprobePackets(path);
  ASSERT_FALSE(theirs.empty());
  ASSERT_EQ(ours.size(), theirs.size()) << path;
  for (size_t i = 0; i < ours.size(); ++i) {
    SCOPED_TRACE(testing::Message() << path << " packet " << i);
    EXPECT_EQ(ours[i].stream, theirs[i].stream);
    EXPECT_EQ(ours[i].kind, theirs[i].kind);
    EXPECT_EQ(ours[i].size, theirs[i].size);
    EXPECT_EQ(ours[i].crc, theirs[i].crc);
    EXPECT_EQ(ours[i].key, theirs[i].key);
    if (ours[i].kind == "video" || compare_audio_pts) {
      EXPECT_EQ(ours[i].pts, theirs[i].pts);
    }
  }
}

TEST(AviFlvPeer, AviWithH264AndAdpcmReadsLikeFfprobe) {
  TempDir dir;
  const auto path = Make(dir, "20240102030405_0001_01.avi",
                         std::string(kVideoSource) + "-f lavfi -i sine=f=440:r=8000:d=4 -c:v libx264 -pix_fmt yuv420p "
                         "-g 25 -bf 0 -c:a adpcm_ms -ac 1");
  ExpectSamePackets(path);
}

TEST(AviFlvPeer, FlvWithH264BFramesAndAacReadsLikeFfprobe) {
  TempDir dir;
  const auto path = Make(dir, "20240102030405_0001_01.flv",
                         std::string(kVideoSource) + "-f lavfi -i sine=f=440:r=44100:d=4 -c:v libx264 -pix_fmt yuv420p "
                         "-g 25 -bf 2 -c:a aac");
  ExpectSamePackets(path, true);
  qvv::ByteIOContext* pb = qvv::url_open_file(path.c_str(), qvv::kUrlReadOnly);
  qvv::FlvDemuxer flv;
  ASSERT_EQ(flv.Open(pb, path), 0);
  flv.ReadLeadingMetadata();
  EXPECT_FALSE(flv.extradata(0).empty()) << "the AVC sequence header";
  EXPECT_FALSE(flv.extradata(1).empty()) << "the AAC sequence header";
  EXPECT_EQ(flv.context().FindStream(0)->width, 320);
  EXPECT_NEAR(static_cast<double>(flv.context().duration), 4e6, 1e5);
  qvv::url_fclose(pb);
}

TEST(AviFlvPeer, FlvWithH263AndFlashAdpcmReadsLikeFfprobe) {
  TempDir dir;
  const auto path = Make(dir, "20240102030405_0001_01.flv",
                         std::string(kVideoSource) + "-f lavfi -i sine=f=440:r=22050:d=4 -c:v flv1 -g 25 -c:a adpcm_swf");
  ExpectSamePackets(path, true);
}

TEST(AviFlvPeer, ClipsReadBackInFfprobeAndDecodeCleanly) {
  TempDir dir;
  const auto avi = Make(dir, "20240102030405_0001_01.avi",
                        std::string(kVideoSource) + "-f lavfi -i sine=f=440:r=8000:d=4 -c:v libx264 -pix_fmt yuv420p "
                        "-g 25 -bf 0 -c:a adpcm_ms -ac 1");
  const auto flv = Make(dir, "20240102030405_0001_02.flv",
                        std::string(kVideoSource) + "-f lavfi -i sine=f=440:r=44100:d=4 -c:v libx264 -pix_fmt yuv420p "
                        "-g 25 -bf 2 -c:a aac");
  for (const auto& in : {avi, flv}) {
    SCOPED_TRACE(in);
    const std::string out = in + ".clip.avi";
    std::string text;
    ASSERT_EQ(RunShell(kTool + " clip '" + in + "' --from 1.3 --to 3.2 '" + out + "'", &text), 0) << text;
    ExpectSamePackets(out);
    std::string errors;
    EXPECT_EQ(RunShell("ffmpeg -v error -i '" + out + "' -f null - 2>&1", &errors), 0);
    EXPECT_EQ(errors, "");
    const auto video = ToolPackets(kTool, out);
    int frames = 0;
    for (const auto& p : video) frames += p.kind == "video";
    EXPECT_EQ(frames, 56) << "from the key frame at 1 s through 3.2 s";
    EXPECT_FALSE(std::filesystem::exists(out + ".part"));
  }
}

TEST(AviFlvPeer, SeekGoesToTheNearerKeyFrameTheLaterOnATie) {
  TempDir dir;
  const auto path = Make(dir, "20240102030405_0001_01.avi",
                         std::string(kVideoSource) + "-c:v libx264 -pix_fmt yuv420p -g 25 -bf 0");
  for (auto [target, expected] : {std::pair{1.4, 25}, std::pair{1.6, 50}, std::pair{1.5, 50}, std::pair{0.2, 0}}) {
    const auto packets = ToolPackets(kTool, path, "--seek " + std::to_string(target));
    ASSERT_FALSE(packets.empty());
    EXPECT_EQ(packets[0].pts, expected) << target;
  }
}

TEST(AviFlvPeer, ReversePlayDeliversEveryFrameGroupByGroup) {
  TempDir dir;
  const auto avi = Make(dir, "20240102030405_0001_01.avi",
                        std::string(kVideoSource) + "-c:v libx264 -pix_fmt yuv420p -g 25 -bf 0");
  const auto flv = Make(dir, "20240102030405_0001_02.flv",
                        std::string(kVideoSource) + "-c:v libx264 -pix_fmt yuv420p -g 25 -bf 0");
  for (const auto& path : {avi, flv}) {
    const auto reverse = ToolPackets(kTool, path, "--reverse");
    std::vector<std::vector<int64_t>> groups;
    for (const auto& p : reverse) {
      if (p.kind != "video") continue;
      if (p.key) groups.emplace_back();
      ASSERT_FALSE(groups.empty());
      groups.back().push_back(p.pts);
    }
    ASSERT_EQ(groups.size(), 4u) << path;
    size_t total = 0;
    for (size_t g = 0; g < groups.size(); ++g) {
      total += groups[g].size();
      EXPECT_TRUE(std::is_sorted(groups[g].begin(), groups[g].end()));
      if (g > 0) {
        EXPECT_LT(groups[g].back(), groups[g - 1].front());
      }
    }
    EXPECT_EQ(total, 100u);
  }
}

}  // namespace
