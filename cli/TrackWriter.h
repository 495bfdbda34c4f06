#pragma once
// The GPS track of recordings as GPX 1.1, KML 2.2 or CSV, for `dravik-tool gps`.
// A track is one recording's fixes in file order; each becomes a GPX track
// segment (consecutive tracks of the same vehicle share one <trk>), a KML
// Placemark, or CSV rows carrying the file's name. Text from recordings is
// escaped (XML) or quoted (CSV), and made valid UTF-8 first.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace cli {

struct TrackPoint {
  double lat = 0, lon = 0;  // degrees, in the datum asked for
  double alt = 0;           // metres
  double speed = 0;         // km/h, as the recorder writes it
  double course = 0;        // degrees clockwise from north
  std::optional<int64_t> utc_ms;  // milliseconds since 1970-01-01 00:00 UTC
};

struct Track {
  std::string file;     // the recording's path as given
  std::string vehicle;  // the records' vehicle text (UTF-8)
  std::vector<TrackPoint> points;
};

enum class TrackFormat { Gpx, Kml, Csv };

// The namespace of the GPX points' <extensions> (speed in km/h, course in
// degrees) and of the segment's recording file name.
inline constexpr const char* kGpxExtensionNamespace = "urn:x-dravik:gpx-track:1";

class TrackWriter {
 public:
  explicit TrackWriter(TrackFormat format) : format_(format) {}

  // The document's text piece by piece: Begin once, Add per track, End once.
  std::string Begin();
  std::string Add(const Track& track);
  std::string End();

 private:
  TrackFormat format_;
  bool trk_open_ = false;
  std::string trk_vehicle_;
};

// Character data or attribute text: & < > " ' as entities; bytes that are
// not UTF-8, and characters XML 1.0 forbids (controls other than tab, line
// feed and carriage return), become U+FFFD.
std::string XmlEscape(std::string_view text);

// A CSV field: valid UTF-8 in double quotes, inner quotes doubled.
std::string CsvQuote(std::string_view text);

// ISO-8601 UTC: 2024-03-15T08:00:05Z, with .mmm when the milliseconds are not zero.
std::string IsoUtc(int64_t utc_ms);

// Shortest text that reads back as the same double; empty when not finite.
std::string NumberText(double value);

}  // namespace cli
