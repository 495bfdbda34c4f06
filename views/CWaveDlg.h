#pragma once
// The bottom panel of the main window: the position slider with the play
// time, and above it the G-sensor waveform or the recording calendar
// ("G-sensor" / "Calendar"), with the places of the cut buttons.
//
// The reader threads hand sensor records to a ring of 30 (PushRecord; a full
// ring refuses, nothing waits); the window's thread takes them every 20 ms and
// adds a sample a "GSensor" record to the waveform, which it draws. "Clear"
// (a seek) and a record earlier than the last (play went back) start the
// waveform again.
#include <QPushButton>
#include <QTimer>
#include <QWidget>
#include <vector>

#include "QVVReader/RecordParsers.h"
#include "app/AppConfig.h"
#include "controls/CDVRCalendarCtrl.h"
#include "controls/COScopeCtrl.h"
#include "map/ACAMFDataList.h"
#include "platform/MessageSink.h"
#include "playback/RecordSinks.h"
#include "views/PositionBar.h"

namespace views {

class CWaveDlg : public QWidget, public playback::WaveSink {
  Q_OBJECT

 public:
  static constexpr int kDialogNumber = 176;
  static constexpr int kGSensorId = 1101, kCalendarId = 1102, kSetCutId = 1103, kDeleteCutId = 1104, kCutVideoId = 1105;
  enum Mode { kWaveform = 0, kCalendar = 1 };

  // `config`: "setting.ini" (the waveform's units); `window` gets the
  // panel's messages (1152 "Calendar" and double click, 1165 Space, 1156 a
  // calendar click).
  CWaveDlg(const app::AppConfig* config, platform::MessageSink* window, QWidget* parent = nullptr);
  ~CWaveDlg() override;

  // The reader threads' side (any thread).
  void PushRecord(const uint8_t* record, int size, int64_t absolute_ms) override;
  void SetStartTime(int64_t start_seconds) override;

  // The list's recordings, after every scan: start, length, channels, types, row record.
  struct Segment {
    int64_t start, duration;
    uint32_t channel_mask, type_mask;
    const void* row;
  };
  void FillCalendar(const std::vector<Segment>& segments);
  // The play position (seconds into the recording) and the recording's length.
  void SetPosition(int seconds, int total_seconds);
  void ClearPosition();
  void SetMode(Mode mode);
  Mode mode() const { return mode_; }
  // Takes what waits in the ring now (the timer does it every 20 ms).
  void Drain();

  controls::COScopeCtrl* scope() const { return scope_; }
  controls::CDVRCalendarCtrl* calendar() const { return calendar_; }
  PositionBar* position_bar() const { return position_; }
  QPushButton* button(int id) const;
  int records_dropped() const { return dropped_.load(); }

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void Place();

  platform::MessageSink* window_;
  controls::COScopeCtrl* scope_;
  controls::CDVRCalendarCtrl* calendar_;
  PositionBar* position_;
  std::vector<QPushButton*> buttons_;
  map::ACAMFDataList ring_;
  QTimer drain_;
  qvv::GSensorParse sensor_;  // the window's thread
  int64_t last_ms_ = INT64_MIN;
  int64_t file_start_ = 0;
  std::atomic<int64_t> start_pending_{INT64_MIN};
  std::atomic<int> dropped_{0};
  Mode mode_ = kWaveform;
};

}  // namespace views
