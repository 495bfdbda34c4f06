#pragma once
// IMA ADPCM, 4-bit codes: sign bit 8 and magnitude bits 4, 2, 1 of the
// difference in units of the current step.
#include <cstdint>

#include "voice/VoiceState.h"

namespace voice {

inline constexpr int kImaMaxStepIndex = 88;

uint8_t ImaEncode(AdpcmState& s, int16_t sample);
int16_t ImaDecode(AdpcmState& s, uint8_t code);
// Clamps an index read from a frame header into the table.
int16_t ImaClampIndex(int index);

}  // namespace voice
