#include "map/CEFMapDlg.h"

#include <QMetaObject>
#include <QResizeEvent>
#include <QShowEvent>
#include <QWebEnginePage>
#include <QWebEngineView>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "QVVReader/Amf0.h"
#include "app/AppConfig.h"
#include "map/MapDatum.h"
#include "map/ScriptCalls.h"

namespace map {
namespace {

constexpr int kIdleWaitMs = 100;
constexpr int kBackLineIdleMs = 400;     // play-back off
constexpr int kBackLineWaitingMs = 1000;  // waiting for points

bool NoFix(double latitude, double longitude) {
  return (latitude > -0.001 && latitude < 0.001) || (longitude > -0.001 && longitude < 0.001);
}

// A position a page can be given (a damaged record may carry NaN).
bool Finite(double latitude, double longitude) { return std::isfinite(latitude) && std::isfinite(longitude); }

bool IsSeek(const uint8_t* record, int size) {
  static const uint8_t kSeek[5] = {'S', 'e', 'e', 'k', 0};
  return record && size >= 5 && std::memcmp(record, kSeek, 5) == 0;
}

std::vector<std::string> Tokens(const std::string& request) {
  std::vector<std::string> tokens;
  size_t at = 0;
  for (size_t bar; (bar = request.find('|', at)) != std::string::npos; at = bar + 1)
    tokens.push_back(request.substr(at, bar - at));
  tokens.push_back(request.substr(at));
  return tokens;
}

bool ParseNumber(const std::string& text, double& out) {
  const char* end = text.data() + text.size();
  const auto r = std::from_chars(text.data(), end, out);
  return r.ec == std::errc() && r.ptr == end;
}

}  // namespace

QString CEFMapDlg::PageFor(int map_type) {
  switch (map_type) {
    case 0: return "new_Google_MapDlg.html";
    case 1: return "new_Baidu_MapDlg.html";
    case 3: return "new_Bing_MapDlg.html";
    default: return "new_Leaflet_MapDlg.html";
  }
}

CEFMapDlg::CEFMapDlg(Options options, QWidget* parent)
    : QWidget(parent), options_(std::move(options)), client_(this) {
  setObjectName("mapView");
  const app::AppConfig settings(options_.settings);
  offset_ = settings.ReadInt("Lumivex", "MapOffset", 0) != 0;
  playback_ = settings.ReadInt("Lumivex", "MapPlayBack", 0) != 0;
  page_ = PageFor(options_.map_type);
  std::error_code error;
  const auto file = std::filesystem::absolute(options_.pages / page_.toStdString(), error);
  const QString path = QString::fromStdString(file.string());
  browser_ = client_.CreateBrowser(this, QUrl::fromLocalFile(path));
  // A page that loads again says again when it is ready; until then no
  // script goes into it. A renderer that died is started again.
  connect(browser_->page(), &QWebEnginePage::loadStarted, this, [this] { page_ready_ = false; });
  connect(browser_->page(), &QWebEnginePage::loadFinished, this, [path](bool ok) {
    if (!ok) std::fprintf(stderr, "Dravik: the map page %s could not be loaded\n", path.toLocal8Bit().constData());
  });
  connect(browser_->page(), &QWebEnginePage::renderProcessTerminated, this,
          [this](QWebEnginePage::RenderProcessTerminationStatus status, int) {
            if (status != QWebEnginePage::NormalTerminationStatus && !stop_) browser_->reload();
          });
  clear_line_ = new QPushButton("Clear line", this);
  clear_line_->setObjectName("clearLine");
  clear_line_->setVisible(!playback_);
  connect(clear_line_, &QPushButton::clicked, this, [this] { clear_all_.Set(); });
  expand_ = new QPushButton("^", this);
  expand_->setObjectName("expandMap");
  expand_->setStyleSheet("background: rgb(225, 225, 225);");
  connect(expand_, &QPushButton::clicked, this, [this] {
    expanded_ = !expanded_;
    expand_->setStyleSheet(expanded_ ? "background: rgb(226, 226, 226);" : "background: rgb(225, 225, 225);");
    emit expandToggled(expanded_);
  });
  record_thread_ = std::thread([this] { RecordThread(); });
  back_line_thread_ = std::thread([this] { BackLineThread(); });
}

CEFMapDlg::~CEFMapDlg() {
  stop_ = true;
  start_.Set();
  records_waiting_.Set();
  back_line_wake_.Set();
  if (record_thread_.joinable()) record_thread_.join();
  if (back_line_thread_.joinable()) back_line_thread_.join();
}

int CEFMapDlg::PushGps(int64_t tag, const uint8_t* record, int size) {
  if (!shown_) return 1;  // nothing is kept before the map was first shown
  if (IsSeek(record, size)) {
    // Kept apart from the ring: a full ring must not lose it.
    seek_pending_ = true;
    records_waiting_.Set();
    return 1;
  }
  const int taken = ring_.Put(tag, record, size);
  if (taken) records_waiting_.Set();
  return taken;
}

int CEFMapDlg::AddTrack(uint64_t time, const uint8_t* record, int size) {
  if (time == ~uint64_t{0}) {
    const bool stored = track_.Append(TrackPoint::Separator());
    back_line_wake_.Set();
    return stored ? 1 : 0;
  }
  double latitude, longitude;
  {
    std::lock_guard lock(track_parse_lock_);
    if (!record || size <= 0 || qvv::Amf0WalkAll(record, static_cast<size_t>(size), &track_gps_) < 0) return -1;
    latitude = track_gps_.lat;
    longitude = track_gps_.lon;
    if (!Finite(latitude, longitude)) return -1;
    if (latitude == track_last_lat_ && longitude == track_last_lon_) return 0;
    track_last_lat_ = latitude;
    track_last_lon_ = longitude;
  }
  const MapPosition at = ToMapPosition(options_.map_type, offset_, latitude, longitude);
  if (!track_.Append({time, at.latitude, at.longitude})) return 0;
  back_line_wake_.Set();
  return 1;
}

void CEFMapDlg::set_track_complete(bool complete) {
  track_complete_ = complete;
  back_line_wake_.Set();
}

void CEFMapDlg::ClearTrack() {
  {
    std::lock_guard lock(track_parse_lock_);
    track_last_lat_ = track_last_lon_ = 0;
  }
  track_.Clear();
  track_complete_ = false;
  back_line_reset_.Set();
  back_line_wake_.Set();
}

void CEFMapDlg::SetMode(bool offset, bool playback) {
  offset_ = offset;
  playback_ = playback;
  clear_line_->setVisible(!playback);
  if (playback && playback_enabled) playback_enabled();
  clear_all_.Set();
  back_line_reset_.Set();
  back_line_wake_.Set();
}

platform::MsgParam CEFMapDlg::OnMessage(uint32_t message, platform::MsgParam first, platform::MsgParam second) {
  if (message == platform::msg::kMapSettings) SetMode(first != 0, second != 0);
  return 0;
}

int CEFMapDlg::ExecuteScript(std::string script) {
  if (!page_ready_) return -1;
  if (client_.browser_count() == 0) return 0;
  ++scripts_sent_;
  // Run on the window's thread, in its turn: this thread does not wait.
  QMetaObject::invokeMethod(
      this,
      [this, script = std::move(script)] {
        if (script_trace) script_trace(script);
        if (const QPointer<QWebEngineView> b = client_.GetFirstBrowser()) b->page()->runJavaScript(QString::fromStdString(script));
      },
      Qt::QueuedConnection);
  return 1;
}

void CEFMapDlg::RecordThread() {
  start_.Wait(platform::kInfinite);
  std::vector<uint8_t> record;
  int64_t tag = 0;
  platform::Event* wake[] = {&clear_all_, &records_waiting_};
  while (!stop_) {
    if (clear_all_.Wait(0)) ExecuteScript(script::ClearAllTrackLine());
    if (seek_pending_.exchange(false)) {
      // The place changed: the live line starts again (the back line of
      // play-back stays: the vehicle moves along it), and the next fix is
      // shown even where the vehicle stands.
      if (!playback_) ExecuteScript(script::ClearAllTrackLine());
      live_last_lat_ = live_last_lon_ = 0;
    }
    if (!ring_.Get(tag, record)) {
      if (platform::Event::WaitAny(wake, kIdleWaitMs) == 0) ExecuteScript(script::ClearAllTrackLine());
      continue;
    }
    if (IsSeek(record.data(), static_cast<int>(record.size()))) continue;  // (only through the flag)
    LiveFix(record);
  }
}

void CEFMapDlg::LiveFix(const std::vector<uint8_t>& record) {
  if (qvv::Amf0WalkAll(record.data(), record.size(), &live_gps_) < 0) return;
  const double latitude = live_gps_.lat, longitude = live_gps_.lon;
  if (!Finite(latitude, longitude)) return;
  if (latitude == live_last_lat_ && longitude == live_last_lon_) return;
  const MapPosition at = ToMapPosition(options_.map_type, offset_, latitude, longitude);
  const std::string& text = live_gps_.car_info;
  if (playback_) {
    ExecuteScript(script::SetPlayBackIndex(track_.MatchPlayBack(at.latitude, at.longitude)));
  } else {
    ExecuteScript(script::DrawTrackLine(text, at.latitude, at.longitude));
  }
  ExecuteScript(script::MoveCar(text, at.latitude, at.longitude, std::isfinite(live_gps_.course) ? live_gps_.course : 0));
  if (!NoFix(at.latitude, at.longitude)) ExecuteScript(script::FlyTo(at.latitude, at.longitude));
  live_last_lat_ = latitude;
  live_last_lon_ = longitude;
}

void CEFMapDlg::BackLineThread() {
  start_.Wait(platform::kInfinite);
  while (!stop_) {
    if (back_line_reset_.Wait(0)) {
      track_.ResetSent();
      ExecuteScript(script::OnlyClearLine());
    }
    if (!playback_) {
      back_line_wake_.Wait(kBackLineIdleMs);
      continue;
    }
    // Few calls for a long track: a batch once enough points wait, the rest
    // when the track is complete.
    const int pending = track_.pending();
    if (pending >= kBackLineMinimum || (track_complete_ && pending > 0)) {
      std::string text;
      {
        std::lock_guard lock(track_parse_lock_);
        text = track_gps_.car_info;
      }
      const std::string batch = track_.TakeBatch(kBackLineBatch, nullptr);
      ExecuteScript(script::CreateGpsBackLine(text, batch));
      continue;
    }
    back_line_wake_.Wait(kBackLineWaitingMs);
  }
}

bool CEFMapDlg::OnQuery(const std::string& request, std::string& answer) {
  const std::vector<std::string> tokens = Tokens(request);
  const std::string& command = tokens[0];
  answer.clear();
  if (command == "mapstateinit") {
    answer = app::AppConfig(options_.state).ReadString("GPS", "cookie", "", 1024);
  } else if (command == "mapstatesave") {
    app::AppConfig(options_.state).WriteString("GPS", "cookie", tokens.size() > 1 ? tokens[1] : "");
  } else if (command == "getGoogleMapKey") {
    answer = app::AppConfig(options_.settings).ReadString("Lumivex", "GoogleMapKey", "", 1024);
  } else if (command == "isOffset" || command == "loadanothermap") {
  } else if (command == "GoogleMapOK") {
    // A page loaded again (after a reload or a crash of its renderer) gets
    // the back line again.
    if (ever_ready_) back_line_reset_.Set();
    ever_ready_ = true;
    page_ready_ = true;
    start_.Set();
  } else if (command == "ClickLineCallBack") {
    // A seek only to a point that was stored.
    double latitude, longitude;
    TrackPoint nearest;
    if (tokens.size() >= 3 && ParseNumber(tokens[1], latitude) && ParseNumber(tokens[2], longitude) &&
        track_.Nearest(latitude, longitude, nearest) && options_.window) {
      const auto time = static_cast<int64_t>(nearest.time);
      options_.window->Post(platform::msg::kGoToTime, static_cast<platform::MsgParam>(time / 3600),
                            static_cast<platform::MsgParam>(time % 3600));
    }
  } else {
    return false;
  }
  return true;
}

void CEFMapDlg::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (!shown_) {
    shown_ = true;
    ring_.Reset();
  }
}

void CEFMapDlg::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  PlaceButtons();
}

void CEFMapDlg::PlaceButtons() {
  if (browser_) browser_->setGeometry(rect());
  clear_line_->adjustSize();
  clear_line_->move(2, height() - 60);
  clear_line_->raise();
  expand_->setGeometry(width() - 28, 4, 24, 22);
  expand_->raise();
}

}  // namespace map
