#pragma once
// Draws one channel's pictures into its pane. Planar YUV 4:2:0 pictures are
// turned as the channel's camera is mounted, converted once per new time stamp
// and scaled to the pane (stretched, or fitted with the free bands erased), in
// one of two ways:
//   - show mode 1 (the default): BGR24 at a little over the pane's size that
//     the pane stretches into place;
//   - show mode 0: YUYV into a source surface, stretched onto a target surface
//     of the pane's size, which is presented (pictures of 1280 x 720 and more
//     are converted straight to the pane's size so that the surfaces stay
//     small);
//   - any other mode draws nothing.
// Used only by its channel's play thread; created and destroyed while that
// thread does not draw.
#include <cstdint>
#include <vector>

#include "platform/SoftwareSurface.h"
#include "platform/Surface.h"

struct SwsContext;

namespace engine {

class ImplACVirtualMovie {
 public:
  static constexpr int kShowSurfaces = 0;
  static constexpr int kShowBitmap = 1;
  // Pixel modes of the surfaces.
  static constexpr int kPixelUnknown = 1000, kPixelRgb24 = 1003, kPixelYuy2 = 1009;

  ImplACVirtualMovie() = default;
  ~ImplACVirtualMovie();
  ImplACVirtualMovie(const ImplACVirtualMovie&) = delete;
  ImplACVirtualMovie& operator=(const ImplACVirtualMovie&) = delete;

  int Open(platform::Surface* window);
  void Close();
  // 1: YUYV surfaces; anything else: BGR24 surfaces.
  void SetSurfaceKind(int kind);
  void Refresh();
  int GetPixelMode() const { return pixel_mode_; }
  // 1 when handed to the pane (also in a mode that draws nothing); 0 for no
  // picture or a failure (the next picture tries again).
  int ShowPicture(const uint8_t* picture, int64_t time_ms, int width, int height, int channel);
  int ShowPictureWithText(const uint8_t* picture, int width, int height, int channel, const char* text);
  int Prepare(int flag, int width, int height);
  void SetShowMode(int mode) { show_mode_ = mode; }
  int GetShowMode() const { return show_mode_; }
  int Create();
  bool SetSourceSize(int width, int height);
  bool SetTargetSize(int width, int height);

  // For tests and benchmarks: pictures converted (not re-shown from the cache).
  uint64_t conversions() const { return conversions_; }

  // The part of `pane` a picture of `width` x `height` takes when fitted, and
  // the bands it leaves (up to two).
  static platform::Rect FitRect(const platform::Size& pane, int width, int height, std::vector<platform::Rect>* bands);
  // The size the bitmap mode converts to for a destination of `dst`: the
  // width rounded down to 32 and 32 added, the height made even upwards.
  static platform::Size BitmapOutputSize(const platform::Size& dst);

 private:
  int Render(const uint8_t* picture, int64_t time_ms, int width, int height, int channel);
  int RenderBitmap(const uint8_t* picture, int64_t time_ms, int width, int height, int channel);
  int RenderSurfaces(const uint8_t* picture, int64_t time_ms, int width, int height, int channel);
  int RenderWithText(const uint8_t* picture, int width, int height, int channel, const char* text);
  // The picture turned as the channel says: `picture` itself, or the rotation
  // buffer; its size in *out_w x *out_h. Null on failure.
  const uint8_t* Turned(const uint8_t* picture, int width, int height, int rotation, int* out_w, int* out_h);
  // YUV 4:2:0 of w x h into packed YUYV of out_w x out_h.
  bool ToYuyv(const uint8_t* yuv, int w, int h, uint8_t* out, int out_w, int out_h, int out_pitch);
  platform::Rect Destination(int width, int height, int channel, bool fit_allowed);

  platform::Surface* window_ = nullptr;
  bool created_ = false;
  int show_mode_ = kShowBitmap;
  int surface_kind_ = 1;
  int pixel_mode_ = kPixelUnknown;
  int64_t last_time_ = 0;

  // Bitmap mode: the last picture in BGR24 at the output size, and what it
  // was made from.
  std::vector<uint8_t> output_;
  int cache_w_ = 0, cache_h_ = 0, cache_rotation_ = 0;
  // Surface mode.
  platform::SoftwareSurface source_, target_;
  int source_w_ = 0, source_h_ = 0, target_w_ = 0, target_h_ = 0;
  std::vector<uint8_t> surface_cache_;
  int surface_cache_w_ = 0, surface_cache_h_ = 0;
  int64_t surface_cache_time_ = 0;
  // Turned pictures.
  std::vector<uint8_t> rotation_;

  SwsContext* to_yuyv_ = nullptr;
  SwsContext* to_bgr_ = nullptr;
  uint64_t conversions_ = 0;
};

}  // namespace engine
