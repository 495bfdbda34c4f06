#pragma once
// The audio codecs a recording can carry, by the codec id that comes with its
// packets, and the decoder for each.
#include <memory>

#include "QVVReader/Format.h"
#include "engine/ACDecoder.h"

namespace engine {

inline constexpr int kVoiceCodec = qvv::codec_id::kVoice;     // 0x11000: the recorder's voice frames
inline constexpr int kAdpcmMs = qvv::codec_id::kAdpcmMs;      // 0x11006: Microsoft ADPCM, 8000 Hz
inline constexpr int kAdpcmSwf = qvv::codec_id::kFlashAdpcm;  // 0x1100D: Flash ADPCM, 11025 Hz
inline constexpr int kAac = qvv::codec_id::kAac;              // 0x15002
static_assert(kVoiceCodec == 0x11000 && kAdpcmMs == 0x11006 && kAdpcmSwf == 0x1100D && kAac == 0x15002);

// A decoder for `codec_id` (ACZenuVioceDecoder, ACADPCMDecoder or
// ACAACDecoder), used through ACDecoder::DecodeAudio; nullptr for any other id.
std::unique_ptr<ACDecoder> MakeAudioDecoder(int codec_id);

}  // namespace engine
