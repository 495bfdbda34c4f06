#include "platform/TickCount.h"

#include <ctime>

namespace platform {

uint64_t TickCount64() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
}

uint32_t TickCount32() { return static_cast<uint32_t>(TickCount64()); }

}  // namespace platform
