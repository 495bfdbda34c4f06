#include "cli/sample/SyntheticVideo.h"

#include <algorithm>
#include <cstdio>
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

// A hue for every channel: U and V on a circle of twelve positions.
constexpr int kHueU[12] = {128, 168, 178, 168, 128, 88, 78, 88, 108, 148, 148, 108};
constexpr int kHueV[12] = {178, 168, 128, 88, 78, 88, 128, 168, 98, 98, 158, 158};

// The channel number at the top left, the recording time at the bottom.
void DrawLabels(YuvPicture& p, int channel, const std::string& clock_text) {
  const int scale = std::max(1, p.height / 120);
  char label[16];
  std::snprintf(label, sizeof label, "CH%02d", channel + 1);
  DrawText(p, 4 * scale, 4 * scale, scale * 2, label);
  DrawText(p, 4 * scale, p.height - 11 * scale, scale, clock_text);
}

// ---------------------------------------------------------------- textured

// The scene wraps around after this many pixels (powers of two, so that every
// octave of value noise tiles).
constexpr int kSceneWidth = 2048, kSceneHeight = 1024;

uint64_t Mix(uint64_t z) {  // splitmix64's finaliser
  z += 0x9E3779B97F4A7C15ull;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

// Value noise of one octave: random levels in [-amplitude, amplitude] on a
// lattice `cell` pixels apart, interpolated in between; tiles over w x h.
void AddValueNoise(std::vector<int>& sum, int w, int h, int cell, int amplitude, uint64_t seed) {
  const int lw = w / cell, lh = h / cell;
  std::vector<int> lattice(static_cast<size_t>(lw) * lh);
  uint64_t state = Mix(seed);
  for (auto& v : lattice) v = static_cast<int>(Mix(state++) % static_cast<uint64_t>(2 * amplitude + 1)) - amplitude;
  const int area = cell * cell;
  for (int y = 0; y < h; ++y) {
    const int iy = y / cell, fy = y % cell;
    const int* top = &lattice[static_cast<size_t>(iy * lw)];
    const int* bottom = &lattice[static_cast<size_t>(((iy + 1) % lh) * lw)];
    for (int x = 0; x < w; ++x) {
      const int ix = x / cell, fx = x % cell, jx = (ix + 1) % lw;
      const int upper = top[ix] * (cell - fx) + top[jx] * fx;
      const int lower = bottom[ix] * (cell - fx) + bottom[jx] * fx;
      sum[static_cast<size_t>(y * w + x)] += (upper * (cell - fy) + lower * fy) / area;
    }
  }
}

// The scene into rows of `stride`, clamped to video levels, each row followed
// by its first `repeat` pixels.
void FillWrapped(std::vector<uint8_t>& out, int stride, const std::vector<int>& sum, int w, int h, int repeat) {
  for (int y = 0; y < h; ++y) {
    uint8_t* row = out.data() + static_cast<size_t>(y) * stride;
    for (int x = 0; x < w; ++x) row[x] = static_cast<uint8_t>(std::clamp(sum[static_cast<size_t>(y * w + x)], 16, 235));
    for (int x = 0; x < repeat; ++x) row[w + x] = row[x % w];
  }
}

// Sensor noise: a triangular distribution from two random fields of a byte.
struct NoiseShape {
  int mask, shift, centre;
};
constexpr NoiseShape kLumaNoise = {7, 3, 7};    // -7..7
constexpr NoiseShape kChromaNoise = {3, 2, 3};  // -3..3

void AddSensorNoise(uint8_t* row, int n, uint64_t seed, NoiseShape shape) {
  uint64_t bits = 0;
  for (int x = 0; x < n; ++x) {
    if (x % 8 == 0) bits = Mix(seed += 0x632BE59BD9B4E019ull);
    const int b = static_cast<int>(bits & 0xFF);
    bits >>= 8;
    const int noise = (b & shape.mask) + ((b >> shape.shift) & shape.mask) - shape.centre;
    row[x] = static_cast<uint8_t>(std::clamp(row[x] + noise, 0, 255));
  }
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

bool IsSyncMarkFrame(int64_t frame, int fps) { return frame % fps == 0; }

void PaintSyncMark(YuvPicture& p) {
  const size_t luma = static_cast<size_t>(p.width) * p.height;
  std::fill(p.pixels.begin(), p.pixels.begin() + static_cast<std::ptrdiff_t>(luma), uint8_t{235});
  std::fill(p.pixels.begin() + static_cast<std::ptrdiff_t>(luma), p.pixels.end(), uint8_t{128});
}

void RenderFrame(YuvPicture& p, int channel, int64_t frame, int fps, const std::string& clock_text) {
  const int w = p.width, h = p.height;
  for (int y = 0; y < h; ++y) {
    uint8_t* row = p.y() + y * w;
    for (int x = 0; x < w; ++x) row[x] = static_cast<uint8_t>(48 + (x * 64) / w + (y * 32) / h + channel * 6);
  }
  std::memset(p.u(), kHueU[channel % 12], static_cast<size_t>((w / 2) * (h / 2)));
  std::memset(p.v(), kHueV[channel % 12], static_cast<size_t>((w / 2) * (h / 2)));
  const Box box = MovingObject(channel, frame, w, h, fps);
  for (int y = box.y; y < box.y + box.height && y < h; ++y) {
    std::memset(p.y() + y * w + box.x, 230, static_cast<size_t>(std::min(box.width, w - box.x)));
  }
  DrawLabels(p, channel, clock_text);
}

// ---------------------------------------------------------------- textured

TexturedScene::TexturedScene(int channel, int width, int height)
    : channel_(channel),
      // 2.75 to 4.5 pixels a frame at 1280 wide, every channel its own pace.
      speed_(std::max(1, (11 + channel % 8) * width / 1280)),
      sway_(std::max(2, height / 24)) {
  const uint64_t seed = Mix(0x5CE4E000u + static_cast<uint64_t>(channel));
  stride_ = kSceneWidth + width + 1;
  luma_.resize(static_cast<size_t>(stride_) * kSceneHeight);
  std::vector<int> sum(static_cast<size_t>(kSceneWidth) * kSceneHeight, 112);
  // Blotches down to a grain two pixels across, moving with the scene.
  AddValueNoise(sum, kSceneWidth, kSceneHeight, 128, 36, seed + 1);
  AddValueNoise(sum, kSceneWidth, kSceneHeight, 32, 22, seed + 2);
  AddValueNoise(sum, kSceneWidth, kSceneHeight, 8, 14, seed + 3);
  AddValueNoise(sum, kSceneWidth, kSceneHeight, 2, 10, seed + 4);
  // Edges: walls, windows, signs and lane marks as lighter or darker boxes.
  const uint64_t boxes = Mix(seed + 5);
  for (int i = 0; i < 96; ++i) {
    const uint64_t r = Mix(boxes + static_cast<uint64_t>(i));
    const int x0 = static_cast<int>(r % kSceneWidth), y0 = static_cast<int>((r >> 12) % kSceneHeight);
    const int bw = 8 + static_cast<int>((r >> 24) % 248), bh = 8 + static_cast<int>((r >> 32) % 184);
    const int shade = static_cast<int>((r >> 40) % 81) - 40;
    for (int y = y0; y < y0 + bh; ++y) {
      int* row = &sum[static_cast<size_t>((y % kSceneHeight) * kSceneWidth)];
      for (int x = x0; x < x0 + bw; ++x) row[x % kSceneWidth] += shade;
    }
  }
  FillWrapped(luma_, stride_, sum, kSceneWidth, kSceneHeight, width + 1);

  // Colour: the channel's hue, half as strong, with broad, faint shifts, at
  // half the size.
  constexpr int cw = kSceneWidth / 2, ch = kSceneHeight / 2;
  chroma_stride_ = cw + width / 2 + 1;
  for (int plane = 0; plane < 2; ++plane) {
    const int hue = plane == 0 ? kHueU[channel % 12] : kHueV[channel % 12];
    std::vector<int> c(static_cast<size_t>(cw) * ch, 128 + (hue - 128) / 2);
    AddValueNoise(c, cw, ch, 64, 14, seed + 10 + static_cast<uint64_t>(plane));
    AddValueNoise(c, cw, ch, 16, 6, seed + 12 + static_cast<uint64_t>(plane));
    auto& out = plane == 0 ? u_ : v_;
    out.resize(static_cast<size_t>(chroma_stride_) * ch);
    FillWrapped(out, chroma_stride_, c, cw, ch, width / 2 + 1);
  }
}

void TexturedScene::Render(YuvPicture& p, int64_t frame, int fps, const std::string& clock_text) const {
  const int w = p.width, h = p.height;
  // Pan position in quarter pixels of luma, which are eighths of chroma.
  const int64_t pan = frame * speed_;
  const int lx = static_cast<int>((pan >> 2) % kSceneWidth), lf = static_cast<int>(pan & 3);
  const int cx = static_cast<int>((pan >> 3) % (kSceneWidth / 2)), cf = static_cast<int>(pan & 7);
  const int sway = 2 * Triangle(frame / 4, sway_ / 2);  // even: luma and chroma rows stay aligned
  const uint64_t noise_seed = Mix(Mix(0x7E1A0000u + static_cast<uint64_t>(channel_)) + static_cast<uint64_t>(frame));
  const Box box = MovingObject(channel_, frame, w, h, fps);
  // The bottom sixth is the vehicle's own bonnet: dark, still, only noise changes.
  const int bonnet = (h - h / 6) & ~1;
  for (int y = 0; y < h; ++y) {
    uint8_t* row = p.y() + y * w;
    if (y < bonnet) {
      const uint8_t* src = luma_.data() + static_cast<size_t>((y + sway) % kSceneHeight) * stride_ + lx;
      for (int x = 0; x < w; ++x) row[x] = static_cast<uint8_t>((src[x] * (4 - lf) + src[x + 1] * lf + 2) >> 2);
    } else {
      const uint8_t* src = luma_.data() + static_cast<size_t>(y % kSceneHeight) * stride_;
      for (int x = 0; x < w; ++x) row[x] = static_cast<uint8_t>(20 + src[x] / 4);
    }
    if (y >= box.y && y < box.y + box.height) {
      std::memset(row + box.x, 230, static_cast<size_t>(std::min(box.width, w - box.x)));
    }
    AddSensorNoise(row, w, noise_seed + static_cast<uint64_t>(y), kLumaNoise);
  }
  const int cw = w / 2;
  for (int plane = 0; plane < 2; ++plane) {
    const auto& scene = plane == 0 ? u_ : v_;
    uint8_t* out = plane == 0 ? p.u() : p.v();
    for (int y = 0; y < h / 2; ++y) {
      uint8_t* row = out + y * cw;
      if (y < bonnet / 2) {
        const uint8_t* src =
            scene.data() + static_cast<size_t>((y + sway / 2) % (kSceneHeight / 2)) * chroma_stride_ + cx;
        for (int x = 0; x < cw; ++x) row[x] = static_cast<uint8_t>((src[x] * (8 - cf) + src[x + 1] * cf + 4) >> 3);
      } else {
        std::memset(row, 128, static_cast<size_t>(cw));
      }
      AddSensorNoise(row, cw, noise_seed + static_cast<uint64_t>((plane + 1) * h + y), kChromaNoise);
    }
  }
  DrawLabels(p, channel_, clock_text);
}

}  // namespace sample
