#include "map/ACGPSDataList.h"

#include <cmath>
#include <cstdio>
#include <new>

namespace map {

bool ACGPSDataList::Append(const TrackPoint& point) {
  std::lock_guard lock(lock_);
  if (points_.size() == points_.capacity()) {
    try {
      points_.reserve(points_.capacity() + kGrowth);
      ++growths_;
    } catch (const std::bad_alloc&) {
      return false;  // the points kept so far stay
    }
  }
  points_.push_back(point);
  return true;
}

void ACGPSDataList::Clear() {
  std::lock_guard lock(lock_);
  points_.clear();
  sent_ = playback_ = 0;
}

int ACGPSDataList::count() const {
  std::lock_guard lock(lock_);
  return static_cast<int>(points_.size());
}

int ACGPSDataList::capacity() const {
  std::lock_guard lock(lock_);
  return static_cast<int>(points_.capacity());
}

int ACGPSDataList::sent() const {
  std::lock_guard lock(lock_);
  return sent_;
}

TrackPoint ACGPSDataList::at(int i) const {
  std::lock_guard lock(lock_);
  return i >= 0 && i < static_cast<int>(points_.size()) ? points_[static_cast<size_t>(i)] : TrackPoint{};
}

int ACGPSDataList::pending() const {
  std::lock_guard lock(lock_);
  return static_cast<int>(points_.size()) - sent_;
}

std::string ACGPSDataList::TakeBatch(int most, int* pending_before) {
  std::lock_guard lock(lock_);
  const int pending = static_cast<int>(points_.size()) - sent_;
  if (pending_before) *pending_before = pending;
  std::string batch;
  char text[64];
  for (int n = 0; n < most && sent_ < static_cast<int>(points_.size()); ++n, ++sent_) {
    const TrackPoint& p = points_[static_cast<size_t>(sent_)];
    std::snprintf(text, sizeof text, "%.6f,%.6f,1;", p.latitude, p.longitude);
    batch += text;
  }
  return batch;
}

void ACGPSDataList::ResetSent() {
  std::lock_guard lock(lock_);
  sent_ = 0;
}

bool ACGPSDataList::Nearest(double latitude, double longitude, TrackPoint& out) const {
  std::lock_guard lock(lock_);
  if (points_.empty()) return false;
  double best = 270.0;
  size_t best_index = 0;
  for (size_t i = 0; i < points_.size(); ++i) {
    if (points_[i].separator()) continue;  // no seek to a point that is only a file's end
    const double d = std::fabs(points_[i].latitude - latitude) + std::fabs(points_[i].longitude - longitude);
    if (d < best) {
      best = d;
      best_index = i;
    }
  }
  out = points_[best_index];
  return !out.separator();
}

int ACGPSDataList::MatchPlayBack(double latitude, double longitude) {
  std::lock_guard lock(lock_);
  const int n = static_cast<int>(points_.size());
  const int s = playback_;
  auto at = [&](int k) {
    return k >= 0 && k < n && points_[static_cast<size_t>(k)].latitude == latitude &&
           points_[static_cast<size_t>(k)].longitude == longitude;
  };
  // Outward from the last index, the later point first at each distance;
  // on until both ends are reached (a seek may go far back near the end).
  for (int d = 0; s + d < n || s - d >= 0; ++d) {
    if (at(s + d)) return playback_ = s + d;
    if (d > 0 && at(s - d)) return playback_ = s - d;
  }
  return playback_;
}

int ACGPSDataList::growths() const {
  std::lock_guard lock(lock_);
  return growths_;
}

int ACGPSDataList::playback_index() const {
  std::lock_guard lock(lock_);
  return playback_;
}

}  // namespace map
