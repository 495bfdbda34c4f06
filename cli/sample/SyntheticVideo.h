#pragma once
// Pictures of a recorder channel that a person and a test can tell apart: a
// per-channel colour, the channel number and the recording time burned in, and
// a bright object that moves across the picture.
#include <cstdint>
#include <string>
#include <vector>

namespace sample {

struct Box {
  int x, y, width, height;
};

// Where channel `channel`'s moving object is in frame `frame`.
Box MovingObject(int channel, int64_t frame, int width, int height, int fps);

// Planar YUV 4:2:0 (Y, then U, then V).
struct YuvPicture {
  int width = 0, height = 0;
  std::vector<uint8_t> pixels;
  uint8_t* y() { return pixels.data(); }
  uint8_t* u() { return pixels.data() + width * height; }
  uint8_t* v() { return pixels.data() + width * height + (width / 2) * (height / 2); }
};

// Sync marks: the picture at every whole second of the recording is white all
// over (Y 235, U and V 128) in every channel, while the sound beeps.
bool IsSyncMarkFrame(int64_t frame, int fps);
void PaintSyncMark(YuvPicture& picture);

// `clock_text` is burned in at the bottom (the recording time of the frame).
void RenderFrame(YuvPicture& picture, int channel, int64_t frame, int fps, const std::string& clock_text);

// What a vehicle camera sees, costing an encoder and a decoder what real
// footage costs: a textured scene (fine grain, blotches and edges) panning past
// at a fraction of a pixel a frame with a slow vertical sway, sensor noise on
// every pixel that changes every frame, and the channel's hue, moving object
// and burned-in text as RenderFrame draws them. Integer arithmetic only, so
// every build renders the same pixels.
class TexturedScene {
 public:
  // Pictures to render are `width` x `height`.
  TexturedScene(int channel, int width, int height);
  void Render(YuvPicture& picture, int64_t frame, int fps, const std::string& clock_text) const;

 private:
  int channel_;
  int speed_;  // pan in quarter pixels a frame
  int sway_;   // vertical travel in rows
  // The scene, wrapping around; every row is followed by its first `width_ + 1`
  // pixels again so that a picture's row is one run without wrap checks.
  int stride_ = 0, chroma_stride_ = 0;
  std::vector<uint8_t> luma_, u_, v_;
};

}  // namespace sample
