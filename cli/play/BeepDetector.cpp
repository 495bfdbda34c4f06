#include "cli/play/BeepDetector.h"

namespace cli {

void BeepDetector::Feed(const int16_t* samples, int count, uint32_t tick) {
  const double ms_per_sample = 1000.0 / rate_;
  for (int i = 0; i < count; ++i) {
    const int16_t s = samples[i];
    if (have_previous_ && previous_ < 0 && s >= 0) {
      // The crossing between the two samples, by linear interpolation.
      const double fraction = static_cast<double>(-previous_) / (static_cast<double>(s) - previous_);
      const double at = tick + (i - 1 + fraction) * ms_per_sample;
      if (have_crossing_) {
        const double period = at - last_crossing_ms_;
        if (period > 0.93 && period < 1.07) {  // 935 .. 1075 Hz: not the 900 Hz tone of channel 6
          if (run_ == 0) run_start_ms_ = last_crossing_ms_;
          if (++run_ == kRun && run_start_ms_ - last_beep_ms_ >= 20) onsets_.push_back(run_start_ms_);
          if (run_ >= kRun) last_beep_ms_ = at;
        } else {
          run_ = 0;
        }
      }
      last_crossing_ms_ = at;
      have_crossing_ = true;
    }
    previous_ = s;
    have_previous_ = true;
  }
}

}  // namespace cli
