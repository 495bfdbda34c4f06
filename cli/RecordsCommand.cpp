// dravik-tool records FILE: one line per data record: time in ms, record name,
// parsed fields as key=value.
#include <cinttypes>
#include <cstdio>
#include <string>

#include "QVVReader/RecordParsers.h"
#include "cli/Commands.h"
#include "cli/Json.h"
#include "cli/Recording.h"

namespace cli {
namespace {

void PrintGps(const qvv::GPSParse& g) {
  std::printf(" mode=%g lat=%.7f lon=%.7f alt=%g speed=%g course=%g sat_used=%d sat_visible=%d time=%d carInfo=%s",
              g.mode, g.lat, g.lon, g.alt, g.speed, g.course, g.sat_used, g.sat_visible, g.time,
              JsonString(g.car_info).c_str());
}

void PrintSensor(const qvv::GSensorParse& s) {
  std::printf(" x=%g y=%g z=%g temperature=%g speed=%g", s.x, s.y, s.z, s.temperature, s.speed);
}

void PrintAlg(const qvv::AlgProtocol& a) {
  std::printf(" time=%" PRId64 " space=%dx%d", a.time, a.width, a.height);
  for (size_t i = 0; i < a.circles.size(); ++i) {
    const auto& c = a.circles[i];
    std::printf(" circle%zu=%d:%d:%d,%d", i, c.color, c.radius, c.x, c.y);
  }
  for (size_t i = 0; i < a.rectangles.size(); ++i) {
    const auto& r = a.rectangles[i];
    std::printf(" rect%zu=%d:%d:%d,%d,%d,%d", i, r.color, r.pen_width, r.x, r.y, r.width, r.height);
  }
  for (size_t i = 0; i < a.texts.size(); ++i) {
    const auto& t = a.texts[i];
    std::printf(" text%zu=%d:%d,%d:%d:%s", i, t.color, t.x, t.y, t.size, JsonString(t.text).c_str());
  }
  for (size_t i = 0; i < a.region.size(); ++i) {
    const auto& r = a.region[i];
    std::printf(" region%zu=%d:%d:%d,%d", i, r.color, r.pen_width, r.x, r.y);
  }
}

}  // namespace

int RunRecords(const Args& args) {
  if (args.size() != 1) {
    std::fprintf(stderr, "usage: dravik-tool records FILE\n");
    return 2;
  }
  const std::string path(args[0]);
  OpenedRecording rec;
  if (!OpenRecording(path, false, rec)) return 1;
  qvv::GPSParse gps;
  qvv::GSensorParse sensor;
  qvv::AlgParse alg;
  qvv::ReaderPacket packet;
  for (;;) {
    const int r = rec.demuxer->ReadPacket(packet);
    if (IsEndOfReading(*rec.demuxer, r)) break;
    if (r < 0) {
      std::fprintf(stderr, "dravik-tool: %s: damaged recording: a packet could not be read (error %d)\n",
                   path.c_str(), r);
      return 1;
    }
    const qvv::AVStream* st = rec.demuxer->context().FindStream(packet.stream_index);
    if (!st || st->kind != qvv::kKindData) continue;
    const int64_t ms = qvv::av_rescale_q(packet.pts, st->time_base, {1, 1000});
    const auto name = qvv::Amf0RecordName(packet.data.get(), static_cast<size_t>(packet.size));
    if (!name) {
      std::printf("%" PRId64 " (not a record)\n", ms);
      continue;
    }
    qvv::Parse* parser = nullptr;
    if (*name == "GPS") parser = &gps;
    else if (*name == "GSensor" || *name == "otherSensors") parser = &sensor;
    else if (*name == "ALG") parser = &alg;
    std::printf("%" PRId64 " %s", ms, name->c_str());
    if (parser) {
      parser->Reset();
      const int walk = qvv::Amf0WalkAll(packet.data.get(), static_cast<size_t>(packet.size), parser);
      if (parser == &gps) PrintGps(gps);
      if (parser == &sensor) PrintSensor(sensor);
      if (parser == &alg) PrintAlg(alg.record);
      if (walk < 0) std::printf(" damaged=1");
    } else {
      std::printf(" unknown=1");
    }
    std::printf("\n");
  }
  ReportDamage(path, rec.demuxer->damage());
  return std::fflush(stdout) == 0 ? 0 : 1;
}

}  // namespace cli
