#include "voice/CodePacking.h"

#include <cstring>

namespace voice {
namespace {
// Upper bound of codes in one frame (480 samples); repacking works on the stack.
constexpr size_t kMaxCodes = 1024;
}  // namespace

void PackLsbFirst(const uint8_t* codes, size_t count, int bits, uint8_t* out) {
  std::memset(out, 0, (count * static_cast<size_t>(bits) + 7) / 8);
  uint32_t acc = 0;
  int filled = 0;
  size_t o = 0;
  for (size_t i = 0; i < count; ++i) {
    acc |= static_cast<uint32_t>(codes[i] & ((1u << bits) - 1)) << filled;
    filled += bits;
    while (filled >= 8) {
      out[o++] = static_cast<uint8_t>(acc);
      acc >>= 8;
      filled -= 8;
    }
  }
  if (filled > 0) out[o] = static_cast<uint8_t>(acc);
}

void UnpackLsbFirst(const uint8_t* in, size_t count, int bits, uint8_t* codes) {
  uint32_t acc = 0;
  int filled = 0;
  size_t o = 0;
  for (size_t i = 0; i < count; ++i) {
    while (filled < bits) {
      acc |= static_cast<uint32_t>(in[o++]) << filled;
      filled += 8;
    }
    codes[i] = static_cast<uint8_t>(acc & ((1u << bits) - 1));
    acc >>= bits;
    filled -= bits;
  }
}

void PackMsbFirst(const uint8_t* codes, size_t count, int bits, uint8_t* out) {
  std::memset(out, 0, (count * static_cast<size_t>(bits) + 7) / 8);
  uint32_t acc = 0;
  int filled = 0;
  size_t o = 0;
  for (size_t i = 0; i < count; ++i) {
    acc = (acc << bits) | (codes[i] & ((1u << bits) - 1));
    filled += bits;
    while (filled >= 8) {
      out[o++] = static_cast<uint8_t>(acc >> (filled - 8));
      filled -= 8;
    }
  }
  if (filled > 0) out[o] = static_cast<uint8_t>(acc << (8 - filled));
}

void UnpackMsbFirst(const uint8_t* in, size_t count, int bits, uint8_t* codes) {
  uint32_t acc = 0;
  int filled = 0;
  size_t o = 0;
  for (size_t i = 0; i < count; ++i) {
    while (filled < bits) {
      acc = (acc << 8) | in[o++];
      filled += 8;
    }
    codes[i] = static_cast<uint8_t>((acc >> (filled - bits)) & ((1u << bits) - 1));
    filled -= bits;
  }
}

void RepackLsbToMsb(uint8_t* bytes, size_t count, int bits) {
  uint8_t codes[kMaxCodes];
  if (count > kMaxCodes) count = kMaxCodes;
  UnpackLsbFirst(bytes, count, bits, codes);
  PackMsbFirst(codes, count, bits, bytes);
}

void RepackMsbToLsb(uint8_t* bytes, size_t count, int bits) {
  uint8_t codes[kMaxCodes];
  if (count > kMaxCodes) count = kMaxCodes;
  UnpackMsbFirst(bytes, count, bits, codes);
  PackLsbFirst(codes, count, bits, bytes);
}

}  // namespace voice
