// Every type through encoder and decoder on speech-like signals.
#include <gtest/gtest.h>

#include "tests/support/Signals.h"
#include "tests/voice/VoiceTestUtil.h"

namespace {

using namespace voice_test;
using testing_support::SnrDb;
using testing_support::SpeechLike;

struct Floor {
  int type;
  double min_snr_db;
};

class VoiceRoundTrip : public ::testing::TestWithParam<Floor> {};

TEST_P(VoiceRoundTrip, MeetsTheCodecsSignalToNoiseFloor) {
  const Floor f = GetParam();
  const auto signal = SpeechLike(8000 * 4, 11);
  const int per_frame = f.type == 35 ? 161 : 160;
  const auto decoded = RoundTrip(f.type, signal, per_frame);
  ASSERT_EQ(decoded.size(), signal.size() / per_frame * per_frame);
  const double snr = SnrDb(signal.data(), decoded.data(), decoded.size());
  RecordProperty("snr_db", std::to_string(snr));
  EXPECT_GE(snr, f.min_snr_db);
  // Quiet and loud signals too: companding and adaptation keep working at both ends.
  for (double peak : {600.0, 30000.0}) {
    // The compact 16 kbit/s codec runs the algorithm on 16-bit samples as they
    // are; its scale factor tops out near a quarter of full scale, so loud
    // input overloads it by design of the format.
    if (f.type == 68 && peak > 8000) peak = 8000;
    const auto other = SpeechLike(8000 * 2, 12, peak);
    const auto back = RoundTrip(f.type, other, per_frame);
    EXPECT_GE(SnrDb(other.data(), back.data(), back.size()), f.min_snr_db - 6.0) << "peak " << peak;
  }
}

// Floors a few dB under what each codec reaches on this signal.
INSTANTIATE_TEST_SUITE_P(AllTypes, VoiceRoundTrip,
                         ::testing::Values(Floor{1, 34}, Floor{2, 34}, Floor{65, 34}, Floor{66, 34},
                                           Floor{3, 23}, Floor{35, 23}, Floor{67, 23}, Floor{4, 16},
                                           Floor{36, 16}, Floor{68, 14}, Floor{5, 21}, Floor{37, 21},
                                           Floor{6, 27}, Floor{38, 27}, Floor{7, 30}, Floor{39, 30}),
                         [](const auto& param_info) { return "type" + std::to_string(param_info.param.type); });

TEST(VoiceRoundTrip, HeaderTypesDecodeAfterAGapStatefulTypesDoNot) {
  const auto signal = SpeechLike(160 * 6, 21);
  for (int type : {3, 67}) {
    Block enc;
    ZN_VOICE_EncReset(enc.get(), type);
    std::vector<std::vector<uint8_t>> frames;
    for (int f = 0; f < 6; ++f) frames.push_back(EncodeOne(enc, signal.data() + f * 160, 160));
    Block all, gap;
    ZN_VOICE_DecReset(all.get(), type);
    ZN_VOICE_DecReset(gap.get(), type);
    std::vector<int16_t> in_order;
    for (int f = 0; f < 6; ++f) in_order = DecodeOne(all, frames[static_cast<size_t>(f)]);
    const auto skipped = DecodeOne(gap, frames[5]);  // frames 0-4 never seen
    if (type == 3) {
      EXPECT_EQ(skipped, in_order) << "type 3 carries its state in the header";
    } else {
      EXPECT_NE(skipped, in_order) << "type 67 depends on the frames before";
    }
  }
}

TEST(VoiceRoundTrip, ResetRestartsTheStream) {
  const auto signal = SpeechLike(480, 31);
  for (int type : {6, 67, 68}) {
    Block enc;
    ZN_VOICE_EncReset(enc.get(), type);
    const auto first = EncodeOne(enc, signal.data(), 480);
    EncodeOne(enc, signal.data(), 480);
    ZN_VOICE_EncReset(enc.get(), type);
    EXPECT_EQ(EncodeOne(enc, signal.data(), 480), first) << type;
  }
}

TEST(VoiceRoundTrip, UnalignedStateBlocksWork) {
  // The caller's block may sit at any address.
  alignas(8) uint8_t storage[ZN_VOICE_STATE_SIZE * 2 + 8] = {};
  void* enc = storage + 1;
  void* dec = storage + ZN_VOICE_STATE_SIZE + 3;
  const auto signal = SpeechLike(160, 41);
  ASSERT_EQ(ZN_VOICE_EncReset(enc, 6), 0u);
  ASSERT_EQ(ZN_VOICE_DecReset(dec, 6), 0u);
  uint8_t frame[ZN_VOICE_MAX_FRAME_BYTES];
  ASSERT_EQ(ZN_VOICE_EncodeFrame(enc, signal.data(), frame, 160), 0u);
  int16_t pcm[ZN_VOICE_MAX_DECODED_SAMPLES];
  uint16_t n = 0;
  ASSERT_EQ(ZN_VOICE_DecodeFrame(dec, frame, pcm, &n), 0u);
  EXPECT_EQ(n, 160);
}

}  // namespace
