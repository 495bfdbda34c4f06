#pragma once
// Layout of the caller's state block. The block may be unaligned, so codecs
// copy it into a VoiceState, work on the copy and copy it back.
#include <cstdint>
#include <cstring>

namespace voice {

// The G.726 reference algorithm's state (names follow the recommendation).
struct G726State {
  int32_t yl;     // locked (slow) quantiser scale factor
  int16_t yu;     // unlocked (fast) quantiser scale factor
  int16_t dms;    // short-term average of F[I]
  int16_t dml;    // long-term average of F[I]
  int16_t ap;     // speed control: weighting of yu and yl
  int16_t a[2];   // pole predictor coefficients
  int16_t b[6];   // zero predictor coefficients
  int16_t pk[2];  // signs of the last two partial reconstructions
  int16_t dq[6];  // last six quantised differences, floating format
  int16_t sr[2];  // last two reconstructed values, floating format
  int16_t td;     // tone detected
  uint8_t bits;   // code width: 2, 3, 4 or 5
  uint8_t linear; // 1: 16-bit linear PCM at the interface (always set by reset)
};

struct AdpcmState {
  int16_t predictor;
  int16_t step_index;
};

struct VoiceState {
  uint16_t type;  // codec type of the last reset: the block's first 16-bit field
  uint16_t reserved;
  union {
    AdpcmState adpcm;
    G726State g726;
  };
};

static_assert(sizeof(VoiceState) <= 104, "a codec half must fit in 104 bytes");

inline VoiceState LoadState(const void* block) {
  VoiceState s;
  std::memcpy(&s, block, sizeof s);
  return s;
}

inline void StoreState(void* block, const VoiceState& s) { std::memcpy(block, &s, sizeof s); }

}  // namespace voice
