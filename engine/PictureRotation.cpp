#include "engine/PictureRotation.h"

#include <algorithm>
#include <cstddef>

namespace engine {

namespace {

// One plane of w x h bytes (no padding) into `out`.
void TurnPlane(const uint8_t* in, int w, int h, int rotation, uint8_t* out) {
  const auto at = [w](int x, int y) { return static_cast<size_t>(y) * static_cast<size_t>(w) + static_cast<size_t>(x); };
  switch (rotation) {
    case 1:
      for (int y = 0; y < h; ++y) std::reverse_copy(in + at(0, y), in + at(0, y) + w, out + at(0, y));
      break;
    case 2:
      for (int y = 0; y < h; ++y) std::copy(in + at(0, h - 1 - y), in + at(0, h - 1 - y) + w, out + at(0, y));
      break;
    case 3:  // out is h wide and w high: out(x, y) = in(y, h - 1 - x)
      for (int y = 0; y < w; ++y) {
        uint8_t* row = out + static_cast<size_t>(y) * static_cast<size_t>(h);
        for (int x = 0; x < h; ++x) row[x] = in[at(y, h - 1 - x)];
      }
      break;
    case 4:  // out(x, y) = in(w - 1 - y, x)
      for (int y = 0; y < w; ++y) {
        uint8_t* row = out + static_cast<size_t>(y) * static_cast<size_t>(h);
        for (int x = 0; x < h; ++x) row[x] = in[at(w - 1 - y, x)];
      }
      break;
    case 5:
      for (int y = 0; y < h; ++y) std::reverse_copy(in + at(0, h - 1 - y), in + at(0, h - 1 - y) + w, out + at(0, y));
      break;
    default: std::copy(in, in + at(0, h), out);
  }
}

}  // namespace

bool RotatePicture(const uint8_t* in, int width, int height, int rotation, uint8_t* out) {
  if (!in || !out || width <= 0 || height <= 0 || rotation < 0 || rotation > 5) return false;
  const size_t luma = static_cast<size_t>(width) * static_cast<size_t>(height);
  const int cw = width / 2, ch = height / 2;
  const size_t chroma = static_cast<size_t>(cw) * static_cast<size_t>(ch);
  TurnPlane(in, width, height, rotation, out);
  if (chroma > 0) {
    TurnPlane(in + luma, cw, ch, rotation, out + luma);
    TurnPlane(in + luma + chroma, cw, ch, rotation, out + luma + chroma);
  }
  return true;
}

}  // namespace engine
