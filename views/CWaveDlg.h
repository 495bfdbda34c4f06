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
//
// The cut buttons mark a stretch of the recording on the position slider
// ("SetCutPoit" twice, "DelCutPoit" drops the last point) and "CutVideo"
// asks where the clips go, names them in the readers' output slots and
// tells the window to export the stretch (1157).
#include <QPushButton>
#include <QTimer>
#include <QWidget>
#include <array>
#include <functional>
#include <optional>
#include <vector>

#include "QVVReader/RecordParsers.h"
#include "app/AppConfig.h"
#include "controls/CDVRCalendarCtrl.h"
#include "controls/COScopeCtrl.h"
#include "map/ACAMFDataList.h"
#include "platform/MessageSink.h"
#include "playback/RecordSinks.h"
#include "playback/PlaybackControl.h"
#include "views/CutPoints.h"
#include "views/PositionBar.h"

class QDialog;
namespace app {
class LanguageResources;
}

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

  // The recording that plays, for the cut buttons: the record types of each
  // channel's file (none: no file for that channel), and whether it is an MP4.
  struct CutRecording {
    std::array<std::optional<uint32_t>, playback::kChannels> types{};
    bool mp4 = false;
  };
  // A new recording: its cut points start afresh.
  void SetCutRecording(const CutRecording& recording);
  void SetLanguages(const app::LanguageResources* languages) { languages_ = languages; }
  void SetCutPoint();     // 1103
  void DeleteCutPoint();  // 1104
  void CutVideo();        // 1105
  const CutPoints& cut_points() const { return cut_; }
  // A clip's default name: the recorder's pattern with the start's date and
  // time, the four record-type digits and the channel number (1 .. 12).
  static QString ClipName(int64_t start_seconds, uint32_t type_mask, int channel_number);
  // Runs the save dialog (tests answer it themselves).
  std::function<int(QDialog&)> run_dialog;
  // Shows a message (the window's message boxes).
  std::function<void(const QString&)> tell;

  controls::COScopeCtrl* scope() const { return scope_; }
  controls::CDVRCalendarCtrl* calendar() const { return calendar_; }
  PositionBar* position_bar() const { return position_; }
  QPushButton* button(int id) const;
  int records_dropped() const { return dropped_.load(); }

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  void Place();
  void Tell(const QString& text);
  QRect CutStrip() const;

  const app::AppConfig* config_;
  platform::MessageSink* window_;
  const app::LanguageResources* languages_ = nullptr;
  CutPoints cut_;
  CutRecording cut_recording_;
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
