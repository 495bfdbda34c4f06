#pragma once
// The recorder's voice track: one voxcore frame (IMA ADPCM, type 35: the first
// sample in the frame's header) a packet, 16-bit mono PCM at 8000 Hz out. The
// recorder writes at most 481 samples a frame; a frame that claims more gives
// no output.
#include <cstdint>
#include <memory>

#include "engine/ACDecoder.h"
#include "voice/voxcore.h"

namespace engine {

class ACZenuVioceDecoder : public ACDecoder {
 public:
  static constexpr int kCodecType = 35;
  static constexpr int kMaxSamples = 481;  // 962 bytes of output
  static constexpr int kSampleRate = 8000;

  // The packet holds one frame (4-byte header, then 2 x its length-byte
  // bytes); bytes after it are ignored. Returns the PCM (kept until the next
  // call) or nullptr: no data, a frame longer than the packet, a frame the
  // codec refuses or one of more than kMaxSamples samples. The codec id is
  // not looked at: this decoder only ever gets the voice codec.
  const uint8_t* Decode(int codec_id, const uint8_t* data, int size, int* out_bytes);
  const uint8_t* DecodeAudio(int codec_id, const uint8_t* data, int size, int* out_bytes, int) override {
    return Decode(codec_id, data, size, out_bytes);
  }
  // The next frame starts the stream afresh (predictor and step index cleared).
  int Reset() override {
    reset_needed_ = true;
    return 1;
  }
  int AudioSampleRate() const override { return kSampleRate; }
  int AudioChannels() const override { return 1; }

 private:
  bool reset_needed_ = true;
  std::unique_ptr<uint64_t[]> state_;  // ZN_VOICE_STATE_SIZE bytes, made on first use
  // The codec may write up to ZN_VOICE_MAX_DECODED_SAMPLES (a frame of 255
  // words) whatever the frame claims, so the buffer holds that many; only the
  // first kMaxSamples are ever handed out.
  int16_t pcm_[ZN_VOICE_MAX_DECODED_SAMPLES] = {};
  // The codec reads the frame's length from its header and may rewrite the
  // frame in place: it gets a copy that is known to hold the whole frame.
  uint8_t frame_[ZN_VOICE_MAX_FRAME_BYTES] = {};
};

}  // namespace engine
