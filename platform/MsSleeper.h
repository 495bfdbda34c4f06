#pragma once
// The millisecond sleeper of the playback clock. It behaves as if a 1 ms periodic
// timer were ticking from Start on: SleepMs(n) returns on the (n)th tick from now,
// so SleepMs(1) returns on the next tick. The ticks are a grid of whole
// milliseconds from the start time; instead of a timer thread waking every
// millisecond (which costs CPU while the player idles) the sleeping thread
// sleeps until the grid point directly. Before Start and after Stop it sleeps
// plainly for n milliseconds; a Start after a Stop lays a new grid (a clock
// restarted keeps its 1 ms pace).
#include <atomic>
#include <cstdint>

#include "platform/Sleeper.h"

namespace platform {

class MsSleeper : public Sleeper {
 public:
  // Returns 1 when the tick grid is running (always on Linux), 0 on failure.
  int Start();
  void SleepMs(uint32_t ms) override;
  // Stops the grid: later sleeps are plain sleeps until the next Start.
  void Stop();
  bool Running() const { return running_.load(std::memory_order_acquire); }

 private:
  std::atomic<bool> running_{false};
  std::atomic<int64_t> origin_ns_{0};
};

}  // namespace platform
