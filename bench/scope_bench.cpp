// The G-sensor scope at the bottom panel's width (1208 x 150 pixels) with a
// full ring of 22501 samples, painted into an image (offscreen):
//   - Paint: the layers are up to date, only composed and the legend written;
//   - NewSampleThenPaint: one sample added, then painted (one scroll of the
//     plot layer and three short segments), the steady state of play;
//   - FullRedrawThenPaint: the layers built again, as on a size, colour or
//     range change (grid, then every visible sample of the ring);
//   - SamplesWhilePainting25Fps: samples added as fast as the control takes
//     them while it is painted every 40 ms; samples_per_s is what it takes.
// Goal: a repaint within 4 ms.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <cmath>
#include <cstdlib>
#include <memory>

#include "controls/COScopeCtrl.h"

namespace {

constexpr int kWidth = 1208;
constexpr int kHeight = 150;

// The panel's look, and a ring filled with a drive's readings.
std::unique_ptr<controls::COScopeCtrl> FullScope() {
  auto scope = std::make_unique<controls::COScopeCtrl>();
  scope->resize(kWidth, kHeight);
  scope->SetRange(-2.0, 2.0, 1);
  scope->SetBackgroundColor(QColor(0x18, 0x40, 0x44));
  scope->SetGridColor(QColor(0xC0, 0xC0, 0xFF));
  scope->SetTraceColors(Qt::white, Qt::red, Qt::green);
  for (int i = 0; i < controls::COScopeCtrl::kRingSize; ++i)
    scope->AddSample(int64_t{i} * 100, 0.3 * std::sin(i * 0.05), 0.2 * std::cos(i * 0.03), 1.0 + 0.1 * std::sin(i * 0.7),
                     25.0, 60.0);
  return scope;
}

QImage Target() { return QImage(kWidth, kHeight, QImage::Format_RGB32); }

void Paint(benchmark::State& state) {
  auto scope = FullScope();
  QImage image = Target();
  scope->render(&image);
  for (auto _ : state) {
    scope->render(&image);
    benchmark::DoNotOptimize(image.constBits());
  }
}
BENCHMARK(Paint)->Unit(benchmark::kMillisecond);

void NewSampleThenPaint(benchmark::State& state) {
  auto scope = FullScope();
  QImage image = Target();
  scope->render(&image);
  int64_t i = controls::COScopeCtrl::kRingSize;
  for (auto _ : state) {
    scope->AddSample(i * 100, 0.3 * std::sin(i * 0.05), -0.1, 1.0, 25.0, 60.0);
    ++i;
    scope->render(&image);
    benchmark::DoNotOptimize(image.constBits());
  }
}
BENCHMARK(NewSampleThenPaint)->Unit(benchmark::kMillisecond);

void FullRedrawThenPaint(benchmark::State& state) {
  auto scope = FullScope();
  QImage image = Target();
  bool flip = false;
  for (auto _ : state) {
    scope->SetGridColor(flip ? QColor(0xC0, 0xC0, 0xFF) : QColor(0xC0, 0xC1, 0xFF));
    flip = !flip;
    scope->render(&image);
    benchmark::DoNotOptimize(image.constBits());
  }
}
BENCHMARK(FullRedrawThenPaint)->Unit(benchmark::kMillisecond);

// One iteration is one frame of 40 ms: a paint, then samples until the frame ends.
void SamplesWhilePainting25Fps(benchmark::State& state) {
  auto scope = FullScope();
  QImage image = Target();
  int64_t i = controls::COScopeCtrl::kRingSize;
  double samples = 0;
  double paint_ns = 0;
  for (auto _ : state) {
    QElapsedTimer frame;
    frame.start();
    scope->render(&image);
    paint_ns += static_cast<double>(frame.nsecsElapsed());
    while (frame.nsecsElapsed() < 40'000'000) {
      for (int k = 0; k < 64; ++k, ++i) scope->AddSample(i * 100, 0.3 * std::sin(i * 0.05), -0.1, 1.0, 25.0, 60.0);
      samples += 64;
    }
  }
  state.counters["samples_per_s"] = benchmark::Counter(samples, benchmark::Counter::kIsRate);
  state.counters["paint_ms"] = paint_ns / 1e6 / static_cast<double>(state.iterations());
}
BENCHMARK(SamplesWhilePainting25Fps)->Iterations(50)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
