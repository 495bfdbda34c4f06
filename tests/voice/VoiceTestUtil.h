#pragma once
// Small helpers over the C interface for the voice tests.
#include <cstdint>
#include <cstring>
#include <vector>

#include "voice/voxcore.h"

namespace voice_test {

struct Block {
  alignas(8) uint8_t bytes[ZN_VOICE_TRANSCODE_STATE_SIZE] = {};
  void* get() { return bytes; }
};

inline std::vector<uint8_t> EncodeOne(Block& enc, const int16_t* samples, int count, uint32_t* status = nullptr) {
  std::vector<uint8_t> frame(ZN_VOICE_MAX_FRAME_BYTES, 0xEE);
  const uint32_t st = ZN_VOICE_EncodeFrame(enc.get(), samples, frame.data(), static_cast<uint16_t>(count));
  if (status) *status = st;
  if (st != ZN_VOICE_OK) return {};
  frame.resize(4 + 2 * static_cast<size_t>(frame[2]));
  return frame;
}

inline std::vector<int16_t> DecodeOne(Block& dec, std::vector<uint8_t> frame, uint32_t* status = nullptr) {
  frame.resize(ZN_VOICE_MAX_FRAME_BYTES);
  std::vector<int16_t> pcm(ZN_VOICE_MAX_DECODED_SAMPLES);
  uint16_t count = 0xFFFF;
  const uint32_t st = ZN_VOICE_DecodeFrame(dec.get(), frame.data(), pcm.data(), &count);
  if (status) *status = st;
  pcm.resize(count);
  return pcm;
}

// Encodes a whole signal in frames of `per_frame` samples and decodes it again.
inline std::vector<int16_t> RoundTrip(int type, const std::vector<int16_t>& signal, int per_frame) {
  Block enc, dec;
  ZN_VOICE_EncReset(enc.get(), type);
  ZN_VOICE_DecReset(dec.get(), type);
  std::vector<int16_t> out;
  for (size_t at = 0; at + static_cast<size_t>(per_frame) <= signal.size(); at += static_cast<size_t>(per_frame)) {
    const auto frame = EncodeOne(enc, signal.data() + at, per_frame);
    const auto pcm = DecodeOne(dec, frame);
    out.insert(out.end(), pcm.begin(), pcm.end());
  }
  return out;
}

}  // namespace voice_test
