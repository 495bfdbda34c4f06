#pragma once
// ITU-T G.711 A-law and u-law companding. Inline and table-driven: the codec
// runs these once per sample. The tables are built at compile time.
#include <array>
#include <cstddef>
#include <cstdint>

namespace voice {

namespace g711_detail {

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

inline constexpr auto kAlawTable = MakeTable<ExpandAlaw>();
inline constexpr auto kUlawTable = MakeTable<ExpandUlaw>();

static_assert(kAlawTable[0] == -5504 && kUlawTable[0] == -32124);

// Compression of the (one's-complemented) 13-bit A-law magnitude: segment and
// 4-bit mantissa, before the even-bit inversion.
constexpr uint8_t CompressAlaw(int v) {
  const int seg = v < 0x20 ? 0 : TopBit(static_cast<unsigned>(v)) - 4;
  return static_cast<uint8_t>((seg << 4) | ((seg == 0 ? v >> 1 : v >> seg) & 0x0F));
}

// u-law of the 14-bit magnitude: bias 33, clipped at 8192, segment and mantissa.
constexpr uint8_t CompressUlaw(int m) {
  const int biased = m + 33;
  if (biased >= 0x2000) return 0x7F;
  const int seg = TopBit(static_cast<unsigned>(biased)) - 5;
  return static_cast<uint8_t>((seg << 4) | ((biased >> (seg + 1)) & 0x0F));
}

template <int N, uint8_t (*Compress)(int)>
constexpr std::array<uint8_t, N> MakeCompressTable() {
  std::array<uint8_t, N> table{};
  for (int i = 0; i < N; ++i) table[static_cast<size_t>(i)] = Compress(i);
  return table;
}

inline constexpr auto kAlawCompress = MakeCompressTable<4096, CompressAlaw>();  // 13-bit magnitude
inline constexpr auto kUlawCompress = MakeCompressTable<8193, CompressUlaw>();  // |x| >> 2, 0..8192

}  // namespace g711_detail

inline uint8_t LinearToAlaw(int16_t sample) {
  const int v = sample >> 3;           // 13 bits
  const int negative = v >> 31;        // 0 or -1
  const int magnitude = v ^ negative;  // one's complement for negative values
  return static_cast<uint8_t>(g711_detail::kAlawCompress[static_cast<size_t>(magnitude)] ^ (0xD5 & ~(negative & 0x80)));
}

inline uint8_t LinearToUlaw(int16_t sample) {
  // Magnitude of the 16-bit sample first, then 14 bits.
  const int x = sample;
  const int negative = x >> 31;
  const int magnitude = ((x ^ negative) - negative) >> 2;
  return static_cast<uint8_t>(g711_detail::kUlawCompress[static_cast<size_t>(magnitude)] ^ (0xFF & ~(negative & 0x80)));
}

inline int16_t AlawToLinear(uint8_t code) { return g711_detail::kAlawTable[code]; }
inline int16_t UlawToLinear(uint8_t code) { return g711_detail::kUlawTable[code]; }

}  // namespace voice
