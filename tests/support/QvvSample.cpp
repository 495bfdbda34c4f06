#include "tests/support/QvvSample.h"

#include <stdexcept>

#include "tests/support/Process.h"

#include "QVVReader/Amf0Writer.h"
#include "QVVReader/ByteIO.h"
#include "QVVReader/FlvDemuxer.h"
#include "QVVReader/QvvDemuxer.h"

namespace testing_support {

std::vector<uint8_t> GpsRecord(double lat, double lon, double speed, const std::string& car_info) {
  qvv::Amf0Writer amf;
  amf.String("GPS");
  amf.BeginArray(6);
  amf.Field("mode", 3);
  amf.Field("lat", lat);
  amf.Field("lon", lon);
  amf.Field("speed", speed);
  amf.Field("sat_used", 7);
  amf.Field("carInfo", car_info);
  amf.EndArray();
  return amf.bytes();
}

std::vector<WrittenPacket> WriteQvvSample(const std::filesystem::path& path, const QvvSampleOptions& o) {
  qvv::QvvFileConfig config;
  config.long_header = o.long_header;
  config.video = o.video;
  config.audio = o.audio;
  config.data = o.data;
  config.start_time = 1700000000;
  config.bus_number = "BUS-42";
  for (int i = 0; i < o.video; ++i) config.streams.push_back({0, 28, 640, 360, o.fps, 512, 0, 0, 0});
  for (int i = 0; i < o.audio; ++i) config.streams.push_back({1, 0x11000, 0, 0, 0, 0, 8000, 16, 1});
  for (int i = 0; i < o.data; ++i) config.streams.push_back({2, 0, 0, 0, 0, 0, 0, 0, 0});

  qvv::QvvWriter writer;
  if (writer.Open(path.string(), config) < 0) throw std::runtime_error("cannot write " + path.string());
  uint32_t lcg = o.seed * 2654435761u + 12345;
  auto next = [&] { return lcg = lcg * 1664525u + 1013904223u; };
  std::vector<WrittenPacket> written;
  const int frames = o.seconds * o.fps;
  const int64_t frame_us = 1000000 / o.fps;
  for (int f = 0; f < frames; ++f) {
    const int64_t pts = f * frame_us;
    for (int v = 0; v < o.video; ++v) {
      WrittenPacket p{v, 0, pts + v * 1000, f % o.gop == 0 && f >= o.first_key_frame, {}};
      size_t size = static_cast<size_t>(o.payload_min + next() % static_cast<uint32_t>(o.payload_max - o.payload_min));
      if (o.size_trend > 0) size = size * static_cast<size_t>(1 + 8 * f / frames);
      if (o.size_trend < 0) size = size * static_cast<size_t>(1 + 8 * (frames - 1 - f) / frames);
      if (p.key && o.key_frame_size > 0) size = static_cast<size_t>(o.key_frame_size);
      p.payload.resize(size);
      for (auto& b : p.payload) b = static_cast<uint8_t>(next() >> 24);
      writer.WriteVideo(static_cast<uint32_t>(v), static_cast<uint32_t>(p.pts_us), p.key, p.payload.data(), p.payload.size());
      written.push_back(std::move(p));
    }
    for (int a = 0; a < o.audio; ++a) {
      WrittenPacket p{o.video + a, 1, pts, true, std::vector<uint8_t>(88, static_cast<uint8_t>(f))};
      writer.WriteAudio(static_cast<uint32_t>(o.video + a), static_cast<uint32_t>(pts), 0x12, p.payload.data(), p.payload.size());
      written.push_back(std::move(p));
    }
    if (o.data > 0 && f % o.fps == 0) {
      WrittenPacket p{o.video + o.audio, 2, pts, true, GpsRecord(22.5 + f * 1e-4, 114.0, 40.0 + f, "B-12345")};
      writer.WriteRecord(static_cast<uint32_t>(o.video + o.audio), static_cast<uint32_t>(pts), p.payload.data(), p.payload.size());
      written.push_back(std::move(p));
    }
  }
  if (writer.Finish(static_cast<int64_t>(o.seconds) * 1000) < 0) throw std::runtime_error("cannot finish " + path.string());
  return written;
}

std::vector<VideoPacket> ReadQvvVideoPackets(const std::string& path) {
  std::vector<VideoPacket> out;
  qvv::ByteIOContext* pb = qvv::url_open_file(path.c_str(), qvv::kUrlReadOnly);
  if (!pb) return out;
  qvv::QvvDemuxer demuxer;
  if (demuxer.Open(pb, path) == 0) {
    qvv::ReaderPacket p;
    while (demuxer.ReadPacket(p) >= 0) {
      const auto* st = demuxer.context().FindStream(p.stream_index);
      if (st && st->kind == qvv::kKindVideo) out.push_back({p.stream_index, p.pts, {p.data.get(), p.data.get() + p.size}});
    }
  }
  qvv::url_fclose(pb);
  return out;
}

FlvVideo MakeFlvVideo(const std::filesystem::path& dir, const std::string& tool) {
  FlvVideo video;
  std::string out;
  if (RunShell(tool + " mksample '" + dir.string() +
                   "' --format flv --channels 1 --seconds 1 --groups 1 --width 160 --height 96 --audio none",
               &out) != 0)
    return video;
  const std::string file = out.substr(0, out.find('\n'));
  qvv::ByteIOContext* pb = qvv::url_open_file(file.c_str(), qvv::kUrlReadOnly);
  if (pb == nullptr) return video;
  qvv::FlvDemuxer demuxer;
  if (demuxer.Open(pb, file) == 0) {
    demuxer.ReadLeadingMetadata();  // the sequence header comes before the first picture
    video.extradata = demuxer.extradata(0);
    qvv::ReaderPacket packet;
    while (demuxer.ReadPacket(packet) >= 0) {
      if (packet.stream_index == 0)
        video.packets.push_back({0, packet.pts, std::vector<uint8_t>(packet.data.get(), packet.data.get() + packet.size)});
    }
  }
  qvv::url_fclose(pb);
  return video;
}

}  // namespace testing_support
