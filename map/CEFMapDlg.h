#pragma once
// The map view: a local map page in an embedded browser, fed with the GPS
// records the reader threads find while a recording plays. Each new fix moves
// the vehicle and extends the live line (live mode); in play-back mode the
// whole track of the list goes to the page in advance as a back line and the
// vehicle moves along it. A click on the back line asks the window to seek to
// the nearest point's time.
//
// Threads: the reader threads call PushGpsRecord (a ring of 30 records), the
// sensor worker calls AddTrackPoint (the track), the record thread turns
// records into script calls, the back-line thread sends the track in batches.
// Script calls are queued to the window's thread, which runs them in the page;
// no thread here waits for the window's thread. The page's queries arrive on
// the window's thread.
#include <QPushButton>
#include <QWidget>
#include <atomic>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "QVVReader/RecordParsers.h"
#include "map/ACAMFDataList.h"
#include "map/ACGPSDataList.h"
#include "map/CEFSimpleHandler.h"
#include "platform/Event.h"
#include "platform/MessageSink.h"
#include "playback/RecordSinks.h"

class QWebEngineView;

namespace map {

class CEFMapDlg : public QWidget, public playback::MapSink, public QueryHandler {
  Q_OBJECT

 public:
  static constexpr int kDialogNumber = 290;
  static constexpr int kClearLineId = 1059;
  static constexpr int kExpandId = 1060;
  static constexpr int kBackLineBatch = 249;    // points a call at most
  static constexpr int kBackLineMinimum = 248;  // points waiting before a call (unless the track is complete)

  struct Options {
    int map_type = 2;                       // 0 Google, 1 Baidu, 2 OpenStreetMap, 3 Bing; others: OpenStreetMap
    std::filesystem::path pages;            // the folder of the pages ("images" beside the program)
    std::filesystem::path settings;         // "setting.ini": MapOffset, MapPlayBack, GoogleMapKey
    std::filesystem::path state;            // "temp.ini": the page's saved view
    platform::MessageSink* window = nullptr;  // gets the seek to a clicked point (1160)
  };

  explicit CEFMapDlg(Options options, QWidget* parent = nullptr);
  ~CEFMapDlg() override;

  // The page of a map type ("new_Leaflet_MapDlg.html", ...).
  static QString PageFor(int map_type);

  // A GPS record (or the 5-byte "Seek") with the caller's tag: 1 taken (a
  // record too long for a slot is dropped; nothing is kept before the map
  // was first shown), 0 the ring is full.
  int PushGps(int64_t tag, const uint8_t* record, int size);
  // A point of the whole track at `time` (the name's start counted as UTC
  // plus the record's second);
  // time all ones: a separator. 1 stored, 0 the same place again (or no
  // room), -1 not a GPS record.
  int AddTrack(uint64_t time, const uint8_t* record, int size);
  // The settings changed: map offset and play-back mode.
  void SetMode(bool offset, bool playback);
  // The window's messages to the map: 1151 (0x47F) sets the mode (first
  // the offset switch, second the play-back switch). 0.
  platform::MsgParam OnMessage(uint32_t message, platform::MsgParam first, platform::MsgParam second);
  void set_track_complete(bool complete);
  // A new list: the track is forgotten and the page's back line cleared.
  void ClearTrack();
  // Told when play-back mode is switched on (the window then builds the track).
  std::function<void()> playback_enabled;

  // The reader threads' and the sensor worker's side.
  void PushGpsRecord(const uint8_t* record, int size, int64_t time_ms) override { PushGps(time_ms, record, size); }
  void AddTrackPoint(const uint8_t* record, int size, int64_t time_seconds) override {
    AddTrack(static_cast<uint64_t>(time_seconds), record, size);
  }
  bool OnQuery(const std::string& request, std::string& answer) override;

  bool page_ready() const { return page_ready_; }
  bool playback_mode() const { return playback_; }
  bool offset_mode() const { return offset_; }
  const QString& page() const { return page_; }
  ACGPSDataList& track() { return track_; }
  ACAMFDataList& ring() { return ring_; }
  CEFSimpleHandler& client() { return client_; }
  QPushButton* clear_line_button() const { return clear_line_; }
  // Script calls queued for the page so far.
  int scripts_sent() const { return scripts_sent_; }
  // Sees every script as it goes into the page (window's thread).
  std::function<void(const std::string&)> script_trace;

 signals:
  void expandToggled(bool expanded);

 protected:
  void showEvent(QShowEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  // -1 the page is not ready, 0 no browser, 1 queued.
  int ExecuteScript(std::string script);
  void RecordThread();
  void BackLineThread();
  void LiveFix(const std::vector<uint8_t>& record);
  void PlaceButtons();

  Options options_;
  CEFSimpleHandler client_;
  QWebEngineView* browser_ = nullptr;
  QPushButton* clear_line_ = nullptr;
  QPushButton* expand_ = nullptr;
  QString page_;
  ACAMFDataList ring_;
  ACGPSDataList track_;
  platform::Event clear_all_{platform::Event::Mode::AutoReset};
  platform::Event back_line_reset_{platform::Event::Mode::AutoReset};
  platform::Event start_{platform::Event::Mode::ManualReset};
  platform::Event records_waiting_{platform::Event::Mode::AutoReset};
  std::atomic<bool> stop_{false};
  std::atomic<bool> page_ready_{false};
  bool ever_ready_ = false;  // the window's thread
  std::atomic<bool> seek_pending_{false};
  std::atomic<bool> shown_{false};
  std::atomic<bool> offset_{false};
  std::atomic<bool> playback_{false};
  std::atomic<bool> track_complete_{false};
  std::atomic<int> scripts_sent_{0};
  platform::Event back_line_wake_{platform::Event::Mode::AutoReset};
  bool expanded_ = false;
  // The live path's and the track builder's own parsers and last places: they
  // run on different threads.
  qvv::GPSParse live_gps_, track_gps_;
  double live_last_lat_ = 0, live_last_lon_ = 0;
  std::mutex track_parse_lock_;
  double track_last_lat_ = 0, track_last_lon_ = 0;
  std::thread record_thread_, back_line_thread_;
};

}  // namespace map
