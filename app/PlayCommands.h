#pragma once
// The operator's play commands over the recording list: which group plays
// (the playback request built from the list's rows), and the play state
//   0 stopped, 1 playing, 2 paused, 3 playing backward, 4 paused backward
// that play, backward, pause, seek, stop, step and second play move between.
#include <QObject>
#include <QString>
#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "app/PlayerEngine.h"
#include "app/RecordingGroup.h"
#include "app/RecordingList.h"

namespace app {

enum PlayState { kStateStopped = 0, kStatePlaying = 1, kStatePaused = 2, kStateBackward = 3, kStateBackwardPaused = 4 };

// What the list gives a reader: the group's files by channel, the list row
// that feeds each channel (-1: none) when the request was made, and that row's
// record (kept: later rows shift the list).
struct PlayRequest {
  RecordingGroup group;
  std::array<int, playback::kChannels> rows;
  std::array<std::shared_ptr<const RecordingRow>, playback::kChannels> records;
  // The rows that feed it, in list order.
  std::vector<int> members() const;
};

// Whose time stamps the clock follows: the group choice takes the first row
// with a length (".flv": the chosen row); play takes the chosen row.
enum class MainChannelRule { kGroupChoice, kChosenRow };

// The request of `row`'s group: a ".qvv" row alone, otherwise every row of
// the same type and start time, each at its channel.
PlayRequest RequestForRow(const RecordingListModel& list, int row, MainChannelRule rule);

class PlayCommands : public QObject {
  Q_OBJECT

 public:
  // `tell` shows a text of the language file (by key) or, with `literal`, as it stands.
  using Tell = std::function<void(const QString& text, bool literal)>;
  PlayCommands(PlayerEngine& engine, RecordingList& list, Tell tell, QObject* parent = nullptr);

  int state() const { return state_; }
  const std::optional<PlayRequest>& request() const { return request_; }
  int main_channel() const { return request_ ? request_->group.main_channel : -1; }

  // Plays `row`'s group (double click, the calendar, the end of the previous
  // group), `offset_seconds` into it. False when nothing could be started.
  bool ChooseGroup(int row, int offset_seconds = 0);
  void Play();          // play, or pause while playing forward
  void Backward();      // backward, or pause while playing backward
  void Stop();
  void Step();
  void SecondPlay();
  void PauseRequest();  // from the waveform panel
  void Seek(int seconds);
  // Exports the stretch from `start` to `end` (seconds), playing it forward.
  void Export(int start, int end);
  // The first row after the selected ones; false at the end of the list.
  bool PlayNextGroup();
  // The command line's file, once the scan listed it: false when it is not listed.
  bool PlayListedFile(const std::string& path);
  // The reader says the recording ended; the next group follows.
  void RecordingEnded();
  // The list was emptied: stopped, and nothing of it is kept.
  void Forget();

 signals:
  void stateChanged(int state);
  // A new request is playing (the window marks the panes that have a recording).
  void requestStarted(const app::PlayRequest& request);

 private:
  // The request of the first selected row (the first row when none is
  // selected); nothing on an empty list or when its files are missing.
  std::optional<PlayRequest> RequestFromSelection();
  bool Check(const PlayRequest& request);
  bool Start(const PlayRequest& request, int offset_seconds, bool reverse);
  // The same files as the request playing now.
  bool IsCurrent(const PlayRequest& request) const;
  void SetState(int state);

  PlayerEngine& engine_;
  RecordingList& list_;
  Tell tell_;
  std::optional<PlayRequest> request_;
  int state_ = kStateStopped;
};

}  // namespace app
