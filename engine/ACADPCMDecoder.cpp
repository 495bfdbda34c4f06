#include "engine/ACADPCMDecoder.h"

#include "engine/AudioDecoders.h"

namespace engine {

const uint8_t* ACADPCMDecoder::Decode(int codec_id, const uint8_t* data, int size, int* out_bytes) {
  if (out_bytes) *out_bytes = 0;
  if (!data || size <= 0) return nullptr;
  const bool ms = codec_id == kAdpcmMs;
  const bool swf = codec_id == kAdpcmSwf;
  // A Microsoft ADPCM packet is one block, and libavcodec needs the block
  // size: a packet of another size than the last one reopens the decoder
  // with it (blocks carry their own predictor state, so nothing is lost).
  if (reopen_needed_ || !is_open() || codec_id != opened_codec_id_ || (ms && size != opened_block_align_)) {
    Setup setup;
    setup.codec_id = ms || swf ? codec_id : 0;  // nothing else is ADPCM of ours: "not found"
    setup.sample_rate = swf ? 11025 : 8000;
    setup.bit_rate = swf ? 44000 : 64000;
    setup.block_align = ms ? size : 0;
    setup.open_failure = "could not open pCodec\n";
    if (!Open(setup)) return nullptr;
    reopen_needed_ = false;
    opened_codec_id_ = codec_id;
    opened_block_align_ = setup.block_align;
  }
  return DecodePacket(data, size, out_bytes);
}

}  // namespace engine
