// The three audio decoders on real streams: voice frames from voxcore's
// encoder, ADPCM and AAC from libavcodec's encoders, each decoder made by the
// factory and driven through ACDecoder as the audio player drives it.
#include "engine/AudioDecoders.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <numbers>
#include <string>
#include <vector>

#include "cli/sample/Encoders.h"
#include "engine/ACAACDecoder.h"
#include "engine/ACADPCMDecoder.h"
#include "engine/ACZenuVioceDecoder.h"
#include "voice/voxcore.h"

namespace {

using engine::ACDecoder;
using engine::MakeAudioDecoder;
using Packets = std::vector<std::vector<uint8_t>>;

std::vector<int16_t> Tone(double frequency, int rate, int count) {
  std::vector<int16_t> out(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i)
    out[static_cast<size_t>(i)] =
        static_cast<int16_t>(std::lround(8000.0 * std::sin(2 * std::numbers::pi * frequency * i / rate)));
  return out;
}

// The frequency of a tone from its sign changes (the first `skip` samples,
// where an encoder starts up, are left out).
double Frequency(const std::vector<int16_t>& pcm, int rate, size_t skip = 0) {
  int crossings = 0;
  for (size_t i = skip + 1; i < pcm.size(); ++i) crossings += (pcm[i - 1] < 0) != (pcm[i] < 0);
  return crossings / 2.0 * rate / static_cast<double>(pcm.size() - skip);
}

struct Decoded {
  const uint8_t* pcm = nullptr;
  int bytes = -1;
};

Decoded Decode(ACDecoder& decoder, int codec_id, const std::vector<uint8_t>& packet, int sample_rate = 0) {
  Decoded d;
  d.pcm = decoder.DecodeAudio(codec_id, packet.data(), static_cast<int>(packet.size()), &d.bytes, sample_rate);
  return d;
}

// Decodes every packet and joins the PCM; every packet must give some.
std::vector<int16_t> DecodeAll(ACDecoder& decoder, int codec_id, const Packets& packets, int sample_rate = 0) {
  std::vector<int16_t> pcm;
  for (const auto& p : packets) {
    const Decoded d = Decode(decoder, codec_id, p, sample_rate);
    EXPECT_NE(d.pcm, nullptr) << "packet " << &p - packets.data();
    if (!d.pcm) continue;
    const size_t at = pcm.size();
    pcm.resize(at + static_cast<size_t>(d.bytes) / 2);
    std::memcpy(pcm.data() + at, d.pcm, static_cast<size_t>(d.bytes));
  }
  return pcm;
}

// --- voice -------------------------------------------------------------------

constexpr int kVoiceType = 35;

Packets VoiceFrames(const std::vector<int16_t>& signal, int samples_a_frame) {
  alignas(8) uint8_t state[ZN_VOICE_STATE_SIZE];
  EXPECT_EQ(ZN_VOICE_EncReset(state, kVoiceType), ZN_VOICE_OK);
  Packets frames;
  for (size_t at = 0; at + static_cast<size_t>(samples_a_frame) <= signal.size(); at += samples_a_frame) {
    std::vector<uint8_t> frame(ZN_VOICE_MAX_FRAME_BYTES);
    EXPECT_EQ(ZN_VOICE_EncodeFrame(state, signal.data() + at, frame.data(), static_cast<uint16_t>(samples_a_frame)),
              ZN_VOICE_OK);
    frame.resize(4 + 2 * static_cast<size_t>(frame[2]));  // exactly the frame: reads past it are caught
    frames.push_back(std::move(frame));
  }
  return frames;
}

TEST(ACZenuVioceDecoder, FramesOf481SamplesGiveTheToneAsVoxcoreDecodesIt) {
  const auto tone = Tone(500, 8000, 481 * 8);
  const Packets frames = VoiceFrames(tone, 481);
  auto decoder = MakeAudioDecoder(engine::kVoiceCodec);
  ASSERT_NE(dynamic_cast<engine::ACZenuVioceDecoder*>(decoder.get()), nullptr);
  for (const auto& f : frames) EXPECT_EQ(Decode(*decoder, engine::kVoiceCodec, f).bytes, 962);
  EXPECT_EQ(decoder->AudioSampleRate(), 8000);

  decoder->Reset();
  const auto pcm = DecodeAll(*decoder, engine::kVoiceCodec, frames);
  ASSERT_EQ(pcm.size(), tone.size());
  EXPECT_NEAR(Frequency(pcm, 8000), 500, 10);
  // The same samples as voxcore's own decoder with a fresh type 35 state.
  alignas(8) uint8_t state[ZN_VOICE_STATE_SIZE] = {};
  ZN_VOICE_DecReset(state, kVoiceType);
  for (size_t i = 0; i < frames.size(); ++i) {
    std::vector<uint8_t> frame = frames[i];
    int16_t expected[ZN_VOICE_MAX_DECODED_SAMPLES];
    uint16_t count = 0;
    ASSERT_EQ(ZN_VOICE_DecodeFrame(state, frame.data(), expected, &count), ZN_VOICE_OK);
    ASSERT_EQ(count, 481);
    EXPECT_EQ(std::memcmp(expected, pcm.data() + i * 481, 962), 0) << "frame " << i;
  }
}

TEST(ACZenuVioceDecoder, LongOrDamagedFramesGiveNothingAndTheNextFrameDecodes) {
  const Packets frames = VoiceFrames(Tone(500, 8000, 481 * 2), 481);
  engine::ACZenuVioceDecoder decoder;
  // 123 payload words make 485 samples, 255 words 1013: more than a frame of
  // the recorder's; the codec writes them all, the decoder hands none out.
  for (int words : {123, 255}) {
    std::vector<uint8_t> frame = frames[0];
    frame[2] = static_cast<uint8_t>(words);
    frame.resize(4 + 2 * static_cast<size_t>(words), 0x88);
    const Decoded d = Decode(decoder, engine::kVoiceCodec, frame);
    EXPECT_EQ(d.pcm, nullptr) << words;
    EXPECT_EQ(d.bytes, 0);
  }
  std::vector<uint8_t> cut = frames[0];
  cut.resize(cut.size() - 1);  // the header claims one byte more than there is
  std::vector<uint8_t> bad_flag = frames[0];
  bad_flag[1] = 0x02;
  for (const auto& packet : {cut, bad_flag, std::vector<uint8_t>{0x00, 0x01, 0x00}}) {
    EXPECT_EQ(Decode(decoder, engine::kVoiceCodec, packet).pcm, nullptr);
  }
  int bytes = -1;
  EXPECT_EQ(decoder.Decode(engine::kVoiceCodec, nullptr, 100, &bytes), nullptr);
  EXPECT_EQ(bytes, 0);
  // Trailing bytes after a whole frame are not part of it.
  std::vector<uint8_t> padded = frames[1];
  padded.resize(padded.size() + 30, 0xFF);
  EXPECT_EQ(Decode(decoder, engine::kVoiceCodec, padded).bytes, 962);
}

// --- ADPCM -------------------------------------------------------------------

Packets Encode(const std::string& codec, int rate, const std::vector<int16_t>& signal,
               std::vector<uint8_t>* extradata = nullptr) {
  sample::AudioEncoder encoder;
  std::string error;
  EXPECT_TRUE(encoder.Open(codec, rate, error)) << error;
  Packets packets;
  const size_t n = static_cast<size_t>(encoder.frame_size());
  for (size_t at = 0; at + n <= signal.size(); at += n)
    for (auto& p : encoder.Encode(signal.data() + at, static_cast<int64_t>(at))) packets.push_back(std::move(p.data));
  if (extradata) *extradata = encoder.extradata();
  return packets;
}

TEST(ACADPCMDecoder, MicrosoftAdpcmAt8000HzAndFlashAdpcmAt11025Hz) {
  struct Case {
    const char* encoder;
    int codec_id, rate, samples_a_packet;
  };
  // libavcodec's Microsoft ADPCM blocks are 1024 bytes: 7 bytes of header
  // with two samples, then two samples a byte.
  for (const Case& c :
       {Case{"adpcm_ms", engine::kAdpcmMs, 8000, 2036}, Case{"adpcm_swf", engine::kAdpcmSwf, 11025, 4096}}) {
    SCOPED_TRACE(c.encoder);
    const auto tone = Tone(500, c.rate, 2 * c.rate);
    const Packets packets = Encode(c.encoder, c.rate, tone);
    ASSERT_GE(packets.size(), 2u);
    auto decoder = MakeAudioDecoder(c.codec_id);
    ASSERT_NE(dynamic_cast<engine::ACADPCMDecoder*>(decoder.get()), nullptr);
    EXPECT_EQ(Decode(*decoder, c.codec_id, packets[0]).bytes, c.samples_a_packet * 2);
    EXPECT_EQ(decoder->AudioSampleRate(), c.rate);
    EXPECT_EQ(decoder->AudioChannels(), 1);
    const auto pcm = DecodeAll(*decoder, c.codec_id, packets);
    EXPECT_EQ(pcm.size(), packets.size() * static_cast<size_t>(c.samples_a_packet));
    EXPECT_NEAR(Frequency(pcm, c.rate), 500, 10);
  }
}

TEST(ACADPCMDecoder, DamagedPacketsGiveNothingAndTheNextPacketDecodesAsBefore) {
  const Packets packets = Encode("adpcm_ms", 8000, Tone(500, 8000, 8000));
  engine::ACADPCMDecoder reference;
  const Decoded first = Decode(reference, engine::kAdpcmMs, packets[1]);
  ASSERT_NE(first.pcm, nullptr);
  const std::vector<uint8_t> expected(first.pcm, first.pcm + first.bytes);

  engine::ACADPCMDecoder decoder;
  std::vector<uint8_t> bad_predictor = packets[0];
  bad_predictor[0] = 9;  // a block's coefficient set is 0..6
  const std::vector<uint8_t> truncated(packets[0].begin(), packets[0].begin() + 5);
  // The truncated block first: the decoder opens for its size, and must not
  // cut the next packets into blocks of that size.
  for (const auto& bad : {truncated, bad_predictor, std::vector<uint8_t>(256, 0xFF)}) {
    const Decoded d = Decode(decoder, engine::kAdpcmMs, bad);
    EXPECT_EQ(d.pcm, nullptr);
    EXPECT_EQ(d.bytes, 0);
    const Decoded next = Decode(decoder, engine::kAdpcmMs, packets[1]);
    ASSERT_NE(next.pcm, nullptr);
    EXPECT_EQ(std::vector<uint8_t>(next.pcm, next.pcm + next.bytes), expected);
  }
  // Another codec id reopens the decoder for that codec.
  const Packets swf = Encode("adpcm_swf", 11025, Tone(500, 11025, 4096));
  EXPECT_EQ(Decode(decoder, engine::kAdpcmSwf, swf[0]).bytes, 4096 * 2);
  EXPECT_EQ(decoder.AudioSampleRate(), 11025);
  EXPECT_EQ(Decode(decoder, engine::kAdpcmMs, packets[1]).bytes, 2036 * 2);
  EXPECT_EQ(decoder.AudioSampleRate(), 8000);
}

TEST(ACADPCMDecoder, ABlockLargerThanTheInitialBufferGrowsIt) {
  // One Microsoft ADPCM block: coefficient set, delta, two samples, then
  // 300,000 bytes of codes, two samples each: 600,002 samples, 1,200,004
  // bytes of PCM, more than the 384,000 bytes the buffer starts with.
  std::vector<uint8_t> block(7 + 300000, 0x17);
  block[0] = 0;
  block[1] = 16;  // delta
  block[2] = block[3] = block[4] = block[5] = block[6] = 0;
  engine::ACADPCMDecoder decoder;
  EXPECT_EQ(decoder.output_capacity(), engine::LibavAudioDecoder::kInitialOutputBytes);
  const Decoded d = Decode(decoder, engine::kAdpcmMs, block);
  ASSERT_NE(d.pcm, nullptr);
  EXPECT_EQ(d.bytes, 600002 * 2);
  EXPECT_GE(decoder.output_capacity(), static_cast<size_t>(d.bytes));
  // Smaller packets later keep the buffer.
  const size_t capacity = decoder.output_capacity();
  EXPECT_EQ(Decode(decoder, engine::kAdpcmMs, Encode("adpcm_ms", 8000, Tone(500, 8000, 2036))[0]).bytes, 2036 * 2);
  EXPECT_EQ(decoder.output_capacity(), capacity);
}

TEST(ACADPCMDecoder, UnknownCodecSaysSoAndTheNextPacketOpens) {
  const Packets packets = Encode("adpcm_ms", 8000, Tone(500, 8000, 2036));
  ASSERT_EQ(packets.size(), 1u);
  engine::ACADPCMDecoder decoder;
  testing::internal::CaptureStderr();
  EXPECT_EQ(Decode(decoder, engine::kAac, packets[0]).pcm, nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "pCodec not found\n");
  EXPECT_EQ(Decode(decoder, engine::kAdpcmMs, packets[0]).bytes, 2036 * 2);
}

// --- AAC ---------------------------------------------------------------------

// An ADTS header (MPEG-4, AAC LC, no CRC) for a raw frame of `payload` bytes.
std::vector<uint8_t> Adts(const std::vector<uint8_t>& frame, int rate_index, int channels) {
  const size_t length = frame.size() + 7;
  std::vector<uint8_t> out = {0xFF,
                              0xF1,
                              static_cast<uint8_t>((1 << 6) | (rate_index << 2) | (channels >> 2)),
                              static_cast<uint8_t>(((channels & 3) << 6) | (length >> 11)),
                              static_cast<uint8_t>((length >> 3) & 0xFF),
                              static_cast<uint8_t>(((length & 7) << 5) | 0x1F),
                              0xFC};
  out.insert(out.end(), frame.begin(), frame.end());
  return out;
}

TEST(ACAACDecoder, RawFramesDecodeWithTheirConfigOrAtTheContainersRate) {
  std::vector<uint8_t> config;
  const Packets packets = Encode("aac", 8000, Tone(500, 8000, 8000), &config);
  ASSERT_GE(packets.size(), 5u);
  ASSERT_FALSE(config.empty());

  auto with_config = MakeAudioDecoder(engine::kAac);
  auto* aac = dynamic_cast<engine::ACAACDecoder*>(with_config.get());
  ASSERT_NE(aac, nullptr);
  aac->SetExtradata(config);
  const auto pcm = DecodeAll(*with_config, engine::kAac, packets, 8000);
  EXPECT_EQ(pcm.size(), packets.size() * 1024);
  EXPECT_EQ(with_config->AudioSampleRate(), 8000);
  EXPECT_EQ(with_config->AudioChannels(), 1);
  EXPECT_NEAR(Frequency(pcm, 8000, 2048), 500, 10);

  // Without the config, a sample rate of 0 means 8000 Hz mono AAC LC: the same samples.
  engine::ACAACDecoder bare;
  EXPECT_EQ(DecodeAll(bare, engine::kAac, packets, 0), pcm);
  EXPECT_EQ(bare.AudioSampleRate(), 8000);
  // Another rate from the container reopens the decoder for it.
  const auto at_16k = DecodeAll(bare, engine::kAac, Encode("aac", 16000, Tone(500, 16000, 16000)), 16000);
  EXPECT_EQ(bare.AudioSampleRate(), 16000);
  EXPECT_NEAR(Frequency(at_16k, 16000, 2048), 500, 10);
}

TEST(ACAACDecoder, AdtsFramesCarryTheirOwnRate) {
  const Packets raw = Encode("aac", 16000, Tone(500, 16000, 8192));
  Packets adts;
  for (const auto& p : raw) adts.push_back(Adts(p, 8 /* 16000 Hz */, 1));
  engine::ACAACDecoder decoder;
  const auto pcm = DecodeAll(decoder, engine::kAac, adts, 0);  // the container does not know the rate
  EXPECT_EQ(pcm.size(), adts.size() * 1024);
  EXPECT_EQ(decoder.AudioSampleRate(), 16000);
  EXPECT_NEAR(Frequency(pcm, 16000, 2048), 500, 10);
}

TEST(ACAACDecoder, DamagedPacketsGiveNothingAndTheDecoderCarriesOn) {
  std::vector<uint8_t> config;
  const Packets packets = Encode("aac", 8000, Tone(500, 8000, 8000), &config);
  engine::ACAACDecoder decoder;
  decoder.SetExtradata(config);
  ASSERT_NE(Decode(decoder, engine::kAac, packets[0], 8000).pcm, nullptr);
  std::vector<uint8_t> garbage(200);
  for (size_t i = 0; i < garbage.size(); ++i) garbage[i] = static_cast<uint8_t>(i * 37 + 11);
  const std::vector<uint8_t> truncated(packets[1].begin(), packets[1].begin() + 3);
  for (const auto& bad : {garbage, truncated}) {
    const Decoded d = Decode(decoder, engine::kAac, bad, 8000);
    EXPECT_EQ(d.pcm, nullptr);
    EXPECT_EQ(d.bytes, 0);
  }
  for (size_t i = 2; i < packets.size(); ++i) EXPECT_EQ(Decode(decoder, engine::kAac, packets[i], 8000).bytes, 2048);
  // After Reset the stream starts afresh: the same samples as a new decoder's.
  decoder.Reset();
  engine::ACAACDecoder fresh;
  fresh.SetExtradata(config);
  for (size_t i = 0; i < 3; ++i) {
    const Decoded a = Decode(decoder, engine::kAac, packets[i], 8000);
    const Decoded b = Decode(fresh, engine::kAac, packets[i], 8000);
    ASSERT_TRUE(a.pcm && b.pcm);
    EXPECT_EQ(std::vector<uint8_t>(a.pcm, a.pcm + a.bytes), std::vector<uint8_t>(b.pcm, b.pcm + b.bytes));
  }
}

TEST(ACAACDecoder, OpenFailuresSaySoAndTheNextPacketTriesAgain) {
  const Packets packets = Encode("aac", 8000, Tone(500, 8000, 2048));
  engine::ACAACDecoder decoder;
  testing::internal::CaptureStderr();
  EXPECT_EQ(Decode(decoder, engine::kAdpcmMs, packets[0], 8000).pcm, nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "pCodec not found\n");
  // Audio object type 31 with an escape to 63: not a config the decoder takes.
  const uint8_t bad_config[] = {0xFF, 0xFF, 0xFF, 0xFF};
  decoder.SetExtradata(bad_config);
  testing::internal::CaptureStderr();
  EXPECT_EQ(Decode(decoder, engine::kAac, packets[0], 8000).pcm, nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "could not open pCodecContext\n");
  decoder.SetExtradata({});
  EXPECT_EQ(Decode(decoder, engine::kAac, packets[0], 8000).bytes, 2048);
}

TEST(AudioDecoders, TheFactoryKnowsTheFourCodecIds) {
  EXPECT_NE(dynamic_cast<engine::ACZenuVioceDecoder*>(MakeAudioDecoder(0x11000).get()), nullptr);
  EXPECT_NE(dynamic_cast<engine::ACADPCMDecoder*>(MakeAudioDecoder(0x11006).get()), nullptr);
  EXPECT_NE(dynamic_cast<engine::ACADPCMDecoder*>(MakeAudioDecoder(0x1100D).get()), nullptr);
  EXPECT_NE(dynamic_cast<engine::ACAACDecoder*>(MakeAudioDecoder(0x15002).get()), nullptr);
  for (int other : {0, 27, 173, 0x11001, 0x15001, -1}) EXPECT_EQ(MakeAudioDecoder(other), nullptr) << other;
}

}  // namespace
