#pragma once
// The strip of playback buttons and sliders under the waveform panel. Each
// button carries its command number (the "controlId" property) and a press
// becomes command(id); the sliders report their positions.
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QWidget>
#include <map>

#include "app/LanguageResources.h"

namespace app {

namespace command {
inline constexpr int kStop = 1002;
inline constexpr int kPlay = 1003;
inline constexpr int kBackward = 1004;
inline constexpr int kFullScreen = 1005;
inline constexpr int kSingle = 1006;
inline constexpr int kEight = 1007;
inline constexpr int kSnapshot = 1008;
inline constexpr int kSecondPlay = 1009;
inline constexpr int kClose = 1010;
inline constexpr int kMaximise = 1011;
inline constexpr int kMinimise = 1012;
inline constexpr int kSettings = 1013;
inline constexpr int kSpeedSlider = 1014;
inline constexpr int kVolumeSlider = 1015;
inline constexpr int kSound = 1017;
inline constexpr int kOpenFile = 1018;
inline constexpr int kStep = 1019;
inline constexpr int kLanguage = 1020;
inline constexpr int kHelp = 1021;
inline constexpr int kMap = 1022;
inline constexpr int kSwap = 1061;
inline constexpr int kVideo = 1062;
inline constexpr int kWiden = 1063;
inline constexpr int kNarrow = 1064;
inline constexpr int kNine = 1141;
inline constexpr int kTwelve = 1142;
inline constexpr int kFour = 1149;
inline constexpr int kPreviousPage = 1150;
inline constexpr int kNextPage = 1151;
inline constexpr int kProperty = 32781;  // the list menu's "Property"
}  // namespace command

// "1/16", "1/8", "1/4", "1/2", "x1", "x2", "x4", "x8", "x16" for positions 0 .. 8.
QString SpeedLabel(int position);

class ControlStrip : public QWidget {
  Q_OBJECT

 public:
  explicit ControlStrip(QWidget* parent = nullptr);

  QPushButton* button(int id) const;
  QSlider* speed() const { return speed_; }
  QSlider* volume() const { return volume_; }
  // The play button shows "pause" while playing forward (state 1), the
  // backward button while playing backward (state 3).
  void SetPlayState(int state);
  void SetMuted(bool muted);
  void SetSpeedPosition(int position);
  // The tooltips from the language file.
  void ReloadTexts(const LanguageResources& languages);

 signals:
  void command(int id);
  void speedChanged(int position);
  void volumeChanged(int position);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QPushButton* AddButton(int id, const QString& text);
  QIcon BackwardIcon() const;

  std::map<int, QPushButton*> buttons_;
  QSlider* speed_;
  QLabel* speed_label_;
  QSlider* volume_;
};

}  // namespace app
