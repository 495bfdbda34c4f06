#pragma once
// A channel pane's drawing surface: what the engine draws pictures into. The Qt
// pane implements it; tests use an in-memory surface; the command-line player
// uses a null one.
#include <cstdint>
#include <span>

namespace platform {

struct Rect {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
  bool Empty() const { return width <= 0 || height <= 0; }
};

struct Size {
  int width = 0;
  int height = 0;
};

enum class PixelFormat {
  BGR24,  // 3 bytes a pixel, blue first
  YUYV,   // 4:2:2 packed, 2 bytes a pixel (Y0 U Y1 V)
};

struct Picture {
  const uint8_t* pixels = nullptr;
  int width = 0;
  int height = 0;
  int stride = 0;  // bytes from one row to the next
  PixelFormat format = PixelFormat::BGR24;
  int64_t time_ms = 0;  // where in the recording the picture belongs (milliseconds)
};

class Surface {
 public:
  virtual ~Surface() = default;
  virtual Size ClientSize() const = 0;
  // Draws the picture scaled into dst (client coordinates).
  virtual void Present(const Picture& picture, const Rect& dst) = 0;
  // Fills the given bands (the parts of the client area the picture leaves free) black.
  virtual void Erase(std::span<const Rect> bands) = 0;
};

}  // namespace platform
