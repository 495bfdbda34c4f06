#pragma once
// A channel's overlay as its play thread keeps it: the record that belongs to
// the pictures being shown, drawn once into the overlay picture when it is
// taken from the channel's overlay ring, and blended into every picture whose
// time t has t <= record time < t + 260 ms.
#include <cstdint>

#include "QVVReader/AlgProtocol.h"
#include "engine/AlgOverlay.h"
#include "engine/AlgProtocolList.h"

namespace engine {

class OverlayTrack {
 public:
  static constexpr int64_t kWindowMs = 260;

  OverlayTrack();
  ~OverlayTrack();
  OverlayTrack(const OverlayTrack&) = delete;
  OverlayTrack& operator=(const OverlayTrack&) = delete;

  // The overlay step for one decoded picture (time in ms, planar YUV 4:2:0 of
  // width x height). When no record is held or the held one is older than the
  // picture, records are taken from `ring` (under its object lock) until one
  // is at or after the picture time; the ring running empty first leaves none
  // held. A newly taken record is scaled to the picture and drawn; the held
  // record is blended in when it falls in the picture's window.
  void Apply(AlgProtocolList& ring, int64_t picture_time, uint8_t* yuv, int width, int height);
  // Holds no record any more (an overlay flush); the ring is the caller's.
  void Reset();

  // Records the last Apply took from the ring: when more than 0, the ring has
  // room again and its producer may be woken.
  int last_taken() const { return last_taken_; }
  // Whether the last Apply blended the overlay into its picture.
  bool last_blended() const { return last_blended_; }
  bool holds_record() const { return held_; }
  // The held record, scaled to the picture it was drawn for.
  const qvv::AlgProtocol& record() const { return record_; }
  const OverlayPicture& picture() const { return picture_; }
  // How often the overlay picture has been drawn.
  uint64_t draw_count() const { return draw_count_; }

 private:
  void Draw(int width, int height);

  qvv::AlgProtocol record_;  // its coordinate space starts as the recorder's 1920 x 1080
  bool held_ = false;
  OverlayPicture picture_;
  int last_taken_ = 0;
  bool last_blended_ = false;
  uint64_t draw_count_ = 0;
};

}  // namespace engine
