#include "cli/sample/SyntheticVideo.h"

#include <algorithm>
#include <cstring>

namespace sample {
namespace {

// 5 x 7 glyphs, one row a byte (bit 4 = left column).
struct Glyph {
  char c;
  uint8_t rows[7];
};
constexpr Glyph kGlyphs[] = {
    {'0', {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}}, {'1', {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'2', {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}}, {'3', {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E}},
    {'4', {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}}, {'5', {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E}},
    {'6', {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}}, {'7', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08}},
    {'8', {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}}, {'9', {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}},
    {':', {0x00, 0x0C, 0x0C, 0x00, 0x0C, 0x0C, 0x00}}, {'-', {0x00, 0x00, 0x00, 0x1F, 0x00, 0x00, 0x00}},
    {'.', {0x00, 0x00, 0x00, 0x00, 0x00, 0x0C, 0x0C}}, {' ', {0, 0, 0, 0, 0, 0, 0}},
    {'C', {0x0E, 0x11, 0x10, 0x10, 0x10, 0x11, 0x0E}}, {'H', {0x11, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}},
};

void DrawText(YuvPicture& p, int x, int y, int scale, const std::string& text) {
  for (const char ch : text) {
    const Glyph* g = nullptr;
    for (const auto& candidate : kGlyphs) {
      if (candidate.c == ch) g = &candidate;
    }
    if (g) {
      for (int row = 0; row < 7; ++row) {
        for (int col = 0; col < 5; ++col) {
          const bool on = (g->rows[row] >> (4 - col)) & 1;
          for (int dy = 0; dy < scale; ++dy) {
            for (int dx = 0; dx < scale; ++dx) {
              const int px = x + col * scale + dx, py = y + row * scale + dy;
              if (px >= 0 && px < p.width && py >= 0 && py < p.height) p.y()[py * p.width + px] = on ? 235 : 16;
            }
          }
        }
      }
    }
    x += 6 * scale;
  }
}

// A triangle wave over [0, span): deterministic integer motion.
int Triangle(int64_t t, int span) {
  if (span <= 0) return 0;
  const int64_t period = 2 * static_cast<int64_t>(span);
  const int64_t m = t % period;
  return static_cast<int>(m < span ? m : period - m);
}

}  // namespace

Box MovingObject(int channel, int64_t frame, int width, int height, int fps) {
  const int bw = std::max(8, width / 8), bh = std::max(8, height / 6);
  const int speed = std::max(1, (2 + channel) * width / 640);
  const int x = Triangle(frame * speed, width - bw);
  const int y = height / 4 + Triangle(frame * std::max(1, height / 360), height / 2 - bh / 2 + 1) / 2;
  (void)fps;
  return {x, std::min(y, height - bh), bw, bh};
}

void RenderFrame(YuvPicture& p, int channel, int64_t frame, int fps, const std::string& clock_text) {
  const int w = p.width, h = p.height;
  for (int y = 0; y < h; ++y) {
    uint8_t* row = p.y() + y * w;
    for (int x = 0; x < w; ++x) row[x] = static_cast<uint8_t>(48 + (x * 64) / w + (y * 32) / h + channel * 6);
  }
  // A hue for every channel: U and V on a circle of twelve positions.
  static constexpr int kU[12] = {128, 168, 178, 168, 128, 88, 78, 88, 108, 148, 148, 108};
  static constexpr int kV[12] = {178, 168, 128, 88, 78, 88, 128, 168, 98, 98, 158, 158};
  std::memset(p.u(), kU[channel % 12], static_cast<size_t>((w / 2) * (h / 2)));
  std::memset(p.v(), kV[channel % 12], static_cast<size_t>((w / 2) * (h / 2)));
  const Box box = MovingObject(channel, frame, w, h, fps);
  for (int y = box.y; y < box.y + box.height && y < h; ++y) {
    std::memset(p.y() + y * w + box.x, 230, static_cast<size_t>(std::min(box.width, w - box.x)));
  }
  const int scale = std::max(1, h / 120);
  char label[16];
  std::snprintf(label, sizeof label, "CH%02d", channel + 1);
  DrawText(p, 4 * scale, 4 * scale, scale * 2, label);
  DrawText(p, 4 * scale, h - 11 * scale, scale, clock_text);
}

}  // namespace sample
