#include "engine/TimestampGuard.h"

namespace engine {

bool TimestampGuard::Near(int64_t a, int64_t b) const {
  return (a > b ? a - b : b - a) <= limits_.max_jump_ms;
}

bool TimestampGuard::Suspect(int64_t time_ms) const {
  if (duration_ms_ > 0 && time_ms > duration_ms_ + limits_.max_jump_ms) return true;
  return started_ && !Near(time_ms, last_);
}

bool TimestampGuard::Accept(int64_t time_ms) {
  if (time_ms < 0) {  // negative times are the filter's markers: never a picture's
    ++dropped_;
    return false;
  }
  if (!Suspect(time_ms)) {
    started_ = true;
    last_ = time_ms;
    suspects_ = 0;
    return true;
  }
  suspects_ = suspects_ > 0 && Near(time_ms, suspect_last_) ? suspects_ + 1 : 1;
  suspect_last_ = time_ms;
  if (suspects_ < limits_.confirmations) {
    ++dropped_;
    return false;
  }
  // The time stamps after it agree: the recording moved on. A time line past
  // the recorded duration means the duration was wrong.
  if (duration_ms_ > 0 && time_ms > duration_ms_ + limits_.max_jump_ms) duration_ms_ = 0;
  started_ = true;
  last_ = time_ms;
  suspects_ = 0;
  return true;
}

}  // namespace engine
