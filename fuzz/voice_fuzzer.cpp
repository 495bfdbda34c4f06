// libFuzzer target: voice frames of every type through the decoder and the
// transcoder, and arbitrary samples through the encoder. The first byte picks
// the codec type, the second the operation; the rest is the frame or PCM.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "voice/voxcore.h"

namespace {
constexpr int kTypes[] = {1, 2, 65, 66, 3, 35, 67, 4, 5, 6, 7, 36, 37, 38, 39, 68, 0, 8, 97, 100};
constexpr int kTransTypes[] = {97, 98, 99, 100, 96, 101};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const int type = kTypes[data[0] % (sizeof kTypes / sizeof kTypes[0])];
  const uint8_t op = data[1];
  data += 2;
  size -= 2;

  alignas(8) uint8_t state[ZN_VOICE_TRANSCODE_STATE_SIZE];
  std::memset(state, op, sizeof state);  // resets must not depend on prior contents
  // The caller's frame buffer is always the largest frame; bytes past the input are zero.
  uint8_t frame[ZN_VOICE_MAX_FRAME_BYTES] = {};
  std::memcpy(frame, data, size < sizeof frame ? size : sizeof frame);
  int16_t pcm[ZN_VOICE_MAX_DECODED_SAMPLES];
  uint16_t count = 0;

  switch (op % 3) {
    case 0: {  // decode a run of frames with one state
      ZN_VOICE_DecReset(state, type);
      ZN_VOICE_DecodeFrame(state, frame, pcm, &count);
      if (count > ZN_VOICE_MAX_DECODED_SAMPLES) __builtin_trap();
      frame[1] = 0x01;  // and once more with a valid flag
      ZN_VOICE_DecodeFrame(state, frame, pcm, &count);
      break;
    }
    case 1: {  // transcode in place
      ZN_VOICE_TransCodeReset(state, kTransTypes[(op / 3) % 6]);
      ZN_VOICE_TransCodeFrame(state, frame);
      ZN_VOICE_TransCodeFrame(state, frame);
      break;
    }
    default: {  // encode the bytes as samples, then decode what came out
      int16_t samples[481] = {};
      std::memcpy(samples, data, size < sizeof samples ? size : sizeof samples);
      const uint16_t n = static_cast<uint16_t>((op / 3) * 7 % 482);
      ZN_VOICE_EncReset(state, type);
      uint8_t out[ZN_VOICE_MAX_FRAME_BYTES];
      if (ZN_VOICE_EncodeFrame(state, samples, out, n) == ZN_VOICE_OK) {
        ZN_VOICE_DecReset(state, type);
        if (ZN_VOICE_DecodeFrame(state, out, pcm, &count) != ZN_VOICE_OK || count != n) __builtin_trap();
      }
      break;
    }
  }
  return 0;
}
