#pragma once
// A pane that paints into a picture in memory: what a window would show, for
// saving as an image (dravik-tool snapshot --pane) and for tests. Pictures are
// stretched into their rectangle smoothly, as a window's stretch would.
#include <QImage>
#include <mutex>
#include <vector>

#include "platform/Surface.h"

namespace engine {

class ImageSurface final : public platform::Surface {
 public:
  ImageSurface(int width, int height);

  platform::Size ClientSize() const override;
  void Present(const platform::Picture& picture, const platform::Rect& dst) override;
  void Erase(std::span<const platform::Rect> bands) override;

  // A copy of what the pane shows now (RGB, 8 bits a channel).
  QImage Snapshot() const;
  // The last picture presented: its size, format and where it went.
  struct Presented {
    int width = 0, height = 0;
    platform::PixelFormat format = platform::PixelFormat::BGR24;
    platform::Rect dst;
    int64_t time_ms = 0;
  };
  Presented last() const;
  int presents() const;
  std::vector<platform::Rect> last_erased() const;

 private:
  mutable std::mutex mutex_;
  QImage canvas_;  // guarded by mutex_
  Presented last_;
  int presents_ = 0;
  std::vector<platform::Rect> erased_;
};

}  // namespace engine
