// The map view's bridge on Qt WebEngine (offscreen), on the real Leaflet page:
//   - time from the view's creation to the page's "GoogleMapOK";
//   - GPS fixes a second the view turns into script calls that the page has
//     run (three calls a fix: line, car, view), next to the same calls made
//     straight into the page with runJavaScript (no ring, no threads);
//   - what 16x play needs: a recording writes one fix a second.
//   map_bench [PAGES_FOLDER] [FIXES]
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QThread>
#include <QWebEnginePage>
#include <QWebEngineView>
#include <cstdio>
#include <cstdlib>

#include "QVVReader/Amf0Writer.h"
#include "map/CEFMapDlg.h"
#include "map/ScriptCalls.h"

namespace {

std::vector<uint8_t> Fix(double lat, double lon) {
  qvv::Amf0Writer amf;
  amf.String("GPS");
  amf.BeginArray(4);
  amf.Field("lat", lat);
  amf.Field("lon", lon);
  amf.Field("course", 90.0);
  amf.Field("carInfo", "BENCH 1");
  amf.EndArray();
  return amf.bytes();
}

// Waits (handling events) until the page's car is at `lat`.
bool WaitCarAt(QWebEnginePage* page, double lat) {
  bool there = false;
  QElapsedTimer limit;
  limit.start();
  while (!there && limit.elapsed() < 120000) {
    bool answered = false;
    page->runJavaScript("(function () { var s = window.dravikMapState && window.dravikMapState();"
                        " return s && s.car ? s.car.lat : null; })()",
                        [&](const QVariant& v) {
                          there = !v.isNull() && std::abs(v.toDouble() - lat) < 1e-7;
                          answered = true;
                        });
    while (!answered) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  }
  return there;
}

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 1);
  setenv("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu --log-level=3", 1);
  QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
  QApplication app(argc, argv);
  const std::string pages =
      argc > 1 ? argv[1] : (QCoreApplication::applicationDirPath() + "/../app/images").toStdString();
  const int fixes = argc > 2 ? std::atoi(argv[2]) : 2000;
  const std::string home = QDir::tempPath().toStdString() + "/dravik-map-bench";
  QDir().mkpath(QString::fromStdString(home));

  map::CEFMapDlg::Options o;
  o.map_type = 2;
  o.pages = pages;
  o.settings = home + "/setting.ini";
  o.state = home + "/temp.ini";
  QElapsedTimer clock;
  clock.start();
  map::CEFMapDlg map(o);
  map.resize(1000, 700);
  map.show();
  while (!map.page_ready() && clock.elapsed() < 120000) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  if (!map.page_ready()) {
    std::fprintf(stderr, "map_bench: the page %s/%s never reported ready\n", pages.c_str(),
                 map.page().toStdString().c_str());
    return 1;
  }
  std::printf("page_ready_ms=%lld\n", static_cast<long long>(clock.elapsed()));

  // Through the view: the ring, the record thread, the queued script calls.
  std::vector<std::vector<uint8_t>> records;
  for (int i = 0; i < fixes; ++i) records.push_back(Fix(22.5 + i * 1e-5, 113.9 + i * 1e-5));
  const int scripts_before = map.scripts_sent();
  clock.restart();
  for (size_t i = 0; i < records.size();) {
    if (map.PushGps(static_cast<int64_t>(i), records[i].data(), static_cast<int>(records[i].size())) == 1) ++i;
    else QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
  }
  if (!WaitCarAt(map.client().GetFirstBrowser()->page(), 22.5 + (fixes - 1) * 1e-5)) return 1;
  const double view_s = clock.elapsed() / 1000.0;
  const int scripts = map.scripts_sent() - scripts_before;

  // Straight into the page: the same calls, no ring, no threads.
  QWebEnginePage* page = map.client().GetFirstBrowser()->page();
  clock.restart();
  for (int i = 0; i < fixes; ++i) {
    const double lat = 23.5 + i * 1e-5, lon = 114.9 + i * 1e-5;
    page->runJavaScript(QString::fromStdString(map::script::DrawTrackLine("BENCH 1", lat, lon)));
    page->runJavaScript(QString::fromStdString(map::script::MoveCar("BENCH 1", lat, lon, 90)));
    page->runJavaScript(QString::fromStdString(map::script::FlyTo(lat, lon)));
  }
  if (!WaitCarAt(page, 23.5 + (fixes - 1) * 1e-5)) return 1;
  const double direct_s = clock.elapsed() / 1000.0;

  std::printf("fixes=%d scripts=%d view_seconds=%.3f fixes_per_second=%.0f scripts_per_second=%.0f\n", fixes,
              scripts, view_s, fixes / view_s, scripts / view_s);
  std::printf("direct_seconds=%.3f direct_scripts_per_second=%.0f ratio_view_to_direct=%.2f\n", direct_s,
              3 * fixes / direct_s, direct_s / view_s);
  std::printf("needed_at_16x_fixes_per_second=16 headroom=%.0fx\n", fixes / view_s / 16.0);
  return 0;
}
