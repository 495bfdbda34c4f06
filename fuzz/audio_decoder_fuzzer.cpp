// libFuzzer target: the three audio decoders, as the audio player drives them
// (made by codec id, called through ACDecoder). The first byte picks the
// decoder, the container's sample rate and whether the first chunk is the AAC
// config; then chunks of a 2-byte little-endian length and that many bytes are
// packets to one decoder in turn. Length 0 resets the decoder; the top bit of
// a length switches an ADPCM decoder to the other ADPCM codec.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/ACAACDecoder.h"
#include "engine/ACZenuVioceDecoder.h"
#include "engine/AudioDecoders.h"

namespace {
constexpr int kCodecs[] = {engine::kVoiceCodec, engine::kAdpcmMs, engine::kAdpcmSwf, engine::kAac};
constexpr int kRates[] = {0, 8000, 16000, 44100};
constexpr int kMaxPackets = 64;
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t control = data[0];
  ++data;
  --size;
  const int codec = kCodecs[control & 3];
  const int rate = kRates[(control >> 2) & 3];
  auto decoder = engine::MakeAudioDecoder(codec);
  if (!decoder) __builtin_trap();
  bool config = codec == engine::kAac && (control & 0x10);
  const size_t max_bytes = codec == engine::kVoiceCodec ? 2 * engine::ACZenuVioceDecoder::kMaxSamples : SIZE_MAX;

  for (int n = 0; n < kMaxPackets && size >= 2; ++n) {
    const int word = data[0] | (data[1] << 8);
    data += 2;
    size -= 2;
    const size_t length = std::min<size_t>(word & 0x7FFF, size);
    // Its own allocation, so that a read past the packet is caught.
    const std::vector<uint8_t> packet(data, data + length);
    data += length;
    size -= length;
    if (config) {
      static_cast<engine::ACAACDecoder*>(decoder.get())->SetExtradata(packet);
      config = false;
      continue;
    }
    if (length == 0) {
      decoder->Reset();
      continue;
    }
    int id = codec;
    if ((word & 0x8000) && codec != engine::kVoiceCodec && codec != engine::kAac)
      id = codec == engine::kAdpcmMs ? engine::kAdpcmSwf : engine::kAdpcmMs;
    int bytes = -1;
    const uint8_t* pcm = decoder->DecodeAudio(id, packet.data(), static_cast<int>(packet.size()), &bytes, rate);
    if (!pcm) {
      if (bytes != 0) __builtin_trap();
      continue;
    }
    if (bytes <= 0 || bytes % 2 != 0 || static_cast<size_t>(bytes) > max_bytes) __builtin_trap();
    // Every byte handed out must be readable.
    uint8_t sum = 0;
    for (int i = 0; i < bytes; i += 64) sum ^= pcm[i];
    sum ^= pcm[bytes - 1];
    volatile uint8_t sink = sum;
    (void)sink;
    if (decoder->AudioSampleRate() <= 0 || decoder->AudioChannels() <= 0) __builtin_trap();
  }
  return 0;
}
