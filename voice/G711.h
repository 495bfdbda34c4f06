#pragma once
// ITU-T G.711 A-law and u-law companding.
#include <cstdint>

namespace voice {

uint8_t LinearToAlaw(int16_t sample);
uint8_t LinearToUlaw(int16_t sample);
int16_t AlawToLinear(uint8_t code);
int16_t UlawToLinear(uint8_t code);

}  // namespace voice
