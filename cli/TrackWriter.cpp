#include "cli/TrackWriter.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <optional>

#include "platform/TextEncoding.h"

namespace cli {
namespace {

constexpr const char* kReplacement = "\xEF\xBF\xBD";  // U+FFFD

bool XmlAllows(char32_t cp) {
  if (cp < 0x20) return cp == 0x09 || cp == 0x0A || cp == 0x0D;
  return cp != 0xFFFE && cp != 0xFFFF;
}

// The text as valid UTF-8: bad bytes, and with `xml` the characters XML
// forbids, become U+FFFD; `escape` writes each ASCII character.
template <typename Escape>
std::string CleanText(std::string_view text, bool xml, Escape escape) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    const size_t at = i;
    const std::optional<char32_t> cp = platform::NextUtf8(text, i);
    if (!cp || (xml && !XmlAllows(*cp))) out += kReplacement;
    else if (i - at == 1) escape(out, text[at]);
    else out.append(text, at, i - at);
  }
  return out;
}

std::string Fixed7(double value) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.7f", value);
  return buf;
}

std::string TimeText(const TrackPoint& p) { return p.utc_ms ? IsoUtc(*p.utc_ms) : std::string(); }

std::string GpxPoint(const TrackPoint& p) {
  std::string s = "      <trkpt lat=\"" + Fixed7(p.lat) + "\" lon=\"" + Fixed7(p.lon) + "\">";
  if (const std::string ele = NumberText(p.alt); !ele.empty()) s += "<ele>" + ele + "</ele>";
  if (const std::string time = TimeText(p); !time.empty()) s += "<time>" + time + "</time>";
  const std::string speed = NumberText(p.speed), course = NumberText(p.course);
  if (!speed.empty() || !course.empty()) {
    s += "<extensions>";
    if (!speed.empty()) s += "<dravik:speed_kmh>" + speed + "</dravik:speed_kmh>";
    if (!course.empty()) s += "<dravik:course>" + course + "</dravik:course>";
    s += "</extensions>";
  }
  return s + "</trkpt>\n";
}

std::string KmlTuple(const TrackPoint& p) {
  std::string s = Fixed7(p.lon) + "," + Fixed7(p.lat);
  if (const std::string alt = NumberText(p.alt); !alt.empty()) s += "," + alt;
  return s;
}

std::string KmlPlacemark(const Track& t) {
  std::string s = "    <Placemark>\n      <name>" + XmlEscape(t.vehicle) + "</name>\n      <description>" +
                  XmlEscape(t.file) + "</description>\n";
  std::optional<int64_t> first, last;
  for (const TrackPoint& p : t.points) {
    if (!p.utc_ms) continue;
    first = first ? std::min(*first, *p.utc_ms) : *p.utc_ms;
    last = last ? std::max(*last, *p.utc_ms) : *p.utc_ms;
  }
  if (first) s += "      <TimeSpan><begin>" + IsoUtc(*first) + "</begin><end>" + IsoUtc(*last) + "</end></TimeSpan>\n";
  if (t.points.size() == 1) {
    s += "      <Point><coordinates>" + KmlTuple(t.points[0]) + "</coordinates></Point>\n";
  } else if (t.points.size() > 1) {
    // A line needs two points; a recording with none has no geometry.
    s += "      <LineString>\n        <tessellate>1</tessellate>\n        <coordinates>\n";
    for (const TrackPoint& p : t.points) s += "          " + KmlTuple(p) + "\n";
    s += "        </coordinates>\n      </LineString>\n";
  }
  return s + "    </Placemark>\n";
}

std::string CsvRows(const Track& t) {
  const std::string file = CsvQuote(t.file), vehicle = CsvQuote(t.vehicle);
  std::string s;
  for (const TrackPoint& p : t.points) {
    s += file + "," + vehicle + "," + TimeText(p) + "," + Fixed7(p.lat) + "," + Fixed7(p.lon) + "," +
         NumberText(p.alt) + "," + NumberText(p.speed) + "," + NumberText(p.course) + "\n";
  }
  return s;
}

}  // namespace

std::string XmlEscape(std::string_view text) {
  return CleanText(text, true, [](std::string& out, char c) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&apos;"; break;
      default: out += c;
    }
  });
}

std::string CsvQuote(std::string_view text) {
  const std::string clean = CleanText(text, false, [](std::string& out, char c) { out += c; });
  std::string quoted = "\"";
  for (const char c : clean) {
    quoted += c;
    if (c == '"') quoted += '"';  // a quote inside is written twice
  }
  return quoted + "\"";
}

std::string IsoUtc(int64_t utc_ms) {
  const int64_t ms = ((utc_ms % 1000) + 1000) % 1000;
  const time_t seconds = static_cast<time_t>((utc_ms - ms) / 1000);
  std::tm tm{};
  gmtime_r(&seconds, &tm);
  char buf[40];
  if (ms) {
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", tm.tm_year + 1900, tm.tm_mon + 1,
                  tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, static_cast<int>(ms));
  } else {
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02dZ", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                  tm.tm_hour, tm.tm_min, tm.tm_sec);
  }
  return buf;
}

std::string NumberText(double value) {
  if (!std::isfinite(value)) return {};
  char buf[32];
  const auto r = std::to_chars(buf, buf + sizeof buf, value);
  return std::string(buf, r.ptr);
}

std::string TrackWriter::Begin() {
  switch (format_) {
    case TrackFormat::Gpx:
      return std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                         "<gpx version=\"1.1\" creator=\"dravik-tool\" xmlns=\"http://www.topografix.com/GPX/1/1\" "
                         "xmlns:dravik=\"") +
             kGpxExtensionNamespace + "\">\n";
    case TrackFormat::Kml:
      return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
             "<kml xmlns=\"http://www.opengis.net/kml/2.2\">\n"
             "  <Document>\n"
             "    <name>dravik-tool GPS track</name>\n";
    case TrackFormat::Csv:
      return "file,vehicle,time,lat,lon,alt_m,speed_kmh,course_deg\n";
  }
  return {};
}

std::string TrackWriter::Add(const Track& track) {
  if (format_ == TrackFormat::Kml) return KmlPlacemark(track);
  if (format_ == TrackFormat::Csv) return CsvRows(track);
  std::string s;
  if (!trk_open_ || track.vehicle != trk_vehicle_) {
    if (trk_open_) s += "  </trk>\n";
    s += "  <trk>\n    <name>" + XmlEscape(track.vehicle) + "</name>\n";
    trk_open_ = true;
    trk_vehicle_ = track.vehicle;
  }
  s += "    <trkseg>\n";
  for (const TrackPoint& p : track.points) s += GpxPoint(p);
  s += "      <extensions><dravik:file>" + XmlEscape(track.file) + "</dravik:file></extensions>\n    </trkseg>\n";
  return s;
}

std::string TrackWriter::End() {
  switch (format_) {
    case TrackFormat::Gpx: {
      std::string s = trk_open_ ? "  </trk>\n" : "";
      trk_open_ = false;
      return s + "</gpx>\n";
    }
    case TrackFormat::Kml: return "  </Document>\n</kml>\n";
    case TrackFormat::Csv: return {};
  }
  return {};
}

}  // namespace cli
