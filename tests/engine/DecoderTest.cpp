// The video decoder on real streams: H.264 sample recordings read through the
// QVV reader, HEVC and 4:2:2 H.264 made by the ffmpeg CLI; the codec chosen
// by the container's id or by the first NAL unit.
#include "engine/ACH264Decoder.h"

#include "QVVReader/Format.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
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

// Encodes one 64x64 picture with the ffmpeg CLI into an elementary stream.
std::string Encode(const TempDir& dir, const std::string& codec_options, const char* format) {
  const auto path = dir / (std::string("s.") + format);
  EXPECT_EQ(RunShell("ffmpeg -v error -f lavfi -i testsrc=size=64x64:rate=5:duration=1 -frames:v 1 " + codec_options +
                     " -f " + format + " '" + path.string() + "'"),
            0);
  return ReadFileBytes(path);
}

TEST(ACH264Decoder, AnFlvStreamDecodesWithItsSequenceHeaderAsExtradata) {
  // FLV carries H.264 as length-prefixed NAL units; the parameter sets come
  // once, in the sequence header the reader keeps as the stream's extradata.
  TempDir dir;
  const testing_support::FlvVideo flv = testing_support::MakeFlvVideo(dir.path(), DRAVIK_TOOL);
  const std::vector<uint8_t>& avcc = flv.extradata;
  ASSERT_FALSE(avcc.empty());
  ASSERT_EQ(avcc[0], 1) << "an avcC record";
  const auto& packets = flv.packets;
  ASSERT_EQ(packets.size(), 25u);

  std::vector<uint8_t> picture(kOutput);
  auto decode_all = [&](ACH264Decoder& decoder) {
    int pictures = 0, failures = 0, key = 0;
    for (const auto& p : packets) {
      decoder.Decode(0, p.data.data(), static_cast<int>(p.data.size()), &key, 160, 96, picture.data(), picture.size());
      pictures += decoder.got_picture();
      failures += decoder.failed();
    }
    return std::pair{pictures, failures};
  };
  ACH264Decoder with;
  with.SetCodecId(qvv::codec_id::kH264);
  with.SetExtradata(avcc);
  EXPECT_EQ(decode_all(with), std::make_pair(25, 0));
  ACH264Decoder without;
  without.SetCodecId(qvv::codec_id::kH264);
  EXPECT_EQ(decode_all(without).first, 0) << "length-prefixed units mean nothing without the record";
}

TEST(ACH264Decoder, TheCodecIdChoosesElseTheFirstNalUnit) {
  TempDir dir;
  const std::string bytes = Encode(dir, "-c:v libx265 -x265-params bframes=0:log-level=error", "hevc");
  ASSERT_GT(bytes.size(), 8u);
  ASSERT_EQ(static_cast<uint8_t>(bytes[4]), 0x40) << "a video parameter set after a 4-byte start code";
  const auto* hevc = reinterpret_cast<const uint8_t*>(bytes.data());
  const int size = static_cast<int>(bytes.size());
  EXPECT_TRUE(ACH264Decoder::IsHevc(0, hevc, size));
  EXPECT_TRUE(ACH264Decoder::IsHevc(0, hevc + 1, size - 1)) << "a 3-byte start code";
  const uint8_t h264[] = {0, 0, 1, 0x67, 0x42, 0, 0x0A, 0xF8};
  EXPECT_FALSE(ACH264Decoder::IsHevc(0, h264, sizeof h264));
  EXPECT_TRUE(ACH264Decoder::IsHevc(qvv::codec_id::kHevc, h264, sizeof h264)) << "the container's id wins";
  EXPECT_FALSE(ACH264Decoder::IsHevc(qvv::codec_id::kH264, hevc, size));

  ACH264Decoder d;
  std::vector<uint8_t> picture(kOutput);
  int key = 0;
  EXPECT_NE(d.Decode(0, hevc, size, &key, 64, 64, picture.data(), picture.size()), nullptr);
  EXPECT_TRUE(d.is_hevc());
  EXPECT_TRUE(d.got_picture());
  EXPECT_GE(d.Status(), 0) << "the stream is accepted";
  // Without an id, a later packet of the same size stays on the open codec...
  d.Decode(0, h264, sizeof h264, &key, 64, 64, picture.data(), picture.size());
  EXPECT_TRUE(d.is_hevc());
  // ...until SetWidth(0) or a new size reopens by the next packet.
  d.SetWidth(0);
  d.Decode(0, h264, sizeof h264, &key, 64, 64, picture.data(), picture.size());
  EXPECT_FALSE(d.is_hevc());
  // With an id, the codec follows the id at once.
  d.SetCodecId(qvv::codec_id::kHevc);
  d.Decode(0, hevc, size, &key, 64, 64, picture.data(), picture.size());
  EXPECT_TRUE(d.is_hevc());
  EXPECT_TRUE(d.got_picture());
}

TEST(ACH264Decoder, PicturesThatAreNotFourTwoZeroAreConverted) {
  TempDir dir;
  const std::string bytes = Encode(dir, "-c:v libx264 -pix_fmt yuv422p -profile:v high422 -tune zerolatency", "h264");
  ASSERT_FALSE(bytes.empty());
  ACH264Decoder d;
  d.SetCodecId(qvv::codec_id::kH264);
  std::vector<uint8_t> picture(kOutput, 0xEE);
  int key = 0;
  d.Decode(0, reinterpret_cast<const uint8_t*>(bytes.data()), static_cast<int>(bytes.size()), &key, 64, 64,
           picture.data(), picture.size());
  ASSERT_TRUE(d.got_picture()) << "a 4:2:2 picture is converted, not dropped";
  EXPECT_EQ(d.picture_width(), 64);
  EXPECT_EQ(d.picture_height(), 64);
  EXPECT_EQ(key, 1);
  // The same picture as ffmpeg converts it: luma exact, chroma within rounding.
  const auto raw = dir / "s.yuv";
  ASSERT_EQ(RunShell("ffmpeg -v error -i '" + (dir / "s.h264").string() + "' -pix_fmt yuv420p -f rawvideo '" +
                     raw.string() + "'"),
            0);
  const std::string peer = ReadFileBytes(raw);
  ASSERT_EQ(peer.size(), 64u * 64u * 3u / 2u);
  EXPECT_TRUE(std::equal(picture.begin(), picture.begin() + 64 * 64, peer.begin(),
                         [](uint8_t a, char b) { return a == static_cast<uint8_t>(b); }));
  int64_t chroma_error = 0;
  for (size_t i = 64 * 64; i < peer.size(); ++i) chroma_error += std::abs(picture[i] - static_cast<uint8_t>(peer[i]));
  EXPECT_LE(chroma_error, static_cast<int64_t>(peer.size() - 64 * 64) * 2) << "chroma within 2 on average";
}

}  // namespace
