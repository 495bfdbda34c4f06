#pragma once
// ITU-T G.726 ADPCM for linear PCM with 2-, 3-, 4- and 5-bit codes: adaptive
// quantiser in the log domain, scale-factor adaptation with fast and slow
// factors, speed control, a two-pole six-zero predictor, tone and transition
// detection. The arithmetic follows the recommendation's fixed-point blocks.
#include <cstdint>

#include "voice/VoiceState.h"

namespace voice {

void G726Reset(G726State& s, int bits);
// Standard interface: the 16-bit sample is taken as 14 bits (>> 2); the output
// is the reconstructed signal times four, limited to -32764..32764.
uint8_t G726Encode(G726State& s, int16_t sample);
int16_t G726Decode(G726State& s, uint8_t code);
// Compact 16 kbit/s variant: 2-bit codes on the 16-bit samples as they are,
// output limited to the 16-bit range.
uint8_t G726Encode16Raw(G726State& s, int16_t sample);
int16_t G726Decode16Raw(G726State& s, uint8_t code);

// Whole blocks, so the per-sample work inlines into one loop.
void G726EncodeBlock(G726State& s, const int16_t* in, int count, uint8_t* codes);
void G726DecodeBlock(G726State& s, const uint8_t* codes, int count, int16_t* out);

}  // namespace voice
