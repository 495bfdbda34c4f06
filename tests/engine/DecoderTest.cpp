// The video decoder on real streams: H.264 sample recordings read through the
// QVV reader, and HEVC made by the ffmpeg CLI.
#include "engine/ACH264Decoder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/Process.h"
#include "tests/support/QvvSample.h"
#include "tests/support/TempDir.h"

namespace {

using engine::ACH264Decoder;
using testing_support::ReadFileBytes;
using testing_support::RunShell;
using testing_support::TempDir;

constexpr size_t kOutput = 10450944;

using testing_support::ReadQvvVideoPackets;

TEST(ACH264Decoder, EveryPacketGivesItsPictureKeyFramesOnceASecond) {
  TempDir dir;
  const std::string file = testing_support::MakeSampleQvv(DRAVIK_TOOL, dir.path().string(), 2, 2);
  ASSERT_FALSE(file.empty());
  const auto packets = ReadQvvVideoPackets(file);
  ASSERT_EQ(packets.size(), 100u);
  ACH264Decoder decoders[2];
  std::vector<uint8_t> picture(kOutput);
  int pictures[2] = {}, keys[2] = {};
  int u_value[2] = {};
  for (const auto& p : packets) {
    int key = -1;
    ASSERT_EQ(decoders[p.stream].Decode(p.stream, p.data.data(), static_cast<int>(p.data.size()), &key, 160, 96,
                                        picture.data(), picture.size()),
              picture.data());
    ASSERT_TRUE(decoders[p.stream].got_picture()) << "no picture held back";
    EXPECT_EQ(key, pictures[p.stream] % 25 == 0 ? 1 : 0);
    keys[p.stream] += key;
    ++pictures[p.stream];
    EXPECT_EQ(decoders[p.stream].picture_width(), 160);
    u_value[p.stream] = picture[160 * 96 + 10];  // a U sample: each channel has its hue
  }
  EXPECT_EQ(keys[0], 2);
  EXPECT_EQ(keys[1], 2);
  EXPECT_NE(u_value[0], u_value[1]);
  // Size changes and SetWidth(0) reopen; without data nothing happens.
  int key = -1;
  EXPECT_EQ(decoders[0].Decode(0, nullptr, 0, &key, 160, 96, picture.data(), picture.size()), nullptr);
  decoders[0].SetWidth(0);
  EXPECT_NE(decoders[0].Decode(0, packets[0].data.data(), static_cast<int>(packets[0].data.size()), &key, 160, 96,
                               picture.data(), picture.size()),
            nullptr);
  EXPECT_TRUE(decoders[0].got_picture());
}

TEST(ACH264Decoder, AVideoParameterSetInTheFifthByteSelectsHevc) {
  TempDir dir;
  const auto path = dir / "s.hevc";
  ASSERT_EQ(RunShell("ffmpeg -v error -f lavfi -i testsrc=size=64x64:rate=5:duration=1 -frames:v 1 -c:v libx265 "
                     "-x265-params bframes=0:log-level=error -f hevc '" + path.string() + "'"),
            0);
  const std::string bytes = ReadFileBytes(path);
  ASSERT_GT(bytes.size(), 8u);
  ASSERT_EQ(static_cast<uint8_t>(bytes[4]), 0x40);
  ACH264Decoder d;
  std::vector<uint8_t> picture(kOutput);
  int key = 0;
  const auto* hevc = reinterpret_cast<const uint8_t*>(bytes.data());
  EXPECT_NE(d.Decode(0, hevc, static_cast<int>(bytes.size()), &key, 64, 64, picture.data(), picture.size()), nullptr);
  EXPECT_TRUE(d.is_hevc());
  EXPECT_GE(d.Status(), 0) << "the stream is accepted";
  // A later packet of the same size stays on HEVC, whatever its fifth byte...
  const uint8_t other[] = {0, 0, 0, 1, 0x67, 0x42, 0, 0x0A};
  d.Decode(0, other, sizeof other, &key, 64, 64, picture.data(), picture.size());
  EXPECT_TRUE(d.is_hevc());
  // ...until SetWidth(0) or a new size reopens by the next packet's fifth byte.
  d.SetWidth(0);
  d.Decode(0, other, sizeof other, &key, 64, 64, picture.data(), picture.size());
  EXPECT_FALSE(d.is_hevc());
  d.Decode(0, hevc, static_cast<int>(bytes.size()), &key, 32, 32, picture.data(), picture.size());
  EXPECT_TRUE(d.is_hevc());
}

}  // namespace
