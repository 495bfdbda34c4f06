#pragma once
// The two cut points of a clip export, set on the position slider: none, one,
// or a complete range, ordered start <= end whichever was set first. Points
// at the same slider pixel do not make a range.
#include <utility>

namespace views {

class CutPoints {
 public:
  struct Point {
    int pixel = 0;    // on the slider
    int seconds = 0;  // into the recording
  };
  enum State { kNone = 0, kOne = 1, kRange = 2 };

  // True when this point completed the range.
  bool Set(Point at) {
    if (state_ == kNone) {
      start_ = at;
      state_ = kOne;
      return false;
    }
    if (state_ == kRange || at.pixel == start_.pixel) return false;
    end_ = at;
    if (end_.pixel < start_.pixel) std::swap(start_, end_);
    state_ = kRange;
    return true;
  }
  // Drops the last point.
  void Delete() {
    if (state_ > kNone) state_ = static_cast<State>(state_ - 1);
  }
  void Clear() { state_ = kNone; }
  State state() const { return state_; }
  const Point& start() const { return start_; }
  const Point& end() const { return end_; }

 private:
  State state_ = kNone;
  Point start_, end_;
};

}  // namespace views
