#pragma once
// An off-screen picture in memory, standing in for the display surfaces a video
// card keeps: created at a size and pixel format, locked for writing, blitted
// (stretched) onto another, and lost when the display is reset, after which it
// must be restored before use. The stretch is libswscale's bilinear one, where
// a card would do it in hardware.
#include <cstdint>
#include <vector>

#include "platform/Surface.h"

struct SwsContext;

namespace platform {

class SoftwareSurface {
 public:
  SoftwareSurface() = default;
  ~SoftwareSurface();
  SoftwareSurface(const SoftwareSurface&) = delete;
  SoftwareSurface& operator=(const SoftwareSurface&) = delete;

  // YUYV (2 bytes a pixel, even width) or BGR24; false for an empty size.
  bool Create(int width, int height, PixelFormat format);
  void Release();
  bool valid() const { return width_ > 0; }
  int width() const { return width_; }
  int height() const { return height_; }
  int pitch() const { return pitch_; }
  PixelFormat format() const { return format_; }

  // The pixels to write, or null while lost or not created.
  uint8_t* Lock(int* pitch);
  void Unlock() {}

  void MarkLost() { lost_ = true; }
  bool lost() const { return lost_; }
  // The memory comes back black; false when there is no surface.
  bool Restore();

  // Stretches all of `source` (same format) over all of this surface.
  bool BltFrom(const SoftwareSurface& source);

  // The surface as a picture to present (valid until it changes).
  Picture AsPicture(int64_t time_ms = 0) const;

 private:
  void Clear();

  int width_ = 0, height_ = 0, pitch_ = 0;
  PixelFormat format_ = PixelFormat::YUYV;
  std::vector<uint8_t> pixels_;
  bool lost_ = false;
  SwsContext* stretch_ = nullptr;
};

}  // namespace platform
