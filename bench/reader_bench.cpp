// The QVV reader from page cache: forward MB/s next to a plain read() loop over
// the same file in the same run, reverse MB/s, and the median seek latency to
// 20 random seconds. The file (1 GiB by default; DRAVIK_BENCH_QVV_MB sets the
// size) is written once to the temporary folder and removed at the end.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <vector>

#include "QVVReader/QvvDemuxer.h"
#include "QVVReader/QvvWriter.h"

namespace {

constexpr int kChannels = 4;
constexpr int kFps = 25;
constexpr int kFrameBytes = 20000;  // 4 Mbit/s a channel

struct SampleFile {
  std::filesystem::path path;
  int64_t bytes = 0;
  int seconds = 0;

  SampleFile() {
    const char* mb_env = std::getenv("DRAVIK_BENCH_QVV_MB");
    const int64_t target = (mb_env ? std::atoll(mb_env) : 1024) << 20;
    std::string folder = "dravik-bench-";  // appended piecewise: GCC 12 warns falsely on "literal" + string
    folder += std::to_string(::getpid());
    path = std::filesystem::temp_directory_path() / folder / "20240102030405_1000.qvv";
    std::filesystem::create_directories(path.parent_path());
    qvv::QvvFileConfig config;
    config.video = kChannels;
    for (int i = 0; i < kChannels; ++i) config.streams.push_back({0, 28, 1280, 720, kFps, 4000, 0, 0, 0});
    qvv::QvvWriter writer;
    writer.Open(path.string(), config);
    std::vector<uint8_t> payload(kFrameBytes);
    uint32_t lcg = 7;
    for (auto& b : payload) b = static_cast<uint8_t>((lcg = lcg * 1664525u + 1013904223u) >> 24);
    int64_t written = 0;
    int frame = 0;
    for (; written < target; ++frame) {
      for (int c = 0; c < kChannels; ++c) {
        payload[0] = static_cast<uint8_t>(frame);
        writer.WriteVideo(static_cast<uint32_t>(c), static_cast<uint32_t>(frame * (1000000 / kFps)), frame % kFps == 0,
                          payload.data(), payload.size());
        written += kFrameBytes + 20;
      }
    }
    seconds = frame / kFps;
    writer.Finish(static_cast<int64_t>(seconds) * 1000);
    bytes = static_cast<int64_t>(std::filesystem::file_size(path));
  }
  ~SampleFile() {
    std::error_code ec;
    std::filesystem::remove_all(path.parent_path(), ec);
  }
};

SampleFile& File() {
  static SampleFile file;
  return file;
}

void BM_PlainReadLoop(benchmark::State& state) {
  auto& f = File();
  std::vector<uint8_t> buffer(1 << 16);
  for (auto _ : state) {
    const int fd = ::open(f.path.c_str(), O_RDONLY);
    int64_t total = 0;
    ssize_t n;
    while ((n = ::read(fd, buffer.data(), buffer.size())) > 0) total += n;
    ::close(fd);
    benchmark::DoNotOptimize(total);
  }
  state.SetBytesProcessed(state.iterations() * f.bytes);
}

void BM_QvvForward(benchmark::State& state) {
  auto& f = File();
  int64_t packets = 0;
  for (auto _ : state) {
    qvv::ByteIOContext* pb = qvv::url_open_file(f.path.c_str(), qvv::kUrlReadOnly);
    qvv::QvvDemuxer demuxer;
    demuxer.Open(pb, f.path.string());
    qvv::ReaderPacket packet;
    while (demuxer.ReadPacket(packet) >= 0) ++packets;
    qvv::url_fclose(pb);
  }
  state.SetBytesProcessed(state.iterations() * f.bytes);
  state.counters["packets/s"] = benchmark::Counter(static_cast<double>(packets), benchmark::Counter::kIsRate);
}

void BM_QvvReverse(benchmark::State& state) {
  auto& f = File();
  for (auto _ : state) {
    qvv::ByteIOContext* pb = qvv::url_open_file(f.path.c_str(), qvv::kUrlReadOnly);
    qvv::QvvDemuxer demuxer;
    demuxer.OpenReverse(pb, f.path.string());
    qvv::ReaderPacket packet;
    while (demuxer.ReadPacketReverse(packet) >= 0) {
    }
    qvv::url_fclose(pb);
  }
  state.SetBytesProcessed(state.iterations() * f.bytes);
}

void BM_QvvSeekLatency(benchmark::State& state) {
  auto& f = File();
  std::mt19937 rng(42);
  std::uniform_int_distribution<int> second(1, std::max(1, f.seconds - 1));
  std::vector<double> latencies;
  qvv::ByteIOContext* pb = qvv::url_open_file(f.path.c_str(), qvv::kUrlReadOnly);
  qvv::QvvDemuxer demuxer;
  demuxer.Open(pb, f.path.string());
  demuxer.ReadLeadingMetadata();
  qvv::ReaderPacket packet;
  for (auto _ : state) {
    latencies.clear();
    for (int i = 0; i < 20; ++i) {
      const auto t0 = std::chrono::steady_clock::now();
      demuxer.Seek(static_cast<int64_t>(second(rng)) * 1000000 + 500000);
      demuxer.ReadPacket(packet);
      latencies.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - t0).count());
    }
  }
  qvv::url_fclose(pb);
  std::sort(latencies.begin(), latencies.end());
  state.counters["median_us"] = latencies[latencies.size() / 2];
  state.counters["max_us"] = latencies.back();
}

}  // namespace

BENCHMARK(BM_PlainReadLoop)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_QvvForward)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_QvvReverse)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_QvvSeekLatency)->Unit(benchmark::kMillisecond)->Iterations(1);

BENCHMARK_MAIN();
