#pragma once
// AAC audio (codec id 0x15002) on libavcodec, 16-bit PCM out at the stream's
// rate. Packets are raw AAC frames, decoded as the stream's
// AudioSpecificConfig says (SetExtradata) or, without one, as AAC-LC at the
// container's sample rate, mono; or ADTS frames, whose headers say it all.
#include <cstdint>
#include <span>
#include <vector>

#include "engine/LibavAudioDecoder.h"

namespace engine {

class ACAACDecoder : public LibavAudioDecoder {
 public:
  static constexpr int kDefaultSampleRate = 8000;

  ACAACDecoder() = default;

  // Returns the packet's PCM (kept until the next call) or nullptr: no data,
  // another codec id, a decoder that will not open, or a packet that gives no
  // samples (the encoder's first packet gives none, nor does a damaged one).
  // sample_rate 0 means 8000; the decoder reopens when it changes.
  const uint8_t* Decode(int codec_id, const uint8_t* data, int size, int* out_bytes, int sample_rate);
  const uint8_t* DecodeAudio(int codec_id, const uint8_t* data, int size, int* out_bytes, int sample_rate) override {
    return Decode(codec_id, data, size, out_bytes, sample_rate);
  }
  // The stream's AudioSpecificConfig from the container (MP4 esds, FLV's AAC
  // sequence header); empty for none. A change reopens the decoder on the
  // next packet.
  void SetExtradata(std::span<const uint8_t> extradata);
  // Frees the decoder; the next packet opens a new one.
  int Reset() override;

 private:
  bool reopen_needed_ = true;
  int opened_sample_rate_ = 0;
  std::vector<uint8_t> extradata_;
};

}  // namespace engine
