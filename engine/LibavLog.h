#pragma once
// libav's log, routed through our own: a damaged stream makes the H.264
// decoder write a line per broken macroblock (thousands for a few kilobytes of
// garbage), from up to twelve decode threads at once. Instead of reaching
// stderr, every message is counted for the channel whose decoder context wrote
// it (contexts are attached to a channel when they open), and the first text
// of each channel is kept for a one-line summary.
#include <cstdint>
#include <string>
#include <vector>

namespace engine::libav_log {

// Replaces libav's log callback with the counting one (once per process;
// later calls do nothing). Messages above libav's log level are ignored, as
// its own callback would.
void Install();

// Messages written by `context` (an AVCodecContext) count for `channel` until
// Detach. The decoder attaches its context after allocating it and detaches
// it after freeing it.
void Attach(const void* context, int channel);
void Detach(const void* context);

// Messages of error level or worse written by `context` so far (0 for one
// that is not attached).
uint64_t ErrorCount(const void* context);

inline constexpr int kUnattributed = -1;  // a message from no attached context

struct Tally {
  int channel = kUnattributed;
  uint64_t messages = 0;
  uint64_t errors = 0;   // of error level or worse
  std::string first;     // the first message's text, without the line end
};

// One entry per channel with messages since the last Reset, by channel
// (unattributed first).
std::vector<Tally> Tallies();
void Reset();

}  // namespace engine::libav_log
