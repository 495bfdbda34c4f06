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

// `clock_text` is burned in at the bottom (the recording time of the frame).
void RenderFrame(YuvPicture& picture, int channel, int64_t frame, int fps, const std::string& clock_text);

}  // namespace sample
