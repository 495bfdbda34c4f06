#pragma once
// Finds where 1 kHz beeps begin in a stream of 16-bit samples: sync marks cut
// into a channel's lower tone. It follows the rising zero crossings; a run of
// periods within 7 % of 1 ms, at least 20 ms after the last beep, is a new beep; it
// began at the crossing that started its first period.
#include <cstdint>
#include <vector>

namespace cli {

class BeepDetector {
 public:
  explicit BeepDetector(int rate) : rate_(rate) {}

  // Samples (mono) in order; `tick` is the millisecond tick of the first.
  void Feed(const int16_t* samples, int count, uint32_t tick);
  // The ticks (ms) at which beeps began, in order.
  const std::vector<double>& onsets() const { return onsets_; }

 private:
  static constexpr int kRun = 5;  // periods in a row that make a beep

  const int rate_;
  bool have_previous_ = false;
  int16_t previous_ = 0;
  double last_crossing_ms_ = 0;  // on the tick scale
  bool have_crossing_ = false;
  double last_beep_ms_ = -1e18;  // the last crossing inside a beep
  int run_ = 0;
  double run_start_ms_ = 0;
  std::vector<double> onsets_;
};

}  // namespace cli
