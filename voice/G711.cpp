#include "voice/G711.h"

#include <array>
#include <cstddef>

namespace voice {
namespace {

// Position of the highest set bit (v > 0).
constexpr int TopBit(unsigned v) { return 31 - __builtin_clz(v); }

constexpr int16_t ExpandAlaw(uint8_t code) {
  const int v = code ^ 0x55;  // undo the even-bit inversion
  int t = (v & 0x0F) << 4;
  const int seg = (v & 0x70) >> 4;
  if (seg == 0) {
    t += 8;
  } else {
    t = (t + 0x108) << (seg - 1);
  }
  return static_cast<int16_t>((v & 0x80) ? t : -t);
}

constexpr int16_t ExpandUlaw(uint8_t code) {
  const int v = static_cast<uint8_t>(~code);
  const int t = (((v & 0x0F) << 3) + 0x84) << ((v & 0x70) >> 4);
  return static_cast<int16_t>((v & 0x80) ? (0x84 - t) : (t - 0x84));
}

template <int16_t (*Expand)(uint8_t)>
constexpr std::array<int16_t, 256> MakeTable() {
  std::array<int16_t, 256> table{};
  for (int i = 0; i < 256; ++i) table[static_cast<size_t>(i)] = Expand(static_cast<uint8_t>(i));
  return table;
}

constexpr auto kAlawTable = MakeTable<ExpandAlaw>();
constexpr auto kUlawTable = MakeTable<ExpandUlaw>();

static_assert(kAlawTable[0] == -5504 && kUlawTable[0] == -32124);

}  // namespace

uint8_t LinearToAlaw(int16_t sample) {
  int v = sample >> 3;  // 13 bits
  int mask = 0xD5;
  if (v < 0) {
    v = ~v;  // one's complement
    mask = 0x55;
  }
  if (v > 0xFFF) return static_cast<uint8_t>(0x7F ^ mask);
  const int seg = v < 0x20 ? 0 : TopBit(static_cast<unsigned>(v)) - 4;
  const int mantissa = (seg == 0 ? v >> 1 : v >> seg) & 0x0F;
  return static_cast<uint8_t>(((seg << 4) | mantissa) ^ mask);
}

uint8_t LinearToUlaw(int16_t sample) {
  // Magnitude of the 16-bit sample first, then 14 bits, then the bias.
  int magnitude = sample;
  int mask = 0xFF;
  if (magnitude < 0) {
    magnitude = -magnitude;
    mask = 0x7F;
  }
  const int biased = (magnitude >> 2) + 33;
  if (biased >= 0x2000) return static_cast<uint8_t>(0x7F ^ mask);
  const int seg = TopBit(static_cast<unsigned>(biased)) - 5;
  const int mantissa = (biased >> (seg + 1)) & 0x0F;
  return static_cast<uint8_t>(((seg << 4) | mantissa) ^ mask);
}

int16_t AlawToLinear(uint8_t code) { return kAlawTable[code]; }
int16_t UlawToLinear(uint8_t code) { return kUlawTable[code]; }

}  // namespace voice
