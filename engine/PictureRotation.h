#pragma once
// Turning and mirroring a planar YUV 4:2:0 picture (Y at full size, then U and
// V at half width and half height, rounded down), plane by plane, as a
// channel's camera may be mounted: the recorder leaves that to the player.
#include <cstdint>

namespace engine {

enum class Rotation : int {
  kNone = 0,
  kMirror = 1,       // left-right
  kFlip = 2,         // top-bottom
  kClockwise = 3,    // 90 degrees: the picture becomes height x width
  kCounterClockwise = 4,
  kHalfTurn = 5,
};

inline bool SwapsSides(int rotation) { return rotation == 3 || rotation == 4; }

// Writes the turned picture into `out` (width x height x 3 / 2 bytes, the
// sides swapped for 3 and 4). False for an unknown rotation or no picture.
bool RotatePicture(const uint8_t* in, int width, int height, int rotation, uint8_t* out);

}  // namespace engine
