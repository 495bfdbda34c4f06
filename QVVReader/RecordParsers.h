#pragma once
// Parsers of the recorder's data records: "GPS" fixes, "GSensor" and
// "otherSensors" readings, and "ALG" overlay drawing frames.
#include <cstdint>
#include <string>

#include "QVVReader/AlgProtocol.h"
#include "QVVReader/Amf0.h"

namespace qvv {

// Fields keep their last values across records (reset does nothing).
class GPSParse : public Parse {
 public:
  static constexpr const char* kDefaultCarInfo = "Unknown";  // 7 characters
  static constexpr size_t kCarInfoMaxUnits = 256;            // UTF-16 units

  void Reset() override {}
  void Value(double number, std::string_view text, int type, std::string_view key) override;

  double mode = 0, lat = 0, lon = 0, alt = 0, speed = 0, course = 0;
  int32_t sat_used = 0, sat_visible = 0, time = 0;
  std::string car_info = kDefaultCarInfo;  // UTF-8
};

class GSensorParse : public Parse {
 public:
  void Reset() override {}
  void Value(double number, std::string_view text, int type, std::string_view key) override;

  double x = 0, y = 0, z = 0, temperature = 0, speed = 0;
};

// Builds an AlgProtocol: keys set current values; "PY", "RH", "FSIZE" and
// "ROIY" complete an item and append it.
class AlgParse : public Parse {
 public:
  void Reset() override { record.Reset(); }
  void Value(double number, std::string_view text, int type, std::string_view key) override;

  AlgProtocol record;

 private:
  AlgCircle circle_;
  AlgRectangle rectangle_;
  AlgText text_;
  AlgRegionCorner corner_;
};

}  // namespace qvv
