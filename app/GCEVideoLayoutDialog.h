#pragma once
// The pane container: twelve channel panes in a display order, laid out as
// an even grid or one large pane with small ones around it, one of them
// maximised (single view), on two pages with four panes; panes swap by
// dragging, full screen detaches the container onto the whole screen. It
// tells the main window what happens through window messages (1135 a pane
// was selected, 1150 the audio channel, 1164 a channel's properties, 1165
// play or pause) and asks it for the channel counts (1130, 1131).
#include <QMenu>
#include <QWidget>
#include <array>
#include <functional>
#include <string>

#include "app/GCEVideoDialog.h"
#include "app/PaneGeometry.h"
#include "platform/MessageSink.h"

namespace app {

class AppConfig;

class GCEVideoLayoutDialog : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kMuted = -10;

  // `owner` receives the messages (may be null); `config` gives and keeps
  // "AudioChannel" (may be null).
  GCEVideoLayoutDialog(platform::MessageSink* owner, const AppConfig* config, QWidget* parent = nullptr);
  ~GCEVideoLayoutDialog() override;

  GCEVideoDialog* pane(int channel) const { return panes_[static_cast<size_t>(channel)]; }
  // The pane at a display position.
  GCEVideoDialog* PaneAt(int position) const { return pane(order_[static_cast<size_t>(position)]); }
  int PositionOf(int channel) const;
  int channel_count() const { return channel_count_; }

  // Layouts: a count of 1, 4, 6, 8, 9, 10, 12, 13, 16, 17, 25 or 36 (anything
  // else is 4). Clears the maximised pane.
  void SetLayoutByCount(int count);
  PaneLayout layout() const { return layout_; }
  int maximised() const { return maximised_; }
  int first_position() const { return first_; }

  void SelectChannel(int channel);
  int selected_channel() const { return selected_; }
  // The single-view button: the next channel when one is maximised already;
  // then the selected channel's pane is maximised.
  void ShowSingle();
  void ToggleMaximise(int position);
  // The page buttons.
  void PreviousPage();
  void NextPage();
  // Swaps the pane of `channel` with the one under `global`; a point outside
  // every pane changes nothing. True when it swapped.
  bool DropPane(int channel, QPoint global);
  void RestoreDefaultOrder();

  void EnterFullScreen();
  void LeaveFullScreen();
  bool full_screen() const { return full_screen_; }

  // 0 .. 7, or kMuted.
  void SelectAudioChannel(int channel);
  int audio_channel() const { return audio_channel_; }

  // Close and Open of the pane menu.
  void SetChannelClosed(int channel, bool closed);
  bool channel_closed(int channel) const { return closed_[static_cast<size_t>(channel)]; }
  // Whether a recording of the list plays on the channel ("Property").
  void SetChannelHasRecording(int channel, bool has);
  bool channel_has_recording(int channel) const { return has_recording_[static_cast<size_t>(channel)]; }

  // The pane menu of `channel`, filled for the current state and language.
  void FillMenuFor(int channel, QMenu* menu) const;
  // Carries out a PaneMenuCommand for `channel`.
  void RunMenuCommand(int channel, int command);
  std::function<std::string()> language_name;

  void Relayout();

 signals:
  void channelClosedChanged(int channel, bool closed);
  void fullScreenChanged(bool full_screen);

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void Post(uint32_t message, platform::MsgParam first);
  void OpenMenu(int channel, QPoint global);

  platform::MessageSink* owner_;
  const AppConfig* config_;
  std::array<GCEVideoDialog*, kPanes> panes_{};
  std::array<int, kPanes> order_{};          // display position -> channel
  std::array<int, kPanes> default_order_{};  // channel i at position i
  std::array<bool, kPanes> closed_{};
  std::array<bool, kPanes> has_recording_{};
  int channel_count_ = kPanes;
  PaneLayout layout_{1, 4};
  int maximised_ = -1;
  int first_ = 0;
  int selected_ = 0;
  int audio_channel_ = 0;
  bool full_screen_ = false;
  QRect saved_rect_;
  QWidget* saved_parent_ = nullptr;
  QMenu menu_;
};

}  // namespace app
