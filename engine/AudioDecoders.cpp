#include "engine/AudioDecoders.h"

#include "engine/ACAACDecoder.h"
#include "engine/ACADPCMDecoder.h"
#include "engine/ACZenuVioceDecoder.h"

namespace engine {

std::unique_ptr<ACDecoder> MakeAudioDecoder(int codec_id) {
  switch (codec_id) {
    case kVoiceCodec: return std::make_unique<ACZenuVioceDecoder>();
    case kAdpcmMs:
    case kAdpcmSwf: return std::make_unique<ACADPCMDecoder>();
    case kAac: return std::make_unique<ACAACDecoder>();
    default: return nullptr;
  }
}

}  // namespace engine
