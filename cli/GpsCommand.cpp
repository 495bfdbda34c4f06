// dravik-tool gps FILE... --format gpx|kml|csv [--datum wgs84|gcj02|bd09] [--out PATH]
// The GPS track of recordings: every "GPS" record with a fix, in file order,
// one track segment per file (see cli/TrackWriter.h for the formats).
//
// Times: the start the file name carries (its date and time taken as UTC, as
// the name's clock is the recorder's) plus the record's time in the file.
// When the name carries no start, the record's own "time" field (seconds
// since 1970, UTC) is used, and no time when that is zero too.
//
// Points: a record counts as a fix unless its latitude and longitude both lie
// within (-0.001, 0.001) (the recorder writes 0, 0 before its receiver has a
// fix), or a coordinate is not a finite number on the globe. A record cut
// short by damage gives no point. Consecutive equal positions are kept: each
// has its own time, and together they say how long the vehicle stood.
//
// --datum gcj02 converts each fix to GCJ-02 (inside China; elsewhere it is
// left as it is), bd09 to GCJ-02 and then BD-09.
//
// A file that cannot be opened or read to its end: one line on stderr, what
// was read before the fault is written, the other files too, and the exit
// status is 1.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <cerrno>
#include <optional>
#include <string>

#include "QVVReader/FileName.h"
#include "QVVReader/RecordParsers.h"
#include "cli/Commands.h"
#include "cli/Recording.h"
#include "cli/TrackWriter.h"
#include "map/MapDatum.h"

namespace cli {
namespace {

enum class Datum { Wgs84, Gcj02, Bd09 };

// Times written run from 1970 to the end of 9999 (ISO-8601 years have four digits).
constexpr int64_t kLatestUtcMs = 253402300799999;

bool IsFix(double lat, double lon) {
  if (!std::isfinite(lat) || !std::isfinite(lon) || std::fabs(lat) > 90 || std::fabs(lon) > 180) return false;
  return !(std::fabs(lat) < 0.001 && std::fabs(lon) < 0.001);
}

void Convert(Datum datum, double& lat, double& lon) {
  if (datum == Datum::Wgs84) return;
  map::ToChinaMapDatum(lat, lon, lat, lon);
  if (datum == Datum::Bd09) map::ToBaiduDatum(lat, lon, lat, lon);
}

// The start the file name says, in milliseconds since 1970 (UTC as written).
std::optional<int64_t> NameStartMs(const std::string& path) {
  const auto kind = qvv::NameKindOfExtension(path);
  if (!kind) return std::nullopt;
  const auto name = qvv::ParseRecordingName(path, *kind);
  if (!name || name->utc_start < 0) return std::nullopt;
  return name->utc_start * 1000;
}

// Reads the GPS records of `path` into `track`. False, with one line on
// stderr, when the file does not open or reading stops at damage.
bool ReadTrack(const std::string& path, Datum datum, Track& track) {
  track.file = path;
  OpenedRecording rec;
  if (!OpenRecording(path, false, rec)) return false;
  const std::optional<int64_t> start_ms = NameStartMs(path);
  if (!start_ms) {
    std::fprintf(stderr, "dravik-tool: %s: the name carries no start time; times come from the GPS records\n",
                 path.c_str());
  }
  qvv::GPSParse gps;
  qvv::ReaderPacket packet;
  bool vehicle_known = false;
  bool ok = true;
  for (;;) {
    const int r = rec.demuxer->ReadPacket(packet);
    if (IsEndOfReading(*rec.demuxer, r)) break;
    if (r < 0) {
      std::fprintf(stderr, "dravik-tool: %s: damaged recording: a packet could not be read (error %d)\n",
                   path.c_str(), r);
      ok = false;
      break;
    }
    const qvv::AVStream* st = rec.demuxer->context().FindStream(packet.stream_index);
    if (!st || st->kind != qvv::kKindData) continue;
    const auto name = qvv::Amf0RecordName(packet.data.get(), static_cast<size_t>(packet.size));
    if (!name || *name != "GPS") continue;
    if (qvv::Amf0WalkAll(packet.data.get(), static_cast<size_t>(packet.size), &gps) < 0) continue;
    if (!IsFix(gps.lat, gps.lon)) continue;
    TrackPoint p;
    p.lat = gps.lat;
    p.lon = gps.lon;
    Convert(datum, p.lat, p.lon);
    p.alt = gps.alt;
    p.speed = gps.speed;
    p.course = gps.course;
    std::optional<int64_t> utc_ms;
    if (start_ms && packet.pts != qvv::kNoPtsValue) {
      // A damaged time stamp may be far out; it must not overflow the sum.
      const int64_t offset = qvv::av_rescale_q(packet.pts, st->time_base, {1, 1000});
      if (offset >= -kLatestUtcMs && offset <= kLatestUtcMs) utc_ms = *start_ms + offset;
    } else if (!start_ms && gps.time > 0) {
      utc_ms = static_cast<int64_t>(gps.time) * 1000;
    }
    if (utc_ms && *utc_ms >= 0 && *utc_ms <= kLatestUtcMs) p.utc_ms = utc_ms;
    if (!vehicle_known) {
      track.vehicle = gps.car_info;
      vehicle_known = true;
    }
    track.points.push_back(p);
  }
  if (!vehicle_known) track.vehicle = gps.car_info;
  ReportDamage(path, rec.demuxer->damage());
  return ok;
}

int Usage() {
  std::fprintf(stderr,
               "usage: dravik-tool gps FILE... --format gpx|kml|csv [--datum wgs84|gcj02|bd09] [--out PATH]\n");
  return 2;
}

}  // namespace

int RunGps(const Args& args) {
  std::optional<TrackFormat> format;
  Datum datum = Datum::Wgs84;
  std::string out_path;
  bool have_out = false;
  std::vector<std::string> files;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string_view a = args[i];
    const bool has_value = i + 1 < args.size();
    if (a == "--format" && has_value) {
      const std::string_view v = args[++i];
      if (v == "gpx") format = TrackFormat::Gpx;
      else if (v == "kml") format = TrackFormat::Kml;
      else if (v == "csv") format = TrackFormat::Csv;
      else return Usage();
    } else if (a == "--datum" && has_value) {
      const std::string_view v = args[++i];
      if (v == "wgs84") datum = Datum::Wgs84;
      else if (v == "gcj02") datum = Datum::Gcj02;
      else if (v == "bd09") datum = Datum::Bd09;
      else return Usage();
    } else if (a == "--out" && has_value && !have_out) {
      out_path = std::string(args[++i]);
      have_out = true;
    } else if (a.starts_with("--")) {
      return Usage();
    } else {
      files.emplace_back(a);
    }
  }
  if (!format || files.empty() || (have_out && out_path.empty())) return Usage();

  FILE* out = stdout;
  if (have_out) {
    errno = 0;
    out = std::fopen(out_path.c_str(), "wb");
    if (!out) {
      std::fprintf(stderr, "dravik-tool: %s: cannot write: %s\n", out_path.c_str(),
                   errno ? std::strerror(errno) : "unknown error");
      return 1;
    }
  }
  bool write_ok = true;
  auto emit = [&](const std::string& text) {
    if (write_ok && std::fwrite(text.data(), 1, text.size(), out) != text.size()) write_ok = false;
  };
  TrackWriter writer(*format);
  int status = 0;
  emit(writer.Begin());
  for (const std::string& path : files) {
    Track track;
    const bool whole = ReadTrack(path, datum, track);
    if (!whole) status = 1;
    // What was read before damage is kept; a file that did not open adds nothing.
    if (whole || !track.points.empty()) emit(writer.Add(track));
  }
  emit(writer.End());
  const bool flushed = have_out ? std::fclose(out) == 0 : std::fflush(out) == 0;
  if (!write_ok || !flushed) {
    std::fprintf(stderr, "dravik-tool: %s: the track could not be written\n",
                 have_out ? out_path.c_str() : "standard output");
    return 1;
  }
  return status;
}

}  // namespace cli
