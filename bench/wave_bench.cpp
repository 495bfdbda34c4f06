// The bottom panel under 16x play and beyond: a reader-like thread hands
// G-sensor records to the panel at a fixed rate while the window's thread
// drains and draws them; how many the panel drops at each rate, and the
// paint time of the panel with a full waveform. A recording writes ten
// G-sensor records a second: 16x play is 160 a second.
//   wave_bench [SECONDS_PER_RATE]
#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QPainter>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "QVVReader/Amf0Writer.h"
#include "views/CWaveDlg.h"

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  const double seconds = argc > 1 ? std::atof(argv[1]) : 2.0;
  qvv::Amf0Writer amf;
  amf.String("GSensor");
  amf.BeginArray(5);
  amf.Field("x", 0.1);
  amf.Field("y", -0.05);
  amf.Field("z", 1.0);
  amf.Field("temperature", 36.5);
  amf.Field("speed", 50.0);
  amf.EndArray();
  const std::vector<uint8_t> record = amf.bytes();

  for (const int rate : {160, 1600, 16000}) {
    views::CWaveDlg panel(nullptr, nullptr);
    panel.resize(1208, 160);
    panel.show();
    std::atomic<bool> done{false};
    std::atomic<int> sent{0};
    std::thread reader([&] {
      const auto start = std::chrono::steady_clock::now();
      const auto step = std::chrono::nanoseconds(1000000000LL / rate);
      for (int i = 0; std::chrono::steady_clock::now() - start < std::chrono::duration<double>(seconds); ++i) {
        std::this_thread::sleep_until(start + step * i);
        panel.PushRecord(record.data(), static_cast<int>(record.size()), 1000LL * i / 10 + i);
        sent.fetch_add(1);
      }
      done = true;
    });
    while (!done) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    reader.join();
    panel.Drain();
    std::printf("rate=%d records/s sent=%d drawn=%d dropped=%d\n", rate, sent.load(),
                std::min(sent.load(), panel.scope()->sampleCount()), panel.records_dropped());
  }
  // The paint of the whole panel with a full waveform.
  views::CWaveDlg panel(nullptr, nullptr);
  panel.resize(1208, 160);
  for (int i = 0; i < 22501; ++i) {
    panel.PushRecord(record.data(), static_cast<int>(record.size()), i * 100);
    if (i % 25 == 24) panel.Drain();
  }
  panel.Drain();
  QImage image(panel.size(), QImage::Format_RGB32);
  QElapsedTimer clock;
  clock.start();
  const int paints = 200;
  for (int i = 0; i < paints; ++i) {
    panel.scope()->update();
    panel.render(&image);
  }
  std::printf("panel_paint_ms=%.2f (1208 x 160, full ring)\n", clock.nsecsElapsed() / 1e6 / paints);
  return 0;
}
