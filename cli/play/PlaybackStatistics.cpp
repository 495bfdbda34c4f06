#include "cli/play/PlaybackStatistics.h"

namespace cli {

// A picture whose brightness is near white all over: a sync mark.
bool IsWhite(const uint8_t* y, int width, int height) {
  if (!y || width <= 0 || height <= 0) return false;
  uint64_t sum = 0;
  int n = 0;
  for (int row = 0; row < height; row += 8)
    for (int col = 0; col < width; col += 8, ++n) sum += y[static_cast<size_t>(row) * static_cast<size_t>(width) + static_cast<size_t>(col)];
  return n > 0 && sum / static_cast<uint64_t>(n) > 200;
}

}  // namespace cli
