// How fast each reader crosses damaged data, next to how fast it reads the
// same recording intact: a 32 MB recording per container, read from memory,
// once as written and once with 32 MB of noise (with stray tag-like bytes)
// in its middle. MB/s count every byte of the file.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

#include "QVVReader/AviDemuxer.h"
#include "QVVReader/AviWriter.h"
#include "QVVReader/FlvDemuxer.h"
#include "QVVReader/FlvWriter.h"
#include "QVVReader/FourCC.h"
#include "QVVReader/QvvDemuxer.h"
#include "QVVReader/QvvWriter.h"

namespace {

constexpr int kFrames = 1600;        // 64 s at 25 fps
constexpr size_t kFrameBytes = 20000;  // 4 Mbit/s
constexpr size_t kNoiseBytes = size_t{32} << 20;

std::vector<uint8_t> Payload(int frame) {
  std::vector<uint8_t> p(kFrameBytes);
  uint32_t lcg = static_cast<uint32_t>(frame) * 2654435761u + 1;
  for (auto& b : p) b = static_cast<uint8_t>((lcg = lcg * 1664525u + 1013904223u) >> 24);
  p[0] = 0;
  p[1] = 0;
  p[2] = 1;
  p[3] = frame % 25 == 0 ? 0x67 : 0x41;
  return p;
}

std::string Slurp(const std::filesystem::path& path) {
  std::string bytes(std::filesystem::file_size(path), '\0');
  FILE* f = std::fopen(path.c_str(), "rb");
  if (f) {
    bytes.resize(std::fread(bytes.data(), 1, bytes.size(), f));
    std::fclose(f);
  }
  std::filesystem::remove(path);
  return bytes;
}

std::filesystem::path TempFile(const char* name) {
  std::string folder = "dravik-damage-bench-";
  folder += std::to_string(::getpid());
  const auto dir = std::filesystem::temp_directory_path() / folder;
  std::filesystem::create_directories(dir);
  return dir / name;
}

std::string WriteQvv() {
  const auto path = TempFile("20240102030405_1000.qvv");
  qvv::QvvFileConfig config;
  config.video = 1;
  config.streams.push_back({0, 28, 1280, 720, 25, 4000, 0, 0, 0});
  qvv::QvvWriter w;
  w.Open(path.string(), config);
  for (int f = 0; f < kFrames; ++f) {
    const auto p = Payload(f);
    w.WriteVideo(0, static_cast<uint32_t>(f * 40000), f % 25 == 0, p.data(), p.size());
  }
  w.Finish(kFrames * 40);
  return Slurp(path);
}

std::string WriteAvi() {
  const auto path = TempFile("20240102030405_0001_01.avi");
  qvv::AviClipStream video;
  video.kind = 0;
  video.codec_tag = qvv::FourCC("H264");
  video.time_base = {1, 25};
  video.width = 1280;
  video.height = 720;
  video.format = qvv::AviWriter::BitmapInfoHeader(1280, 720, video.codec_tag);
  qvv::AviWriter w;
  w.Begin(path.string(), {video}, 0);
  for (int f = 0; f < kFrames; ++f) {
    const auto p = Payload(f);
    w.WritePacket(0, f, f % 25 == 0, p.data(), p.size());
  }
  w.Finish();
  return Slurp(path);
}

std::string WriteFlv() {
  const auto path = TempFile("20240102030405_0001_01.flv");
  qvv::FlvConfig config;
  config.width = 1280;
  config.height = 720;
  qvv::FlvWriter w;
  w.Open(path.string(), config);
  for (int f = 0; f < kFrames; ++f) {
    const auto p = Payload(f);
    w.WriteVideo(static_cast<uint32_t>(f * 40), 0, f % 25 == 0, p.data(), p.size());
  }
  w.Finish();
  return Slurp(path);
}

// Noise inserted at a frame boundary near the middle: `tag_start` finds one.
std::string Damaged(std::string bytes, size_t at) {
  std::mt19937 rng(42);
  std::string noise(kNoiseBytes, '\0');
  for (auto& c : noise) c = static_cast<char>(rng());
  // Stray tag-like bytes of every container, as real payloads have them.
  for (size_t i = 0; i + 16 < noise.size(); i += 4093) noise.replace(i, 3, std::string("\x01\xff\x09", 3));
  for (size_t i = 2000; i + 16 < noise.size(); i += 8191) noise.replace(i, 4, "00dc");
  bytes.insert(at, noise);
  return bytes;
}

template <typename D>
void ReadAll(benchmark::State& state, const std::string& bytes, const char* name) {
  int64_t packets = 0;
  for (auto _ : state) {
    qvv::ByteIOContext* pb = qvv::url_open_memory(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    D demuxer;
    if (demuxer.Open(pb, name) == 0) {
      qvv::ReaderPacket packet;
      while (demuxer.ReadPacket(packet) >= 0) ++packets;
    }
    qvv::url_fclose(pb);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes.size()));
  state.counters["packets"] = static_cast<double>(packets) / static_cast<double>(state.iterations());
}

const std::string& Qvv() {
  static const std::string bytes = WriteQvv();
  return bytes;
}
const std::string& Avi() {
  static const std::string bytes = WriteAvi();
  return bytes;
}
const std::string& Flv() {
  static const std::string bytes = WriteFlv();
  return bytes;
}

void BM_QvvIntact(benchmark::State& s) { ReadAll<qvv::QvvDemuxer>(s, Qvv(), "20240102030405_1000.qvv"); }
void BM_QvvDamaged(benchmark::State& s) {
  static const std::string bytes = Damaged(Qvv(), Qvv().find(std::string("\x01\xff\x09", 3), Qvv().size() / 2) - 4);
  ReadAll<qvv::QvvDemuxer>(s, bytes, "20240102030405_1000.qvv");
}
void BM_AviIntact(benchmark::State& s) { ReadAll<qvv::AviDemuxer>(s, Avi(), "20240102030405_0001_01.avi"); }
void BM_AviDamaged(benchmark::State& s) {
  static const std::string bytes = Damaged(Avi(), Avi().find("00dc", Avi().size() / 2));
  ReadAll<qvv::AviDemuxer>(s, bytes, "20240102030405_0001_01.avi");
}
void BM_FlvIntact(benchmark::State& s) { ReadAll<qvv::FlvDemuxer>(s, Flv(), "20240102030405_0001_01.flv"); }
// The first FLV tag (its PreviousTagSize field) at or after `from`, walked by the tag sizes.
size_t FlvTagAfter(const std::string& bytes, size_t from) {
  size_t at = 9;
  while (at < from && at + 15 <= bytes.size()) {
    const auto* p = reinterpret_cast<const uint8_t*>(bytes.data()) + at;
    at += 15 + ((size_t{p[5]} << 16) | (size_t{p[6]} << 8) | p[7]);
  }
  return at;
}
void BM_FlvDamaged(benchmark::State& s) {
  static const std::string bytes = Damaged(Flv(), FlvTagAfter(Flv(), Flv().size() / 2));
  ReadAll<qvv::FlvDemuxer>(s, bytes, "20240102030405_0001_01.flv");
}

BENCHMARK(BM_QvvIntact)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_QvvDamaged)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AviIntact)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AviDamaged)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FlvIntact)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FlvDamaged)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
