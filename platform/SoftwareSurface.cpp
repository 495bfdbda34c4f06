#include "platform/SoftwareSurface.h"

#include <algorithm>

extern "C" {
#include <libswscale/swscale.h>
}

namespace platform {

namespace {
AVPixelFormat LibavFormat(PixelFormat f) { return f == PixelFormat::YUYV ? AV_PIX_FMT_YUYV422 : AV_PIX_FMT_BGR24; }
}  // namespace

SoftwareSurface::~SoftwareSurface() { Release(); }

bool SoftwareSurface::Create(int width, int height, PixelFormat format) {
  Release();
  if (width <= 0 || height <= 0 || width > 16384 || height > 16384) return false;
  if (format == PixelFormat::YUYV) width = (width + 1) & ~1;  // pixels come in pairs
  width_ = width;
  height_ = height;
  format_ = format;
  pitch_ = format == PixelFormat::YUYV ? width * 2 : (width * 3 + 3) & ~3;
  pixels_.assign(static_cast<size_t>(pitch_) * static_cast<size_t>(height), 0);
  Clear();
  return true;
}

void SoftwareSurface::Release() {
  sws_freeContext(stretch_);
  stretch_ = nullptr;
  pixels_.clear();
  pixels_.shrink_to_fit();
  width_ = height_ = pitch_ = 0;
  lost_ = false;
}

void SoftwareSurface::Clear() {
  if (format_ == PixelFormat::YUYV) {
    // Black in YUYV: Y 16, U and V 128.
    for (size_t i = 0; i + 1 < pixels_.size(); i += 2) {
      pixels_[i] = 16;
      pixels_[i + 1] = 128;
    }
  } else {
    std::fill(pixels_.begin(), pixels_.end(), 0);
  }
}

uint8_t* SoftwareSurface::Lock(int* pitch) {
  if (!valid() || lost_) return nullptr;
  if (pitch) *pitch = pitch_;
  return pixels_.data();
}

bool SoftwareSurface::Restore() {
  if (!valid()) return false;
  Clear();
  lost_ = false;
  return true;
}

bool SoftwareSurface::BltFrom(const SoftwareSurface& source) {
  if (!valid() || !source.valid() || lost_ || source.lost_ || source.format_ != format_) return false;
  if (source.width_ == width_ && source.height_ == height_) {
    for (int y = 0; y < height_; ++y)
      std::copy_n(source.pixels_.data() + static_cast<size_t>(y) * static_cast<size_t>(source.pitch_),
                  std::min(pitch_, source.pitch_), pixels_.data() + static_cast<size_t>(y) * static_cast<size_t>(pitch_));
    return true;
  }
  const AVPixelFormat f = LibavFormat(format_);
  stretch_ = sws_getCachedContext(stretch_, source.width_, source.height_, f, width_, height_, f, SWS_FAST_BILINEAR,
                                  nullptr, nullptr, nullptr);
  if (!stretch_) return false;
  const uint8_t* src[4] = {source.pixels_.data(), nullptr, nullptr, nullptr};
  const int src_stride[4] = {source.pitch_, 0, 0, 0};
  uint8_t* dst[4] = {pixels_.data(), nullptr, nullptr, nullptr};
  const int dst_stride[4] = {pitch_, 0, 0, 0};
  return sws_scale(stretch_, src, src_stride, 0, source.height_, dst, dst_stride) > 0;
}

Picture SoftwareSurface::AsPicture(int64_t time_ms) const {
  Picture p;
  p.pixels = pixels_.data();
  p.width = width_;
  p.height = height_;
  p.stride = pitch_;
  p.format = format_;
  p.time_ms = time_ms;
  return p;
}

}  // namespace platform
