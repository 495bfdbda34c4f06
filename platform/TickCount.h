#pragma once
// Millisecond tick counts. The 32-bit count wraps after about 49.7 days; elapsed
// times are taken with unsigned subtraction so that the wrap is harmless.
#include <cstdint>

namespace platform {

// Milliseconds since an arbitrary fixed point (monotonic), truncated to 32 bits.
uint32_t TickCount32();
// The same clock in 64 bits.
uint64_t TickCount64();
// Milliseconds from `start` to `now`, correct across one wrap of the 32-bit count.
inline uint32_t TicksSince(uint32_t start, uint32_t now) { return now - start; }

}  // namespace platform
