// Frame layout, length rules, status codes and their order.
#include <gtest/gtest.h>

#include <numeric>

#include "tests/support/Signals.h"
#include "tests/voice/VoiceTestUtil.h"

namespace {

using namespace voice_test;

constexpr int kAllTypes[] = {1, 2, 65, 66, 3, 35, 67, 4, 5, 6, 7, 36, 37, 38, 39, 68};

std::vector<int16_t> Ramp(int n) {
  std::vector<int16_t> v(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) v[static_cast<size_t>(i)] = static_cast<int16_t>((i * 397) % 20000 - 10000);
  return v;
}

TEST(VoiceFrame, VersionText) {
  char version[64];
  std::memset(version, 'x', sizeof version);
  EXPECT_EQ(ZN_VOICE_GetVersion(version), 0u);
  EXPECT_STREQ(version, "ZnKQR_AUDIO_VERSION_V3.0.6.31");
  EXPECT_EQ(version[30], 'x') << "30 bytes written";
  EXPECT_EQ(ZN_VOICE_GetVersion(nullptr), 0xFFFFFFFFu);
}

TEST(VoiceFrame, ResetStoresTheTypeEvenWhenUnsupported) {
  Block b;
  EXPECT_EQ(ZN_VOICE_EncReset(b.get(), 6), 0u);
  uint16_t stored;
  std::memcpy(&stored, b.bytes, 2);
  EXPECT_EQ(stored, 6);
  EXPECT_EQ(ZN_VOICE_EncReset(b.get(), 8), ZN_VOICE_ENC_TYPE_UNSUPPORTED);
  std::memcpy(&stored, b.bytes, 2);
  EXPECT_EQ(stored, 8);
  EXPECT_EQ(ZN_VOICE_DecReset(b.get(), 99), ZN_VOICE_DEC_TYPE_UNSUPPORTED);
  EXPECT_EQ(ZN_VOICE_EncReset(nullptr, 1), ZN_VOICE_NULL_STATE);
  EXPECT_EQ(ZN_VOICE_DecReset(nullptr, 1), ZN_VOICE_NULL_STATE);
}

TEST(VoiceFrame, EncoderChecksPointersThenCountThenType) {
  Block b;
  const auto pcm = Ramp(481);
  uint8_t frame[ZN_VOICE_MAX_FRAME_BYTES];
  ZN_VOICE_EncReset(b.get(), 200);  // unsupported type stored
  EXPECT_EQ(ZN_VOICE_EncodeFrame(nullptr, pcm.data(), frame, 80), ZN_VOICE_NULL_STATE);
  EXPECT_EQ(ZN_VOICE_EncodeFrame(b.get(), nullptr, frame, 80), ZN_VOICE_NULL_INPUT);
  EXPECT_EQ(ZN_VOICE_EncodeFrame(b.get(), pcm.data(), nullptr, 80), ZN_VOICE_NULL_OUTPUT);
  EXPECT_EQ(ZN_VOICE_EncodeFrame(b.get(), pcm.data(), frame, 100), ZN_VOICE_ENC_BAD_SAMPLE_COUNT) << "count before type";
  EXPECT_EQ(ZN_VOICE_EncodeFrame(b.get(), pcm.data(), frame, 80), ZN_VOICE_ENC_TYPE_UNSUPPORTED);

  for (int type : kAllTypes) {
    SCOPED_TRACE(type);
    ZN_VOICE_EncReset(b.get(), type);
    const bool header_sample = type == 35;
    for (int n : {0, 1, 79, 80, 81, 100, 160, 161, 480, 481, 560, 561}) {
      const bool allowed = n >= 1 && n <= 481 && n % 80 == (header_sample ? 1 : 0);
      std::memset(frame, 0xEE, sizeof frame);
      const uint32_t st = ZN_VOICE_EncodeFrame(b.get(), pcm.data(), frame, static_cast<uint16_t>(n));
      EXPECT_EQ(st, allowed ? ZN_VOICE_OK : ZN_VOICE_ENC_BAD_SAMPLE_COUNT) << "n=" << n;
      if (!allowed) {
        EXPECT_EQ(frame[0], 0xEE) << "a refused frame writes nothing";
      }
    }
  }
}

// Payload words per type for n samples, and the header shape.
TEST(VoiceFrame, PayloadLengthsAndHeaders) {
  struct Case {
    int type;
    int samples;
    int words;
  };
  const Case cases[] = {{1, 160, 80},  {2, 480, 240}, {65, 80, 40},  {66, 160, 80}, {3, 80, 22},
                        {3, 480, 122}, {35, 1, 2},    {35, 81, 22},  {35, 481, 122}, {67, 160, 40},
                        {4, 80, 10},   {5, 80, 15},   {6, 80, 20},   {7, 80, 25},   {36, 480, 60},
                        {37, 480, 90}, {38, 480, 120}, {39, 480, 150}, {68, 80, 10}, {68, 480, 60}};
  const auto pcm = Ramp(481);
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "type " << c.type << " n " << c.samples);
    Block enc, dec;
    ZN_VOICE_EncReset(enc.get(), c.type);
    ZN_VOICE_DecReset(dec.get(), c.type);
    const auto frame = EncodeOne(enc, pcm.data(), c.samples);
    ASSERT_EQ(frame.size(), 4u + 2u * c.words);
    EXPECT_EQ(frame[0], 0x00);
    EXPECT_EQ(frame[1], 0x01);
    EXPECT_EQ(frame[2], c.words);
    EXPECT_EQ(frame[3], 0x00);
    uint32_t st = 1;
    const auto decoded = DecodeOne(dec, frame, &st);
    EXPECT_EQ(st, 0u);
    EXPECT_EQ(decoded.size(), static_cast<size_t>(c.samples)) << "decodes back to as many samples";
  }
}

TEST(VoiceFrame, Type4With80SamplesIs24Bytes) {
  Block enc;
  ZN_VOICE_EncReset(enc.get(), 4);
  const auto pcm = testing_support::SpeechLike(80, 1);
  const auto frame = EncodeOne(enc, pcm.data(), 80);
  ASSERT_EQ(frame.size(), 24u);
  EXPECT_EQ(std::vector<uint8_t>(frame.begin(), frame.begin() + 4), (std::vector<uint8_t>{0x00, 0x01, 0x0A, 0x00}));
}

TEST(VoiceFrame, Type35OneSampleRoundTripsExactly) {
  Block enc, dec;
  ZN_VOICE_EncReset(enc.get(), 35);
  ZN_VOICE_DecReset(dec.get(), 35);
  const int16_t sample = -12345;
  const auto frame = EncodeOne(enc, &sample, 1);
  ASSERT_EQ(frame.size(), 8u);
  EXPECT_EQ(frame[4] | (frame[5] << 8), 0xCFC7) << "the sample itself, little-endian";
  EXPECT_EQ(frame[6] | (frame[7] << 8), 0) << "the step index";
  const auto decoded = DecodeOne(dec, frame);
  ASSERT_EQ(decoded.size(), 1u);
  EXPECT_EQ(decoded[0], sample);
}

TEST(VoiceFrame, DecoderChecksPointersFlagLengthThenType) {
  Block b;
  int16_t pcm[ZN_VOICE_MAX_DECODED_SAMPLES];
  uint16_t count = 77;
  uint8_t frame[ZN_VOICE_MAX_FRAME_BYTES] = {0x00, 0x03, 0x00, 0x00};
  ZN_VOICE_DecReset(b.get(), 300);
  EXPECT_EQ(ZN_VOICE_DecodeFrame(nullptr, frame, pcm, &count), ZN_VOICE_NULL_STATE);
  EXPECT_EQ(count, 0) << "count cleared first";
  EXPECT_EQ(ZN_VOICE_DecodeFrame(b.get(), nullptr, pcm, &count), ZN_VOICE_NULL_INPUT);
  EXPECT_EQ(ZN_VOICE_DecodeFrame(b.get(), frame, nullptr, &count), ZN_VOICE_NULL_OUTPUT);
  EXPECT_EQ(ZN_VOICE_DecodeFrame(b.get(), frame, pcm, nullptr), ZN_VOICE_NULL_OUTPUT);
  EXPECT_EQ(ZN_VOICE_DecodeFrame(b.get(), frame, pcm, &count), ZN_VOICE_DEC_BAD_FLAG) << "flag before length and type";
  frame[1] = 0x05;  // low two bits 01: accepted
  EXPECT_EQ(ZN_VOICE_DecodeFrame(b.get(), frame, pcm, &count), ZN_VOICE_DEC_BAD_LENGTH) << "zero length before type";
  frame[2] = 40;
  EXPECT_EQ(ZN_VOICE_DecodeFrame(b.get(), frame, pcm, &count), ZN_VOICE_DEC_TYPE_UNSUPPORTED);
  EXPECT_EQ(count, 0);
}

TEST(VoiceFrame, DecoderLengthRulesPerType) {
  struct Rule {
    std::vector<int> types;
    int step;  // 0: any length >= 2
    int max;
  };
  const Rule rules[] = {{{1, 2, 65, 66}, 40, 240}, {{3, 35, 67}, 0, 255},     {{4, 36, 68}, 10, 60},
                        {{5, 37}, 15, 90},          {{6, 38}, 20, 120},        {{7, 39}, 25, 150}};
  for (const Rule& rule : rules) {
    for (int type : rule.types) {
      Block b;
      ZN_VOICE_DecReset(b.get(), type);
      for (int words = 1; words <= 255; ++words) {
        const bool ok = rule.step == 0 ? words >= 2 : (words % rule.step == 0 && words <= rule.max);
        uint8_t frame[ZN_VOICE_MAX_FRAME_BYTES] = {0x00, 0x01, static_cast<uint8_t>(words), 0x00};
        std::vector<int16_t> pcm(ZN_VOICE_MAX_DECODED_SAMPLES);
        uint16_t count = 0;
        const uint32_t st = ZN_VOICE_DecodeFrame(b.get(), frame, pcm.data(), &count);
        ASSERT_EQ(st, ok ? ZN_VOICE_OK : ZN_VOICE_DEC_BAD_LENGTH) << "type " << type << " words " << words;
        if (!ok) {
          ASSERT_EQ(count, 0);
        }
      }
    }
  }
  // The two extremes the caller's buffer must hold.
  Block b3, b35;
  ZN_VOICE_DecReset(b3.get(), 3);
  ZN_VOICE_DecReset(b35.get(), 35);
  std::vector<uint8_t> frame(ZN_VOICE_MAX_FRAME_BYTES, 0x77);
  frame[0] = 0, frame[1] = 1, frame[2] = 255, frame[3] = 0;
  EXPECT_EQ(DecodeOne(b3, frame).size(), 1012u);
  EXPECT_EQ(DecodeOne(b35, frame).size(), 1013u);
  Block b67;
  ZN_VOICE_DecReset(b67.get(), 67);
  EXPECT_EQ(DecodeOne(b67, frame).size(), 1020u) << "the largest a frame yields";
  // G.711: 240 words -> 480 samples, 250 refused.
  Block b1;
  ZN_VOICE_DecReset(b1.get(), 1);
  frame[2] = 240;
  EXPECT_EQ(DecodeOne(b1, frame).size(), 480u);
  frame[2] = 250;
  uint32_t st = 0;
  EXPECT_TRUE(DecodeOne(b1, frame, &st).empty());
  EXPECT_EQ(st, ZN_VOICE_DEC_BAD_LENGTH);
}

TEST(VoiceFrame, HostileAdpcmHeaderIndexStaysInTheTable) {
  Block b;
  ZN_VOICE_DecReset(b.get(), 3);
  std::vector<uint8_t> frame = {0, 1, 22, 0, 0xFF, 0x7F, 0xFF, 0x7F};  // predictor 32767, index 32767
  frame.resize(4 + 44, 0x77);
  uint32_t st = 1;
  const auto pcm = DecodeOne(b, frame, &st);
  EXPECT_EQ(st, 0u);
  EXPECT_EQ(pcm.size(), 80u);
}

TEST(VoiceFrame, MsbFirstTypesRepackTheCallersFrameInPlace) {
  const auto pcm = testing_support::SpeechLike(480, 3);
  for (int lsb_type : {4, 5, 6, 7}) {
    const int msb_type = lsb_type + 32;
    SCOPED_TRACE(msb_type);
    Block enc_lsb, enc_msb;
    ZN_VOICE_EncReset(enc_lsb.get(), lsb_type);
    ZN_VOICE_EncReset(enc_msb.get(), msb_type);
    const auto lsb = EncodeOne(enc_lsb, pcm.data(), 480);
    const auto msb = EncodeOne(enc_msb, pcm.data(), 480);
    ASSERT_EQ(lsb.size(), msb.size());
    EXPECT_NE(lsb, msb) << "same codes, other bit order";

    // Decoding the MSB frame turns its payload into the LSB order in place.
    std::vector<uint8_t> buffer = msb;
    buffer.resize(ZN_VOICE_MAX_FRAME_BYTES);
    Block dec1;
    ZN_VOICE_DecReset(dec1.get(), msb_type);
    std::vector<int16_t> first(ZN_VOICE_MAX_DECODED_SAMPLES), second(ZN_VOICE_MAX_DECODED_SAMPLES);
    uint16_t n1 = 0, n2 = 0;
    ASSERT_EQ(ZN_VOICE_DecodeFrame(dec1.get(), buffer.data(), first.data(), &n1), 0u);
    EXPECT_TRUE(std::equal(lsb.begin(), lsb.end(), buffer.begin())) << "payload now LSB-first";

    // The same (now altered) buffer decoded again from a fresh state differs.
    Block dec2;
    ZN_VOICE_DecReset(dec2.get(), msb_type);
    ASSERT_EQ(ZN_VOICE_DecodeFrame(dec2.get(), buffer.data(), second.data(), &n2), 0u);
    ASSERT_EQ(n1, n2);
    EXPECT_FALSE(std::equal(first.begin(), first.begin() + n1, second.begin()));

    // And the LSB type decodes its own frame to the same samples as the MSB type.
    Block dec3;
    ZN_VOICE_DecReset(dec3.get(), lsb_type);
    EXPECT_EQ(DecodeOne(dec3, lsb), std::vector<int16_t>(first.begin(), first.begin() + n1));
  }
}

TEST(VoiceFrame, G711PairExchangeAndTranscoding) {
  const auto pcm = testing_support::SpeechLike(160, 5);
  for (auto [swapped_type, plain_type, trans_type] : {std::tuple{65, 1, 97}, std::tuple{66, 2, 98}}) {
    Block enc_plain, enc_swapped, trans;
    ZN_VOICE_EncReset(enc_plain.get(), plain_type);
    ZN_VOICE_EncReset(enc_swapped.get(), swapped_type);
    const auto plain = EncodeOne(enc_plain, pcm.data(), 160);
    auto swapped = EncodeOne(enc_swapped, pcm.data(), 160);
    ASSERT_EQ(plain.size(), swapped.size());
    for (size_t i = 4; i < plain.size(); i += 2) {
      EXPECT_EQ(swapped[i], plain[i + 1]);
      EXPECT_EQ(swapped[i + 1], plain[i]);
    }
    ASSERT_EQ(ZN_VOICE_TransCodeReset(trans.get(), trans_type), 0u);
    ASSERT_EQ(ZN_VOICE_TransCodeFrame(trans.get(), swapped.data()), 0u);
    EXPECT_EQ(swapped, plain) << "byte order of the plain type, length byte unchanged";
  }
}

TEST(VoiceFrame, AdpcmAndCompactG726TranscodeToTheirPlainTypes) {
  const auto pcm = testing_support::SpeechLike(480, 9);
  for (auto [from_type, to_type, trans_type] : {std::tuple{67, 3, 99}, std::tuple{68, 4, 100}}) {
    SCOPED_TRACE(trans_type);
    Block enc, dec_from, trans, dec_to;
    ZN_VOICE_EncReset(enc.get(), from_type);
    ZN_VOICE_DecReset(dec_from.get(), from_type);
    ZN_VOICE_DecReset(dec_to.get(), to_type);
    ASSERT_EQ(ZN_VOICE_TransCodeReset(trans.get(), trans_type), 0u);
    const auto original = EncodeOne(enc, pcm.data(), 480);
    const auto reference = DecodeOne(dec_from, original);

    std::vector<uint8_t> frame = original;
    frame.resize(ZN_VOICE_MAX_FRAME_BYTES);
    ASSERT_EQ(ZN_VOICE_TransCodeFrame(trans.get(), frame.data()), 0u);
    frame.resize(4 + 2 * static_cast<size_t>(frame[2]));
    // The plain type's decoder hears what the original decoder heard, re-coded once.
    const auto transcoded = DecodeOne(dec_to, frame);
    ASSERT_EQ(transcoded.size(), reference.size());
    EXPECT_GT(testing_support::SnrDb(reference.data(), transcoded.data(), reference.size()), 6.0);
  }
  Block t;
  EXPECT_EQ(ZN_VOICE_TransCodeReset(nullptr, 97), ZN_VOICE_TRANS_NULL_STATE);
  EXPECT_EQ(ZN_VOICE_TransCodeReset(t.get(), 96), ZN_VOICE_TRANS_TYPE_UNSUPPORTED);
  uint8_t frame[8] = {0, 1, 2, 0};
  EXPECT_EQ(ZN_VOICE_TransCodeFrame(nullptr, frame), ZN_VOICE_TRANS_NULL_STATE);
  EXPECT_EQ(ZN_VOICE_TransCodeFrame(t.get(), nullptr), ZN_VOICE_NULL_INPUT);
  ZN_VOICE_EncReset(t.get(), 6);
  EXPECT_EQ(ZN_VOICE_TransCodeFrame(t.get(), frame), ZN_VOICE_TRANS_TYPE_UNSUPPORTED);
}

}  // namespace
