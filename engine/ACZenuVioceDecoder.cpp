#include "engine/ACZenuVioceDecoder.h"

#include <cstring>

namespace engine {

namespace {
constexpr size_t kStateWords = (ZN_VOICE_STATE_SIZE + sizeof(uint64_t) - 1) / sizeof(uint64_t);
constexpr int kFrameHeader = 4;
}  // namespace

const uint8_t* ACZenuVioceDecoder::Decode(int /*codec_id*/, const uint8_t* data, int size, int* out_bytes) {
  if (out_bytes) *out_bytes = 0;
  if (!data || size < kFrameHeader) return nullptr;
  // Header: 00, flag, payload length in 16-bit words, 00.
  const int frame_bytes = kFrameHeader + 2 * data[2];
  if (frame_bytes > size) return nullptr;
  if (reset_needed_) {
    if (!state_) state_ = std::make_unique<uint64_t[]>(kStateWords);  // zero-filled
    if (ZN_VOICE_DecReset(state_.get(), kCodecType) != ZN_VOICE_OK) return nullptr;
    reset_needed_ = false;
  }
  std::memcpy(frame_, data, static_cast<size_t>(frame_bytes));
  uint16_t count = kMaxSamples;
  if (ZN_VOICE_DecodeFrame(state_.get(), frame_, pcm_, &count) != ZN_VOICE_OK) return nullptr;
  if (count > kMaxSamples) return nullptr;
  if (out_bytes) *out_bytes = count * 2;
  return reinterpret_cast<const uint8_t*>(pcm_);
}

}  // namespace engine
