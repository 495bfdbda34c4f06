#pragma once
// ADPCM audio on libavcodec: Microsoft ADPCM (codec id 0x11006) at 8000 Hz and
// Flash (SWF) ADPCM (0x1100D) at 11025 Hz, mono, 16-bit PCM out.
#include <cstdint>

#include "engine/LibavAudioDecoder.h"

namespace engine {

class ACADPCMDecoder : public LibavAudioDecoder {
 public:
  ACADPCMDecoder() = default;

  // Returns the packet's PCM (kept until the next call) or nullptr: no data,
  // a codec id that is neither ADPCM, a decoder that will not open, or a
  // packet that gives no samples. The decoder opens on the first packet, and
  // again after Reset or when the codec id changes.
  const uint8_t* Decode(int codec_id, const uint8_t* data, int size, int* out_bytes);
  const uint8_t* DecodeAudio(int codec_id, const uint8_t* data, int size, int* out_bytes, int) override {
    return Decode(codec_id, data, size, out_bytes);
  }
  // The next packet reopens the decoder.
  int Reset() override {
    reopen_needed_ = true;
    return 1;
  }

 private:
  bool reopen_needed_ = true;
  int opened_codec_id_ = 0;
  int opened_block_align_ = 0;
};

}  // namespace engine
