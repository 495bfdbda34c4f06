#include "engine/OverlayTrack.h"

namespace engine {

OverlayTrack::OverlayTrack() = default;
OverlayTrack::~OverlayTrack() = default;

void OverlayTrack::Apply(AlgProtocolList& ring, int64_t picture_time, uint8_t* yuv, int width, int height) {
  last_taken_ = 0;
  last_blended_ = false;
  if (!held_ || record_.time < picture_time) {
    held_ = false;
    {
      ObjectLock lock(ring);
      while (ring.Get(record_)) {
        ++last_taken_;
        if (record_.time >= picture_time) {
          held_ = true;
          break;
        }
      }
    }
    if (held_) Draw(width, height);
  } else if ((picture_.width() != width || picture_.height() != height) && width > 0 && width <= 65535 &&
             height > 0 && height <= 65535) {
    // The pictures changed size under a held record: draw it again for them.
    Draw(width, height);
  }
  // held_ implies record time >= picture time, so the unsigned difference is
  // exact and cannot overflow.
  const bool in_window = held_ && static_cast<uint64_t>(record_.time) - static_cast<uint64_t>(picture_time) <
                                       static_cast<uint64_t>(kWindowMs);
  if (in_window && !picture_.empty() && picture_.width() == width && picture_.height() == height) {
    BlendOverlay(picture_, yuv, width, height);
    last_blended_ = yuv != nullptr;
  }
}

void OverlayTrack::Reset() {
  held_ = false;
  last_taken_ = 0;
  last_blended_ = false;
}

void OverlayTrack::Draw(int width, int height) {
  Scale(record_, width, height);
  DrawBitmap(record_, picture_);
  ++draw_count_;
}

}  // namespace engine
