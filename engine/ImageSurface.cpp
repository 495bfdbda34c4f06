#include "engine/ImageSurface.h"

#include <QPainter>
#include <algorithm>

namespace engine {

namespace {

// A YUYV picture as RGB (BT.601, limited range), for painting.
QImage FromYuyv(const platform::Picture& p) {
  QImage out(p.width, p.height, QImage::Format_RGB888);
  for (int y = 0; y < p.height; ++y) {
    const uint8_t* row = p.pixels + static_cast<size_t>(y) * static_cast<size_t>(p.stride);
    uint8_t* dst = out.scanLine(y);
    for (int x = 0; x < p.width; ++x) {
      const int luma = row[2 * x] - 16;
      const int u = row[(2 * x & ~3) + 1] - 128;
      const int v = row[(2 * x & ~3) + 3] - 128;
      const auto clamp = [](int c) { return static_cast<uint8_t>(std::clamp(c >> 16, 0, 255)); };
      dst[3 * x] = clamp(76309 * luma + 104597 * v);
      dst[3 * x + 1] = clamp(76309 * luma - 25675 * u - 53279 * v);
      dst[3 * x + 2] = clamp(76309 * luma + 132201 * u);
    }
  }
  return out;
}

}  // namespace

ImageSurface::ImageSurface(int width, int height) : canvas_(width, height, QImage::Format_RGB888) {
  canvas_.fill(Qt::black);
}

platform::Size ImageSurface::ClientSize() const {
  std::lock_guard lock(mutex_);
  return {canvas_.width(), canvas_.height()};
}

void ImageSurface::Present(const platform::Picture& picture, const platform::Rect& dst) {
  if (!picture.pixels || picture.width <= 0 || picture.height <= 0) return;
  QImage image;
  if (picture.format == platform::PixelFormat::YUYV) {
    image = FromYuyv(picture);
  } else {
    image = QImage(picture.pixels, picture.width, picture.height, picture.stride, QImage::Format_BGR888).copy();
  }
  std::lock_guard lock(mutex_);
  {
    QPainter painter(&canvas_);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(QRect(dst.x, dst.y, dst.width, dst.height), image);
  }
  last_ = {picture.width, picture.height, picture.format, dst, picture.time_ms};
  ++presents_;
}

void ImageSurface::Erase(std::span<const platform::Rect> bands) {
  std::lock_guard lock(mutex_);
  QPainter painter(&canvas_);
  for (const auto& b : bands) painter.fillRect(QRect(b.x, b.y, b.width, b.height), Qt::black);
  erased_.assign(bands.begin(), bands.end());
}

QImage ImageSurface::Snapshot() const {
  std::lock_guard lock(mutex_);
  return canvas_.copy();
}

ImageSurface::Presented ImageSurface::last() const {
  std::lock_guard lock(mutex_);
  return last_;
}

int ImageSurface::presents() const {
  std::lock_guard lock(mutex_);
  return presents_;
}

std::vector<platform::Rect> ImageSurface::last_erased() const {
  std::lock_guard lock(mutex_);
  return erased_;
}

}  // namespace engine
