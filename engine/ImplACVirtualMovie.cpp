#include "engine/ImplACVirtualMovie.h"

#include <QFont>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QString>
#include <algorithm>
#include <cstring>

#include "engine/EngineGlobals.h"
#include "engine/PictureRotation.h"

extern "C" {
#include <libswscale/swscale.h>
}

namespace engine {

namespace {

constexpr int kSurfaceStart = 320, kSurfaceStartHeight = 240;
// A window's text is 16 pixels high; the "Closed" caption is twice that.
constexpr int kTextHeight = 16;

// The planes of our 4:2:0 layout (Y, then U and V at half width and height,
// rounded down) for libswscale.
void Planes(const uint8_t* yuv, int w, int h, const uint8_t* planes[4], int strides[4]) {
  const size_t luma = static_cast<size_t>(w) * static_cast<size_t>(h);
  const size_t chroma = static_cast<size_t>(w / 2) * static_cast<size_t>(h / 2);
  planes[0] = yuv;
  planes[1] = yuv + luma;
  planes[2] = yuv + luma + chroma;
  planes[3] = nullptr;
  strides[0] = w;
  strides[1] = strides[2] = w / 2;
  strides[3] = 0;
}

}  // namespace

ImplACVirtualMovie::~ImplACVirtualMovie() {
  Close();
  sws_freeContext(to_yuyv_);
  sws_freeContext(to_bgr_);
}

int ImplACVirtualMovie::Open(platform::Surface* window) {
  window_ = window;
  return Create();
}

int ImplACVirtualMovie::Create() {
  if (created_) return 0;
  created_ = true;
  surface_cache_.clear();
  rotation_.clear();
  source_w_ = source_h_ = target_w_ = target_h_ = 0;
  if (!SetSourceSize(kSurfaceStart, kSurfaceStartHeight) || !SetTargetSize(kSurfaceStart, kSurfaceStartHeight)) {
    Close();
    return 0;
  }
  return 1;
}

void ImplACVirtualMovie::Close() {
  source_.Release();
  target_.Release();
  surface_cache_.clear();
  output_.clear();
  rotation_.clear();
  source_w_ = source_h_ = target_w_ = target_h_ = 0;
  last_time_ = surface_cache_time_ = 0;
  created_ = false;
}

void ImplACVirtualMovie::SetSurfaceKind(int kind) {
  if (kind == surface_kind_) return;
  surface_kind_ = kind;
  if (!created_) return;
  const int sw = source_w_, sh = source_h_, tw = target_w_, th = target_h_;
  source_w_ = source_h_ = target_w_ = target_h_ = 0;
  SetSourceSize(sw, sh);
  SetTargetSize(tw, th);
}

bool ImplACVirtualMovie::SetSourceSize(int width, int height) {
  if (width == source_w_ && height == source_h_ && source_.valid()) return true;
  if (!created_) return false;
  const auto format = surface_kind_ == 1 ? platform::PixelFormat::YUYV : platform::PixelFormat::BGR24;
  if (!source_.Create(width, height, format)) return false;
  source_w_ = width;
  source_h_ = height;
  pixel_mode_ = surface_kind_ == 1 ? kPixelYuy2 : kPixelRgb24;
  return true;
}

bool ImplACVirtualMovie::SetTargetSize(int width, int height) {
  if (width == target_w_ && height == target_h_ && target_.valid()) return true;
  if (!created_) return false;
  const auto format = surface_kind_ == 1 ? platform::PixelFormat::YUYV : platform::PixelFormat::BGR24;
  if (!target_.Create(width, height, format)) return false;
  target_w_ = width;
  target_h_ = height;
  return true;
}

void ImplACVirtualMovie::Refresh() {
  if (!window_ || !created_) return;
  const platform::Size pane = window_->ClientSize();
  if (!SetTargetSize(pane.width, pane.height) || !target_.BltFrom(source_)) return;
  window_->Present(target_.AsPicture(last_time_), {0, 0, pane.width, pane.height});
}

int ImplACVirtualMovie::Prepare(int flag, int width, int height) {
  if (!flag || !window_) return 0;
  const platform::Size pane = window_->ClientSize();
  return SetSourceSize(width, height) && SetTargetSize(pane.width, pane.height) ? 1 : 0;
}

int ImplACVirtualMovie::ShowPicture(const uint8_t* picture, int64_t time_ms, int width, int height, int channel) {
  if (!picture) return 0;
  Render(picture, time_ms, width, height, channel);
  return 1;
}

int ImplACVirtualMovie::ShowPictureWithText(const uint8_t* picture, int width, int height, int channel,
                                            const char* text) {
  if (!picture) return 0;
  return RenderWithText(picture, width, height, channel, text);
}

platform::Rect ImplACVirtualMovie::FitRect(const platform::Size& pane, int width, int height,
                                           std::vector<platform::Rect>* bands) {
  platform::Rect r{0, 0, pane.width, pane.height};
  if (bands) bands->clear();
  if (width <= 0 || height <= 0 || pane.width <= 0 || pane.height <= 0) return r;
  const double picture = static_cast<double>(width) / height;
  const double window = static_cast<double>(pane.width) / pane.height;
  if (picture >= window) {
    r.height = static_cast<int>(pane.width / picture);
    r.y = (pane.height - r.height) / 2;
    if (bands) {
      bands->push_back({0, 0, pane.width, r.y});
      bands->push_back({0, r.y + r.height, pane.width, pane.height - r.y - r.height});
    }
  } else {
    r.width = static_cast<int>(pane.height * picture);
    r.x = (pane.width - r.width) / 2;
    if (bands) {
      bands->push_back({0, 0, r.x, pane.height});
      bands->push_back({r.x + r.width, 0, pane.width - r.x - r.width, pane.height});
    }
  }
  if (bands) std::erase_if(*bands, [](const platform::Rect& b) { return b.Empty(); });
  return r;
}

platform::Size ImplACVirtualMovie::BitmapOutputSize(const platform::Size& dst) {
  return {(dst.width / 32) * 32 + 32, (dst.height | 1) + 1};
}

platform::Rect ImplACVirtualMovie::Destination(int width, int height, int channel, bool fit_allowed) {
  const platform::Size pane = window_->ClientSize();
  if (!fit_allowed || !DisplaySettings(channel).aspect_fit.load()) return {0, 0, pane.width, pane.height};
  std::vector<platform::Rect> bands;
  const platform::Rect r = FitRect(pane, width, height, &bands);
  if (!bands.empty()) window_->Erase(bands);
  return r;
}

const uint8_t* ImplACVirtualMovie::Turned(const uint8_t* picture, int width, int height, int rotation, int* out_w,
                                          int* out_h) {
  *out_w = width;
  *out_h = height;
  if (rotation <= 0 || rotation > 5) return picture;
  const size_t bytes = static_cast<size_t>(width) * static_cast<size_t>(height) * 3 / 2;
  if (rotation_.size() != bytes) rotation_.assign(bytes, 0);
  if (!RotatePicture(picture, width, height, rotation, rotation_.data())) return nullptr;
  if (SwapsSides(rotation)) std::swap(*out_w, *out_h);
  return rotation_.data();
}

bool ImplACVirtualMovie::ToYuyv(const uint8_t* yuv, int w, int h, uint8_t* out, int out_w, int out_h, int out_pitch) {
  // libswscale takes chroma of half the width rounded up; an odd last column
  // or row is left out rather than read past the planes. The fast bilinear
  // flag lets an unscaled conversion take libswscale's packing shortcut (133
  // against 1048 us at 1280 x 720 with bicubic, for the same pixels).
  const int even_w = w & ~1, even_h = h & ~1;
  if (even_w <= 0 || even_h <= 0 || out_w <= 0 || out_h <= 0) return false;
  to_yuyv_ = sws_getCachedContext(to_yuyv_, even_w, even_h, AV_PIX_FMT_YUV420P, out_w, out_h, AV_PIX_FMT_YUYV422,
                                  SWS_FAST_BILINEAR, nullptr, nullptr, nullptr);
  if (!to_yuyv_) return false;
  const uint8_t* src[4];
  int src_stride[4];
  Planes(yuv, w, h, src, src_stride);
  uint8_t* dst[4] = {out, nullptr, nullptr, nullptr};
  const int dst_stride[4] = {out_pitch, 0, 0, 0};
  ++conversions_;
  return sws_scale(to_yuyv_, src, src_stride, 0, even_h, dst, dst_stride) > 0;
}

int ImplACVirtualMovie::Render(const uint8_t* picture, int64_t time_ms, int width, int height, int channel) {
  if (!window_ || width <= 0 || height <= 0) return 0;
  if (show_mode_ == kShowBitmap) return RenderBitmap(picture, time_ms, width, height, channel);
  if (show_mode_ == kShowSurfaces) return RenderSurfaces(picture, time_ms, width, height, channel);
  return 1;  // another mode draws nothing
}

int ImplACVirtualMovie::RenderBitmap(const uint8_t* picture, int64_t time_ms, int width, int height, int channel) {
  const int rotation = time_ms == 0 ? 0 : DisplaySettings(channel).mirror.load();
  const int w = SwapsSides(rotation) ? height : width;
  const int h = SwapsSides(rotation) ? width : height;
  const platform::Rect dst = Destination(w, h, channel, true);
  if (dst.Empty()) return 0;
  const platform::Size out = BitmapOutputSize({dst.width, dst.height});
  const int out_pitch = out.width * 3;
  // Converted once per time stamp (and pane size): a picture shown again
  // (held, paused) comes from the cache. The blank picture (time 0) is
  // converted every time.
  const bool cached = time_ms != 0 && time_ms == last_time_ && rotation == cache_rotation_ &&
                      out.width == cache_w_ && out.height == cache_h_ && !output_.empty();
  if (!cached) {
    int tw, th;
    const uint8_t* turned = Turned(picture, width, height, rotation, &tw, &th);
    const int even_w = tw & ~1, even_h = th & ~1;
    if (!turned || even_w <= 0 || even_h <= 0) return 0;
    output_.resize(static_cast<size_t>(out_pitch) * static_cast<size_t>(out.height));
    // Straight from 4:2:0 to BGR24 at the output size, bilinear: the pane
    // stretches the result once more. (Through packed YUYV first, or bicubic,
    // cost two to three times as much: see bench/render_bench.)
    to_bgr_ = sws_getCachedContext(to_bgr_, even_w, even_h, AV_PIX_FMT_YUV420P, out.width, out.height,
                                   AV_PIX_FMT_BGR24, SWS_FAST_BILINEAR, nullptr, nullptr, nullptr);
    if (!to_bgr_) return 0;
    const uint8_t* src[4];
    int src_stride[4];
    Planes(turned, tw, th, src, src_stride);
    uint8_t* dst_planes[4] = {output_.data(), nullptr, nullptr, nullptr};
    const int dst_stride[4] = {out_pitch, 0, 0, 0};
    ++conversions_;
    if (sws_scale(to_bgr_, src, src_stride, 0, even_h, dst_planes, dst_stride) <= 0) {
      output_.clear();
      return 0;
    }
    last_time_ = time_ms;
    cache_rotation_ = rotation;
    cache_w_ = out.width;
    cache_h_ = out.height;
  }
  platform::Picture shown{output_.data(), out.width, out.height, out_pitch, platform::PixelFormat::BGR24, time_ms};
  window_->Present(shown, dst);
  return 1;
}

int ImplACVirtualMovie::RenderSurfaces(const uint8_t* picture, int64_t time_ms, int width, int height, int channel) {
  const platform::Size pane = window_->ClientSize();
  if (pane.width <= 0 || pane.height <= 0) return 0;
  int w = width, h = height;
  const uint8_t* turned = picture;
  const bool fresh = time_ms == 0 || time_ms != surface_cache_time_ || surface_cache_.empty();
  if (fresh && time_ms != 0) {
    turned = Turned(picture, width, height, DisplaySettings(channel).mirror.load(), &w, &h);
    if (!turned) return 0;
  } else if (!fresh) {
    w = surface_cache_w_;
    h = surface_cache_h_;
  }
  // Large pictures go straight to the pane's size: the surfaces stay small.
  const bool large = width >= 1280 && height >= 720;
  const int sw = large ? (pane.width + 1) & ~1 : w;
  const int sh = large ? (pane.height + 1) & ~1 : h;
  const bool resized = sw != source_w_ || sh != source_h_;
  if (!SetSourceSize(sw, sh) || !SetTargetSize(pane.width, pane.height)) return 0;
  if (fresh || resized) {
    if (resized && !fresh) {  // the cache is of another size: convert again
      turned = Turned(picture, width, height, DisplaySettings(channel).mirror.load(), &w, &h);
      if (!turned) return 0;
    }
    surface_cache_.resize(static_cast<size_t>(source_.width()) * static_cast<size_t>(sh) * 2);
    if (!ToYuyv(turned, w, h, surface_cache_.data(), source_.width(), sh, source_.width() * 2)) {
      surface_cache_.clear();
      return 0;
    }
    surface_cache_w_ = w;
    surface_cache_h_ = h;
    surface_cache_time_ = time_ms;
  }
  if ((source_.lost() && !source_.Restore()) || (target_.lost() && !target_.Restore())) return 0;
  int pitch = 0;
  uint8_t* pixels = source_.Lock(&pitch);
  if (!pixels) return 0;
  if (source_.format() == platform::PixelFormat::YUYV) {
    const size_t row = static_cast<size_t>(source_.width()) * 2;
    for (int y = 0; y < sh; ++y)
      std::memcpy(pixels + static_cast<size_t>(y) * static_cast<size_t>(pitch), surface_cache_.data() + y * row, row);
  } else {
    to_bgr_ = sws_getCachedContext(to_bgr_, source_.width(), sh, AV_PIX_FMT_YUYV422, source_.width(), sh,
                                   AV_PIX_FMT_BGR24, SWS_BICUBIC, nullptr, nullptr, nullptr);
    if (!to_bgr_) return 0;
    const uint8_t* src[4] = {surface_cache_.data(), nullptr, nullptr, nullptr};
    const int src_stride[4] = {source_.width() * 2, 0, 0, 0};
    uint8_t* dst[4] = {pixels, nullptr, nullptr, nullptr};
    const int dst_stride[4] = {pitch, 0, 0, 0};
    sws_scale(to_bgr_, src, src_stride, 0, sh, dst, dst_stride);
  }
  source_.Unlock();
  if (!target_.BltFrom(source_)) return 0;
  const platform::Rect dst = Destination(surface_cache_w_, surface_cache_h_, channel, time_ms != 0);
  window_->Present(target_.AsPicture(time_ms), dst);
  return 1;
}

int ImplACVirtualMovie::RenderWithText(const uint8_t* picture, int width, int height, int, const char* text) {
  if (!window_) return 0;
  const platform::Size pane = window_->ClientSize();
  if (pane.width <= 0 || pane.height <= 0 || width < 2 || height < 2) return 0;
  if (show_mode_ != kShowBitmap && show_mode_ != kShowSurfaces) return 1;
  // The picture as it is (not turned), stretched over the whole pane (by
  // libswscale: Qt's smooth scaling would hand the work to its thread pool).
  QImage canvas(pane.width, pane.height, QImage::Format_BGR888);
  if (canvas.isNull()) return 0;
  to_bgr_ = sws_getCachedContext(to_bgr_, width & ~1, height & ~1, AV_PIX_FMT_YUV420P, pane.width, pane.height,
                                 AV_PIX_FMT_BGR24, SWS_BICUBIC, nullptr, nullptr, nullptr);
  if (!to_bgr_) return 0;
  const uint8_t* src[4];
  int src_stride[4];
  Planes(picture, width, height, src, src_stride);
  uint8_t* dst[4] = {canvas.bits(), nullptr, nullptr, nullptr};
  const int dst_stride[4] = {static_cast<int>(canvas.bytesPerLine()), 0, 0, 0};
  sws_scale(to_bgr_, src, src_stride, 0, height & ~1, dst, dst_stride);
  ++conversions_;
  // Fonts need the application object; a headless caller without one gets
  // the picture without its caption.
  if (text && *text && QGuiApplication::instance()) {
    QPainter painter(&canvas);
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(2 * kTextHeight);
    font.setBold(true);
    font.setStyleHint(QFont::SansSerif);
    painter.setFont(font);
    painter.setPen(Qt::white);
    const QString caption = QString::fromLatin1(text);
    const QFontMetrics metrics(font);
    const int x = pane.width / 2 - metrics.horizontalAdvance(caption) / 2;
    const int y = pane.height / 2 - metrics.height() / 2;
    painter.drawText(x, y + metrics.ascent(), caption);
  }
  platform::Picture shown{canvas.constBits(), pane.width, pane.height, static_cast<int>(canvas.bytesPerLine()),
                          platform::PixelFormat::BGR24, 0};
  window_->Present(shown, {0, 0, pane.width, pane.height});
  return 1;
}

}  // namespace engine
