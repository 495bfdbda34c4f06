#pragma once
// One drawing frame of the recorder's picture-analysis overlay, as its "ALG"
// data record describes it. The record parser fills it; the engine queues
// copies and draws them scaled from the coordinate space (width x height).
#include <cstdint>
#include <string>
#include <vector>

namespace qvv {

struct AlgCircle {
  int32_t color = 0;  // colour index, mapped by the renderer
  int32_t radius = 0;
  int32_t x = 0;
  int32_t y = 0;
  bool operator==(const AlgCircle&) const = default;
};

struct AlgRectangle {
  int32_t color = 0;
  int32_t pen_width = 0;
  int32_t x = 0;
  int32_t y = 0;
  int32_t width = 0;
  int32_t height = 0;
  bool operator==(const AlgRectangle&) const = default;
};

struct AlgText {
  int32_t color = 0;
  std::string text;  // UTF-8
  int32_t x = 0;
  int32_t y = 0;
  int32_t size = 0;
  bool operator==(const AlgText&) const = default;
};

struct AlgRegionCorner {
  int32_t color = 0;
  int32_t pen_width = 0;
  int32_t x = 0;
  int32_t y = 0;
  bool operator==(const AlgRegionCorner&) const = default;
};

struct AlgProtocol {
  static constexpr uint16_t kDefaultWidth = 1920;
  static constexpr uint16_t kDefaultHeight = 1080;

  uint8_t reserved[6] = {};
  uint16_t width = kDefaultWidth;  // coordinate space the items are given in
  uint16_t height = kDefaultHeight;
  int64_t time = 0;  // milliseconds
  std::vector<AlgCircle> circles;
  std::vector<AlgRectangle> rectangles;
  std::vector<AlgText> texts;
  std::vector<AlgRegionCorner> region;

  // Clears the reserved bytes, the time and the four lists; the coordinate
  // space is kept. clear() keeps the vectors' storage for the next record.
  void Reset() {
    for (auto& b : reserved) b = 0;
    time = 0;
    circles.clear();
    rectangles.clear();
    texts.clear();
    region.clear();
  }
  bool operator==(const AlgProtocol&) const = default;
};

}  // namespace qvv
