#pragma once
// Keeps a damaged time stamp off the playback clock. A recording's video time
// stamps run on one time line; a tag with a broken header can carry anything
// (such as 0xFFFFFFFF microseconds), and handed to the clock it would make
// every channel wait for it or skip towards it. A reader asks the guard about
// each time stamp before feeding its packet: one that jumps far from the time
// line (or lies beyond the recording's end, when that is known) is turned
// down, unless the time stamps after it agree with it, when the recording
// really did move to a new time line and the guard follows it.
#include <cstdint>

namespace engine {

class TimestampGuard {
 public:
  struct Limits {
    int64_t max_jump_ms = 5000;  // farther from the previous time stamp, either way, is suspect
    int confirmations = 3;       // suspects in a row that agree make a new time line
  };

  // duration_ms: the recording's length, or 0 when it is not known.
  explicit TimestampGuard(int64_t duration_ms = 0) : TimestampGuard(duration_ms, Limits{}) {}
  TimestampGuard(int64_t duration_ms, Limits limits) : duration_ms_(duration_ms), limits_(limits) {}

  // True when the packet with this time stamp may be fed and its time stamp
  // handed to the clock; false when it is dropped.
  bool Accept(int64_t time_ms);

  uint64_t dropped() const { return dropped_; }

 private:
  bool Near(int64_t a, int64_t b) const;
  bool Suspect(int64_t time_ms) const;

  int64_t duration_ms_;
  Limits limits_;
  bool started_ = false;
  int64_t last_ = 0;       // the last time stamp accepted
  int suspects_ = 0;       // suspects in a row that agree with each other
  int64_t suspect_last_ = 0;
  uint64_t dropped_ = 0;
};

}  // namespace engine
