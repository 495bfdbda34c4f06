// What drawing a channel's picture into its pane costs: a new 1280 x 720
// picture into a 640 x 360 pane on the bitmap path (the default) and on the
// surface path, next to a single libswscale YUV420P -> BGRA scale of the same
// frame to the pane's size, the least any drawing has to do. The counter
// `core_pct_12x25` is the share of one core (per cent) that 12 channels at 25
// pictures a second would take.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "engine/ImplACVirtualMovie.h"

extern "C" {
#include <libswscale/swscale.h>
}

namespace {

constexpr int kW = 1280, kH = 720, kPaneW = 640, kPaneH = 360;

// A picture with some detail (scaling flat colour is cheaper than real footage).
std::vector<uint8_t> Frame() {
  std::vector<uint8_t> p(static_cast<size_t>(kW * kH * 3 / 2));
  uint32_t s = 1;
  for (auto& b : p) {
    s = s * 1664525u + 1013904223u;
    b = static_cast<uint8_t>(s >> 24);
  }
  return p;
}

struct NullPane : platform::Surface {
  platform::Size ClientSize() const override { return {kPaneW, kPaneH}; }
  void Present(const platform::Picture& p, const platform::Rect&) override { benchmark::DoNotOptimize(p.pixels); }
  void Erase(std::span<const platform::Rect>) override {}
};

// Per cent of one core: the time a picture takes, 300 times a second.
void Report(benchmark::State& state) {
  state.counters["core_pct_12x25"] = benchmark::Counter(static_cast<double>(state.iterations()) / 30000.0,
                                                        benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_Movie(benchmark::State& state, int mode) {
  const auto frame = Frame();
  NullPane pane;
  engine::ImplACVirtualMovie movie;
  movie.Open(&pane);
  movie.SetShowMode(mode);
  int64_t t = 40;
  for (auto _ : state) movie.ShowPicture(frame.data(), t += 40, kW, kH, 0);  // a new picture each time
  Report(state);
}

void BM_SwscaleToBgra(benchmark::State& state) {
  const auto frame = Frame();
  std::vector<uint8_t> out(static_cast<size_t>(kPaneW * kPaneH * 4));
  SwsContext* sws = sws_getContext(kW, kH, AV_PIX_FMT_YUV420P, kPaneW, kPaneH, AV_PIX_FMT_BGRA, SWS_BICUBIC, nullptr,
                                   nullptr, nullptr);
  const uint8_t* src[4] = {frame.data(), frame.data() + kW * kH, frame.data() + kW * kH * 5 / 4, nullptr};
  const int src_stride[4] = {kW, kW / 2, kW / 2, 0};
  uint8_t* dst[4] = {out.data(), nullptr, nullptr, nullptr};
  const int dst_stride[4] = {kPaneW * 4, 0, 0, 0};
  for (auto _ : state) sws_scale(sws, src, src_stride, 0, kH, dst, dst_stride);
  sws_freeContext(sws);
  Report(state);
}

BENCHMARK_CAPTURE(BM_Movie, bitmap_path, engine::ImplACVirtualMovie::kShowBitmap)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_Movie, surface_path, engine::ImplACVirtualMovie::kShowSurfaces)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SwscaleToBgra)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
