#include "voice/ImaAdpcm.h"

#include <algorithm>

namespace voice {
namespace {

constexpr int16_t kStepTable[kImaMaxStepIndex + 1] = {
    7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,    21,    23,
    25,    28,    31,    34,    37,    41,    45,    50,    55,    60,    66,    73,    80,
    88,    97,    107,   118,   130,   143,   157,   173,   190,   209,   230,   253,   279,
    307,   337,   371,   408,   449,   494,   544,   598,   658,   724,   796,   876,   963,
    1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,  2272,  2499,  2749,  3024,  3327,
    3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,  9493,  10442, 11487,
    12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};

constexpr int8_t kIndexAdjust[8] = {-1, -1, -1, -1, 2, 4, 6, 8};

// The decoder's arithmetic, shared by the encoder so both stay in step.
inline void Apply(AdpcmState& s, uint8_t code, int step) {
  int diff = step >> 3;
  if (code & 4) diff += step;
  if (code & 2) diff += step >> 1;
  if (code & 1) diff += step >> 2;
  const int predicted = (code & 8) ? s.predictor - diff : s.predictor + diff;
  s.predictor = static_cast<int16_t>(std::clamp(predicted, -32768, 32767));
  s.step_index = static_cast<int16_t>(std::clamp(s.step_index + kIndexAdjust[code & 7], 0, kImaMaxStepIndex));
}

}  // namespace

int16_t ImaClampIndex(int index) { return static_cast<int16_t>(std::clamp(index, 0, kImaMaxStepIndex)); }

uint8_t ImaEncode(AdpcmState& s, int16_t sample) {
  s.step_index = ImaClampIndex(s.step_index);
  const int step = kStepTable[s.step_index];
  int diff = sample - s.predictor;
  uint8_t code = 0;
  if (diff < 0) {
    code = 8;
    diff = -diff;
  }
  if (diff >= step) {
    code |= 4;
    diff -= step;
  }
  if (diff >= (step >> 1)) {
    code |= 2;
    diff -= step >> 1;
  }
  if (diff >= (step >> 2)) code |= 1;
  Apply(s, code, step);
  return code;
}

int16_t ImaDecode(AdpcmState& s, uint8_t code) {
  s.step_index = ImaClampIndex(s.step_index);
  Apply(s, code & 0x0F, kStepTable[s.step_index]);
  return s.predictor;
}

}  // namespace voice
