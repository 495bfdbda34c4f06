// The analysis overlay's per-picture costs at 720p: drawing a typical record
// (done once per record) and blending the drawn overlay into a frame (done for
// every picture within the record's 260 ms).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "engine/AlgOverlay.h"
#include "engine/GuiForDrawing.h"

namespace {

// What the recorder sends for a busy scene: a few tracked points, boxes
// around objects, the lane region and two labels, in its 1920 x 1080 space.
qvv::AlgProtocol TypicalRecord() {
  qvv::AlgProtocol r;
  r.circles = {{3, 8, 400, 600}, {1, 8, 900, 620}, {4, 12, 1300, 580}, {0, 6, 1600, 700}};
  r.rectangles = {{1, 3, 300, 450, 260, 200}, {2, 3, 820, 480, 180, 150}, {3, 2, 1250, 470, 300, 240}};
  r.region = {{4, 4, 200, 1000}, {0, 4, 860, 560}, {0, 4, 1060, 560}, {0, 4, 1720, 1000}};
  r.texts = {{0, "CAR 0.93", 300, 410, 2048}, {1, "PERSON 0.71", 1250, 430, 2048}};
  engine::Scale(r, 1280, 720);
  return r;
}

void BM_DrawBitmap720p(benchmark::State& state) {
  if (!engine::EnsureGuiForDrawing()) state.SkipWithError("no QGuiApplication: texts would not be drawn");
  const qvv::AlgProtocol record = TypicalRecord();
  engine::OverlayPicture picture;
  for (auto _ : state) {
    engine::DrawBitmap(record, picture);
    benchmark::DoNotOptimize(picture.data());
  }
}
BENCHMARK(BM_DrawBitmap720p)->Unit(benchmark::kMicrosecond);

void BM_BlendOverlay720p(benchmark::State& state) {
  engine::EnsureGuiForDrawing();
  engine::OverlayPicture picture;
  engine::DrawBitmap(TypicalRecord(), picture);
  std::vector<uint8_t> frame(1280 * 720 * 3 / 2, 100);
  for (auto _ : state) {
    engine::BlendOverlay(picture, frame.data(), 1280, 720);
    benchmark::DoNotOptimize(frame.data());
  }
}
BENCHMARK(BM_BlendOverlay720p)->Unit(benchmark::kMicrosecond);

// The same overlay without its run list (as after writing through data()):
// the blend scans all 2.7 MB.
void BM_BlendOverlayScan720p(benchmark::State& state) {
  engine::EnsureGuiForDrawing();
  engine::OverlayPicture picture;
  engine::DrawBitmap(TypicalRecord(), picture);
  picture.data();
  std::vector<uint8_t> frame(1280 * 720 * 3 / 2, 100);
  for (auto _ : state) {
    engine::BlendOverlay(picture, frame.data(), 1280, 720);
    benchmark::DoNotOptimize(frame.data());
  }
}
BENCHMARK(BM_BlendOverlayScan720p)->Unit(benchmark::kMicrosecond);

// The worst case for the blend: every overlay pixel coloured; listed as runs
// (range(0) = 1) or scanned.
void BM_BlendOverlayFull720p(benchmark::State& state) {
  engine::OverlayPicture picture;
  picture.Resize(1280, 720);
  for (int y = 0; y < 720; ++y) {
    uint8_t* row = picture.data() + static_cast<size_t>(y) * picture.stride();
    for (int x = 0; x < 1280; ++x) row[3 * x] = row[3 * x + 1] = row[3 * x + 2] = 0xFF;
  }
  if (state.range(0)) picture.Index();
  std::vector<uint8_t> frame(1280 * 720 * 3 / 2, 100);
  for (auto _ : state) {
    engine::BlendOverlay(picture, frame.data(), 1280, 720);
    benchmark::DoNotOptimize(frame.data());
  }
}
BENCHMARK(BM_BlendOverlayFull720p)->Arg(1)->Arg(0)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
