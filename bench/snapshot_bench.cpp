// Snapshot colour conversion: our YUV 4:2:0 -> bottom-up BGR of one frame next
// to libswscale's YUV420P -> BGR24 on the same frame, written bottom-up too
// (negative stride), with bicubic and point filters.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

extern "C" {
#include <libavutil/pixfmt.h>
#include <libswscale/swscale.h>
}

#include "engine/ACSnapshotFilter.h"

namespace {

std::vector<uint8_t> Frame(int width, int height) {
  std::vector<uint8_t> yuv(engine::Yuv420Bytes(width, height));
  uint32_t seed = 1;
  for (auto& b : yuv) b = static_cast<uint8_t>((seed = seed * 1664525u + 1013904223u) >> 24);
  return yuv;
}

void BM_SnapshotConvert(benchmark::State& state) {
  const int w = static_cast<int>(state.range(0)), h = static_cast<int>(state.range(1));
  const auto yuv = Frame(w, h);
  const size_t stride = engine::BmpRowBytes(w);
  std::vector<uint8_t> out(stride * static_cast<size_t>(h));
  for (auto _ : state) {
    engine::ConvertYuv420ToBgrBottomUp(yuv.data(), w, h, out.data(), stride);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SnapshotConvert)->Args({1280, 720})->Args({1920, 1080})->Unit(benchmark::kMicrosecond);

void SwscaleBgr(benchmark::State& state, int flags) {
  const int w = static_cast<int>(state.range(0)), h = static_cast<int>(state.range(1));
  const auto yuv = Frame(w, h);
  const int stride = static_cast<int>(engine::BmpRowBytes(w));
  std::vector<uint8_t> out(static_cast<size_t>(stride) * static_cast<size_t>(h));
  SwsContext* sws = sws_getContext(w, h, AV_PIX_FMT_YUV420P, w, h, AV_PIX_FMT_BGR24, flags, nullptr, nullptr, nullptr);
  if (!sws) {
    state.SkipWithError("sws_getContext failed");
    return;
  }
  const uint8_t* src[3] = {yuv.data(), yuv.data() + static_cast<size_t>(w) * h,
                           yuv.data() + static_cast<size_t>(w) * h + static_cast<size_t>(w / 2) * (h / 2)};
  const int src_stride[3] = {w, w / 2, w / 2};
  uint8_t* dst[1] = {out.data() + static_cast<size_t>(stride) * (h - 1)};  // last row first
  const int dst_stride[1] = {-stride};
  for (auto _ : state) {
    sws_scale(sws, src, src_stride, 0, h, dst, dst_stride);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  sws_freeContext(sws);
  state.SetItemsProcessed(state.iterations());
}

void BM_SwscaleBicubic(benchmark::State& state) { SwscaleBgr(state, SWS_BICUBIC); }
void BM_SwscalePoint(benchmark::State& state) { SwscaleBgr(state, SWS_POINT); }
BENCHMARK(BM_SwscaleBicubic)->Args({1280, 720})->Args({1920, 1080})->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SwscalePoint)->Args({1280, 720})->Args({1920, 1080})->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
