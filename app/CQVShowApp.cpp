#include "app/CQVShowApp.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPixmap>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "app/CQVShowDlg.h"
#include "map/CEFMapDlg.h"
#include "playback/SensorWorker.h"
#include "cli/play/PlaybackStatistics.h"
#include "platform/Sleeper.h"

namespace app {
namespace {

void PrintPlayStats(cli::Statistics& stats) {
  std::vector<int> listed;
  for (int c = 0; c < playback::kChannels; ++c)
    if (stats.Shown(c) > 0) listed.push_back(c);
  int64_t skew = 0;
  for (const cli::ChannelReport& r : stats.Reports(listed)) {
    std::printf("channel=%d shown=%d first=%lld last=%lld max_skew_ms=%lld\n", r.channel + 1, r.shown,
                static_cast<long long>(r.first), static_cast<long long>(r.last), static_cast<long long>(r.max_skew_ms));
    skew = std::max(skew, r.max_skew_ms);
  }
  std::printf("channels=%zu max_skew_ms=%lld\n", listed.size(), static_cast<long long>(skew));
  std::fflush(stdout);
}

// With --screenshot: grabs `window` after the delay into the PNG, prints its
// path and quits (status 1 when it cannot be written).
void ScheduleScreenshot(const CommandLine& command_line, QWidget* window, int& status) {
  if (command_line.screenshot.empty()) return;
  QTimer::singleShot(static_cast<int>(command_line.after_seconds * 1000), window, [&command_line, window, &status] {
    const QPixmap picture = window->grab();
    if (picture.isNull() || !picture.save(QString::fromStdString(command_line.screenshot), "PNG")) {
      std::fprintf(stderr, "Dravik: cannot write the screenshot %s\n", command_line.screenshot.c_str());
      status = 1;
    } else {
      std::printf("%s\n", command_line.screenshot.c_str());
      std::fflush(stdout);
    }
    QCoreApplication::exit(status);
  });
}

}  // namespace
namespace {
CQVShowApp* g_instance = nullptr;
}  // namespace

CQVShowApp::CQVShowApp(CommandLine command_line, MessageBoxes* messages, ProcessLauncher* launcher)
    : command_line_(std::move(command_line)),
      messages_(messages ? messages : &own_messages_),
      launcher_(launcher ? launcher : &own_launcher_) {
  g_instance = this;
}

CQVShowApp::~CQVShowApp() {
  main_window_.reset();
  automation_.Unregister();
  if (g_instance == this) g_instance = nullptr;
}

CQVShowApp* CQVShowApp::Instance() { return g_instance; }

bool CQVShowApp::Configure() {
  home_ = ChooseHomeForThisProcess(command_line_.home);
  if (home_.folder.empty()) {
    // Installed, and no home folder anywhere: the program's own folder is
    // not written, so there is nowhere for its settings.
    std::fprintf(stderr,
                 "Dravik: no folder for the settings: set HOME or XDG_CONFIG_HOME, or name one with --home FOLDER\n");
    return false;
  }
  config_ = AppConfig(home_.folder / AppConfig::kFileName);
  if (!config_.EnsureExists()) messages_->ShowMessageBox(LanguageResources::kNoPermission);
  languages_ = std::make_unique<LanguageResources>(home_.folder, config_, messages_);
  languages_->Select();
  map_type_ = config_.ReadInt("Lumivex", "MapType", 2);
  switches_.Load(config_);
  switches_.Apply();
  return true;
}

int CQVShowApp::RunMapDemo() {
  // Only the map, fed with the GPS records of one recording, ten a second:
  // the records as the sensor worker reads them for the track.
  struct Records : playback::MapSink {
    void PushGpsRecord(const uint8_t*, int, int64_t) override {}
    void AddTrackPoint(const uint8_t* record, int size, int64_t) override {
      if (record && size > 0) list.emplace_back(record, record + size);
    }
    std::vector<std::vector<uint8_t>> list;
  } gps;
  bool opened = false;
  {
    playback::SensorWorker reader(gps, [&opened](int, bool ok) { opened = ok; });
    reader.ReadAll({command_line_.map_demo});
  }
  if (!opened) {
    std::fprintf(stderr, "Dravik: %s: not a recording that can be read\n", command_line_.map_demo.c_str());
    return 1;
  }
  const std::vector<std::vector<uint8_t>>& records = gps.list;
  map::CEFMapDlg::Options o;
  o.map_type = map_type_;
  o.pages = MapPagesFolder();
  o.settings = config_.Path();
  o.state = home_.folder / "temp.ini";
  map::CEFMapDlg map(o);
  map.setWindowTitle(QString("Dravik map: %1").arg(QString::fromStdString(command_line_.map_demo)));
  map.resize(1000, 700);
  map.show();
  std::printf("map demo: %zu GPS records\n", records.size());
  std::fflush(stdout);
  size_t next = 0;
  QTimer feed;
  QObject::connect(&feed, &QTimer::timeout, [&] {
    // A full ring (the page not ready yet) takes the record at the next tick.
    if (next < records.size() && map.PushGps(static_cast<int64_t>(next), records[next].data(),
                                             static_cast<int>(records[next].size())) == 1)
      ++next;
  });
  feed.start(100);
  int status = 0;
  ScheduleScreenshot(command_line_, &map, status);
  const int loop = QApplication::exec();
  return status ? status : loop;
}

int CQVShowApp::Run() {
  if (!command_line_.map_demo.empty()) return RunMapDemo();
  // A second instance, or no session bus: the service is simply not offered.
  automation_.Register();
  main_window_ = std::make_unique<CQVShowDlg>(*this);
  if (command_line_.activated()) {
    main_window_->set_hide_on_close(true);
    QApplication::setQuitOnLastWindowClosed(false);
  }
  // Pictures counted as the play threads show them, for benchmarks.
  static platform::SystemTimeSource clock;
  std::unique_ptr<cli::Statistics> stats;
  if (command_line_.play_stats) {
    stats = std::make_unique<cli::Statistics>(clock, -1);
    main_window_->engine().filter()->SetObserver(stats.get());
  }
  main_window_->show();
  // The scan's benchmark: how long the folder takes to list, and the longest
  // time the window's thread did not get to a 5 ms timer meanwhile.
  QElapsedTimer scan_clock, since_tick;
  QTimer stall_probe;
  qint64 longest_stall_ms = 0;
  if (command_line_.scan_stats) {
    stall_probe.setInterval(5);
    QObject::connect(&stall_probe, &QTimer::timeout, [&] {
      longest_stall_ms = std::max(longest_stall_ms, since_tick.restart() - 5);
    });
    QObject::connect(&main_window_->scan(), &ScanWorker::finished, main_window_.get(), [&] {
      const qint64 ms = scan_clock.elapsed();
      std::printf("scan_seconds=%.3f recordings=%d longest_stall_ms=%lld\n", static_cast<double>(ms) / 1000.0,
                  main_window_->recordings()->model_rows().size(), static_cast<long long>(longest_stall_ms));
      std::fflush(stdout);
      QCoreApplication::exit(0);
    });
  }
  if (!command_line_.path.empty()) {
    QTimer::singleShot(0, main_window_.get(), [&] {
      scan_clock.start();
      since_tick.start();
      if (command_line_.scan_stats) stall_probe.start();
      main_window_->PlayPath(QString::fromStdString(command_line_.path));
    });
  }
  int status = 0;
  ScheduleScreenshot(command_line_, main_window_.get(), status);
  const int loop = QApplication::exec();
  if (status == 0) status = loop;
  main_window_->engine().Destroy();
  if (stats) PrintPlayStats(*stats);
  if (main_window_->engine().threads_left()) (void)stats.release();  // a play thread may still report to it
  main_window_.reset();
  automation_.Unregister();
  return status;
}

void CQVShowApp::ExitInstance() {
  if (!restart_) return;
  QStringList arguments;
  // A home chosen on the command line is kept: the new instance must read the
  // same setting.ini.
  if (home_.chosen_explicitly) arguments << "--home" << QString::fromStdString(home_.folder.string());
  RestartProgram(*launcher_, QCoreApplication::applicationFilePath(), arguments, *messages_);
}

}  // namespace app
