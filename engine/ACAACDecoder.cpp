#include "engine/ACAACDecoder.h"

#include <algorithm>

#include "engine/AudioDecoders.h"

namespace engine {

void ACAACDecoder::SetExtradata(std::span<const uint8_t> extradata) {
  if (std::equal(extradata.begin(), extradata.end(), extradata_.begin(), extradata_.end())) return;
  extradata_.assign(extradata.begin(), extradata.end());
  reopen_needed_ = true;
}

int ACAACDecoder::Reset() {
  Close();
  reopen_needed_ = true;
  return 1;
}

const uint8_t* ACAACDecoder::Decode(int codec_id, const uint8_t* data, int size, int* out_bytes, int sample_rate) {
  if (out_bytes) *out_bytes = 0;
  if (!data || size <= 0) return nullptr;
  const int rate = sample_rate > 0 ? sample_rate : kDefaultSampleRate;
  // Raw frames are decoded with tables for the opened rate: another rate
  // needs another decoder.
  if (reopen_needed_ || !is_open() || rate != opened_sample_rate_) {
    Setup setup;
    setup.codec_id = codec_id == kAac ? codec_id : 0;  // "not found"
    setup.sample_rate = rate;
    setup.extradata = extradata_;
    setup.open_failure = "could not open pCodecContext\n";
    if (!Open(setup)) return nullptr;
    reopen_needed_ = false;
    opened_sample_rate_ = rate;
  }
  return DecodePacket(data, size, out_bytes);
}

}  // namespace engine
