#include "cli/sample/SampleRecords.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "QVVReader/Amf0Writer.h"
#include "cli/sample/SyntheticVideo.h"

namespace sample {
namespace {

constexpr double kCruiseKmh = 50.0;
constexpr double kMetresPerDegree = 111320.0;

double BrakeTime(int seconds) { return std::max(2.0, seconds / 2.0); }

}  // namespace

double SpeedAt(double t, int seconds) {
  // Hard braking: 50 km/h to 0 in 2 s (about 0.7 g), 1 s standing, 4 s pulling away.
  const double brake = BrakeTime(seconds);
  if (t < brake) return kCruiseKmh;
  if (t < brake + 2) return kCruiseKmh * (1 - (t - brake) / 2);
  if (t < brake + 3) return 0;
  if (t < brake + 7) return kCruiseKmh * (t - brake - 3) / 4;
  return kCruiseKmh;
}

DriveOptions DriveFor(int group, int groups, int64_t start_utc, int seconds) {
  const bool abroad = groups > 1 && group == groups - 1;
  DriveOptions d;
  if (abroad) {  // Munich, outside the Chinese datum correction
    d.start_lat = 48.137154;
    d.start_lon = 11.576124;
    d.plate = "M-DV 2024";
  } else {  // Shenzhen
    d.start_lat = 22.543096 + 0.002 * group;
    d.start_lon = 114.057865 + 0.003 * group;
    d.plate = "\xE7\xB2\xA4" "B12345";  // UTF-8
  }
  d.start_utc = start_utc;
  d.seconds = seconds;
  return d;
}

std::vector<TimedRecord> SensorRecords(const DriveOptions& drive) {
  std::vector<TimedRecord> records;
  double lat = drive.start_lat, lon = drive.start_lon;
  const int steps = drive.seconds * 10;
  for (int step = 0; step < steps; ++step) {
    const double t = step / 10.0;
    const double speed = SpeedAt(t, drive.seconds);
    // Straight for 20 s, then a right-angle turn: east, south, east, north, ...
    static constexpr double kHeadings[] = {90, 180, 90, 0};
    const double course = kHeadings[static_cast<int>(t / 20) % 4];
    if (step % 10 == 0) {
      qvv::Amf0Writer amf;
      amf.String("GPS");
      amf.BeginArray(10);
      amf.Field("mode", 3);
      amf.Field("lat", std::round(lat * 1e7) / 1e7);
      amf.Field("lon", std::round(lon * 1e7) / 1e7);
      amf.Field("alt", 12.0);
      amf.Field("speed", speed);
      amf.Field("course", course);
      amf.Field("sat_used", 9);
      amf.Field("sat_visible", 14);
      amf.Field("time", static_cast<double>(drive.start_utc + step / 10));
      amf.Field("carInfo", drive.plate);
      amf.EndArray();
      records.push_back({step * 100000LL, std::move(amf.bytes()), "GPS"});
    }
    // Longitudinal acceleration from the speed profile, a little road noise.
    const double accel_g = (SpeedAt(t + 0.05, drive.seconds) - SpeedAt(t - 0.05, drive.seconds)) / 3.6 / 0.1 / 9.81;
    qvv::Amf0Writer amf;
    amf.String("GSensor");
    amf.BeginArray(5);
    amf.Field("x", std::round((accel_g + 0.02 * std::sin(step * 0.7)) * 1000) / 1000);
    amf.Field("y", std::round(0.03 * std::sin(step * 0.31) * 1000) / 1000);
    amf.Field("z", std::round((1.0 + 0.01 * std::sin(step * 1.3)) * 1000) / 1000);
    amf.Field("temperature", 36.5);
    amf.Field("speed", speed);
    amf.EndArray();
    records.push_back({step * 100000LL + 50000, std::move(amf.bytes()), "GSensor"});
    // Move along the course for 0.1 s.
    const double metres = speed / 3.6 * 0.1;
    const double rad = course * std::numbers::pi / 180;
    lat += metres * std::cos(rad) / kMetresPerDegree;
    lon += metres * std::sin(rad) / (kMetresPerDegree * std::cos(lat * std::numbers::pi / 180));
  }
  return records;
}

std::vector<TimedRecord> OverlayRecords(int channel, int seconds, int width, int height, int fps) {
  std::vector<TimedRecord> records;
  // Coordinates in the overlay's 1920 x 1080 space.
  auto sx = [&](int x) { return static_cast<double>(x) * 1920 / width; };
  auto sy = [&](int y) { return static_cast<double>(y) * 1080 / height; };
  for (int step = 0; step < seconds * 5; ++step) {
    const int64_t us = step * 200000LL + 20000;
    const int64_t frame = us * fps / 1000000;
    const Box b = MovingObject(channel, frame, width, height, fps);
    qvv::Amf0Writer amf;
    amf.String("ALG");
    amf.BeginArray(24);
    amf.Field("SysPts", static_cast<double>(us));
    amf.Field("RColor", 1);
    amf.Field("RThickness", 3);
    amf.Field("RX", sx(b.x));
    amf.Field("RY", sy(b.y));
    amf.Field("RW", sx(b.width));
    amf.Field("RH", sy(b.height));
    amf.Field("PColor", 2);
    amf.Field("PThickness", 12);
    amf.Field("PX", sx(b.x + b.width / 2));
    amf.Field("PY", sy(b.y + b.height / 2));
    amf.Field("FColor", 4);
    amf.Field("FSTR", "car 0.97");
    amf.Field("FX", sx(b.x));
    amf.Field("FY", sy(std::max(0, b.y - 12)));
    amf.Field("FSIZE", 24 * 64);  // the label's height in 1/64 pixel: 24 pixels
    // A fixed region of interest: the lower middle of the picture.
    const int corners[4][2] = {{width / 4, height / 2}, {3 * width / 4, height / 2}, {width - 1, height - 1}, {0, height - 1}};
    amf.Field("ROIColor", 3);
    amf.Field("ROIThickness", 2);
    for (const auto& c : corners) {
      amf.Field("ROIX", sx(c[0]));
      amf.Field("ROIY", sy(c[1]));
    }
    amf.EndArray();
    records.push_back({us, std::move(amf.bytes()), "ALG"});
  }
  return records;
}

}  // namespace sample
