#pragma once
// The map's whole track for play-back: points in map coordinates with their
// time (UTC seconds, the file name's start plus the record's second), a separator point between
// files, how far the back line has been sent to the page and where the
// vehicle is on it. Room grows 10000 points at a time.
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace map {

struct TrackPoint {
  uint64_t time = 0;
  double latitude = 0, longitude = 0;
  static TrackPoint Separator() { return {~uint64_t{0}, 0.0, 0.0}; }
  bool separator() const { return time == ~uint64_t{0} && latitude == 0.0 && longitude == 0.0; }
};

class ACGPSDataList {
 public:
  static constexpr int kGrowth = 10000;

  ACGPSDataList() { points_.reserve(kGrowth); }

  // False when there was no room and none could be made (nothing changes).
  bool Append(const TrackPoint& point);
  void Clear();
  int count() const;
  int capacity() const;
  int sent() const;
  TrackPoint at(int i) const;
  // The points not yet sent, up to `most`, as "%.6f,%.6f,1;" each; advances
  // the sent index. `pending` is how many were waiting.
  std::string TakeBatch(int most, int* pending_before);
  int pending() const;
  void ResetSent();
  // The point nearest (sum of the coordinate differences) to a click; the
  // first of equal distances; nullopt-like false when there is none.
  bool Nearest(double latitude, double longitude, TrackPoint& out) const;
  // The play-back index: the point exactly at (latitude, longitude), searched
  // outward from the current index; unchanged without a match.
  int MatchPlayBack(double latitude, double longitude);
  int playback_index() const;
  // How often the room grew.
  int growths() const;

 private:
  mutable std::mutex lock_;
  std::vector<TrackPoint> points_;
  int sent_ = 0;
  int playback_ = 0;
  int growths_ = 0;
};

}  // namespace map
