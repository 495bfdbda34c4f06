#pragma once
// Packing of w-bit codes (w = 2..5) into bytes, least- or most-significant bit
// first. A code that does not fit into the rest of a byte continues in the next.
#include <cstddef>
#include <cstdint>

namespace voice {

void PackLsbFirst(const uint8_t* codes, size_t count, int bits, uint8_t* out);
void UnpackLsbFirst(const uint8_t* in, size_t count, int bits, uint8_t* codes);
void PackMsbFirst(const uint8_t* codes, size_t count, int bits, uint8_t* out);
void UnpackMsbFirst(const uint8_t* in, size_t count, int bits, uint8_t* codes);

// In place: `bytes` holding `count` codes packed one way, rewritten the other way.
void RepackLsbToMsb(uint8_t* bytes, size_t count, int bits);
void RepackMsbToLsb(uint8_t* bytes, size_t count, int bits);

}  // namespace voice
