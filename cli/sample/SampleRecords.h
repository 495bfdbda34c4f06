#pragma once
// The data records of a sample recording: a GPS drive along a plausible road
// (straight stretches and right-angle turns, 50 km/h, with one hard braking),
// G-sensor readings that show the braking, and the picture-analysis overlay
// that follows the moving object.
#include <cstdint>
#include <string>
#include <vector>

namespace sample {

struct TimedRecord {
  int64_t us;                 // from the start of the recording
  std::vector<uint8_t> amf0;  // the record as the recorder writes it
  std::string name;
};

struct DriveOptions {
  double start_lat, start_lon;  // WGS-84
  int64_t start_utc;            // seconds
  int seconds;
  std::string plate;
};

// Where the group's drive starts: inside China, except for the last of several
// groups, which drives abroad.
DriveOptions DriveFor(int group, int groups, int64_t start_utc, int seconds);

// GPS once a second, "GSensor" ten times a second, in time order.
std::vector<TimedRecord> SensorRecords(const DriveOptions& drive);

// "ALG" records five times a second for channel `channel`'s moving object.
std::vector<TimedRecord> OverlayRecords(int channel, int seconds, int width, int height, int fps);

// Speed in km/h at time t: cruising with one braking to a halt and a pull-away.
double SpeedAt(double t, int seconds);

}  // namespace sample
