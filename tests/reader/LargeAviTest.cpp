// Files past 1 GiB: our clip writer continues in "AVIX" lists that ffprobe
// reads back; an ffmpeg-made file of that size has no "idx1" and is read
// through its OpenDML index. Both files are deleted afterwards.
#include <gtest/gtest.h>

#include "QVVReader/AviDemuxer.h"
#include "QVVReader/AviWriter.h"
#include "QVVReader/FourCC.h"
#include "tests/support/Process.h"
#include "tests/support/TempDir.h"

namespace {

using namespace qvv;
using testing_support::RunShell;
using testing_support::TempDir;

TEST(LargeAvi, OurClipPastOneGibContinuesInAvixAndReadsBack) {
  TempDir dir;
  const auto path = dir / "big.avi";
  constexpr int kFrames = 1100;
  constexpr size_t kFrameBytes = 1 << 20;
  {
    AviWriter w;
    AviClipStream v;
    v.codec_tag = FourCC("DRVK");
    v.time_base = {1, 25};
    v.width = 1280;
    v.height = 720;
    v.format = AviWriter::BitmapInfoHeader(1280, 720, v.codec_tag);
    ASSERT_EQ(w.Begin(path.string(), {v}, 0), 0);
    std::vector<uint8_t> frame(kFrameBytes);
    for (int f = 0; f < kFrames; ++f) {
      std::fill(frame.begin(), frame.begin() + 64, static_cast<uint8_t>(f));
      ASSERT_EQ(w.WritePacket(0, f, f % 25 == 0, frame.data(), frame.size()), 0);
    }
    ASSERT_EQ(w.Finish(), 0);
  }
  EXPECT_GT(std::filesystem::file_size(path), 1ull << 30);
  std::string out;
  ASSERT_EQ(RunShell("ffprobe -v error -count_packets -show_entries stream=nb_read_packets -of csv=p=0 '" +
                         path.string() + "' 2>&1",
                     &out),
            0);
  EXPECT_EQ(out, std::to_string(kFrames) + "\n");

  ByteIOContext* pb = url_open_file(path.c_str(), kUrlReadOnly);
  AviDemuxer avi;
  ASSERT_EQ(avi.Open(pb, path.string()), 0);
  EXPECT_TRUE(avi.is_odml());
  ASSERT_TRUE(avi.Seek(40'000'000));  // frame 1000, in the second RIFF
  ReaderPacket p;
  ASSERT_GT(avi.ReadPacket(p), 0);
  EXPECT_EQ(p.pts, 1000);
  EXPECT_EQ(p.data[0], static_cast<uint8_t>(1000));
  int n = 1;
  while (avi.ReadPacket(p) >= 0) ++n;
  EXPECT_EQ(n, kFrames - 1000);
  url_fclose(pb);
}

TEST(LargeAvi, FfmpegFilePastOneGibIsReadThroughItsOpenDmlIndex) {
  TempDir dir;
  const auto path = dir / "ffmpeg-big.avi";
  // 1280x720 BGR frames of 2.76 MB: 400 of them pass 1 GiB.
  ASSERT_EQ(RunShell("ffmpeg -v error -y -f lavfi -i testsrc=size=1280x720:rate=25 -frames:v 400 -c:v rawvideo "
                     "-pix_fmt bgr24 '" + path.string() + "'"),
            0);
  ASSERT_GT(std::filesystem::file_size(path), 1ull << 30);
  ByteIOContext* pb = url_open_file(path.c_str(), kUrlReadOnly);
  AviDemuxer avi;
  ASSERT_EQ(avi.Open(pb, path.string()), 0);
  EXPECT_TRUE(avi.is_odml());
  EXPECT_EQ(avi.stream_info(0).index.entries().size(), 400u) << "from the standard indexes alone";
  ASSERT_TRUE(avi.Seek(15'000'000));
  ReaderPacket p;
  ASSERT_GT(avi.ReadPacket(p), 0);
  EXPECT_EQ(p.pts, 375);
  EXPECT_EQ(p.size, 1280 * 720 * 3);
  url_fclose(pb);
  std::string out;
  ASSERT_EQ(RunShell(std::string(DRAVIK_TOOL) + " packets '" + path.string() + "' | grep -vc '^#'", &out), 0);
  EXPECT_EQ(out, "400\n");
}

}  // namespace
