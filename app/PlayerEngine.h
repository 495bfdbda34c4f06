#pragma once
// The playback engine behind the main window, created in this order: the
// volume and mute controls (ALSA; the window runs without them), the snapshot
// filter, the playback filter with the twelve pane surfaces, the audio player
// (one channel, 8000 samples a second, 16 bits) and the playback clock. The
// reader threads are created on first use. Torn down in the close order:
// reader threads (quit, 500 ms each), clock, filter, audio player, snapshot
// filter, mixer controls.
//
// Everything here is called on the window's thread; the engine's threads
// report through the MessageSink (posted, never waited for).
#include <array>
#include <memory>
#include <optional>

#include "app/RecordingGroup.h"
#include "engine/ACAudioPlayer.h"
#include "engine/ACMovieFilter.h"
#include "engine/ACPlayClock.h"
#include "engine/ACSnapshotFilter.h"
#include "engine/mutecontrol.h"
#include "engine/volumcontrol.h"
#include "platform/MessageSink.h"
#include "platform/Surface.h"
#include "playback/ReaderThread.h"
#include "playback/RecordSinks.h"

namespace app {

class PlayerEngine {
 public:
  using Surfaces = std::array<platform::Surface*, playback::kChannels>;

  // `window` gets the clock's and readers' messages; `views` the sensor
  // records (null: none).
  PlayerEngine(platform::MessageSink* window, playback::MapSink* map, playback::WaveSink* wave);
  ~PlayerEngine();
  PlayerEngine(const PlayerEngine&) = delete;
  PlayerEngine& operator=(const PlayerEngine&) = delete;

  // The mixer controls: speakers first, then headphones. False without them.
  bool OpenMixer();
  bool has_mute() const { return mute_ && mute_->IsOpen(); }
  bool has_volume() const { return volume_ && volume_->IsOpen(); }
  // 0 .. 65535; -1 without a volume control.
  int Volume();
  void SetVolume(int value);
  // True when the mute control took it.
  bool SetMuted(bool muted);

  // Creates the engine with the panes' surfaces; false when the filter's
  // threads did not start.
  bool Create(const Surfaces& surfaces);
  // The close order; safe to call twice. Afterwards threads_left() says
  // whether an engine thread did not end in time (it may still use the
  // surfaces and the window's message queue, which must then be kept).
  void Destroy();
  bool threads_left() const { return threads_left_; }
  bool created() const { return filter_ != nullptr; }

  // A new request: the group plays from its start (or `offset_seconds`),
  // forward or backward. The readers open it afresh; its pictures are held
  // until every channel has some (then the clock plays; see Tick).
  bool PlayGroup(const RecordingGroup& group, int offset_seconds = 0, bool reverse = false);
  // The window's timer: releases a held start once the decoders are ready
  // (or after 5 s). Returns true while a start is still held.
  bool Tick();
  // The last start ended without playing: the reader could not open the recording.
  bool start_failed() const { return start_failed_; }
  bool playing() const { return state_ == State::kPlaying || state_ == State::kStarting; }
  bool paused() const { return state_ == State::kPaused; }
  bool stopped() const { return state_ == State::kIdle; }
  // A new request's pictures are still held.
  bool starting() const { return state_ == State::kStarting; }
  bool has_group() const { return group_.has_value(); }
  const std::optional<RecordingGroup>& group() const { return group_; }

  // The current request plays on, forward or backward (from `seek_seconds`
  // when given).
  void Resume(bool reverse, std::optional<int> seek_seconds = std::nullopt);
  void Pause();
  // Readers flush and wait; the next play opens the recording afresh.
  void Stop();
  // Stopped, and the request is no more (its list went).
  void Forget();
  // One picture on (the reader opens the request when it has none open).
  void Step();
  // Key frames only, one a second of recording.
  void SecondPlay();
  // Seconds into the recording; plays on in the direction it was going.
  void SeekTo(int seconds);
  // Plays forward from `start` while the readers write the channels named
  // in the output slots into clips, until `end` (seconds into the recording).
  void Export(int start, int end);
  // An export waits for its seek or writes its clips.
  bool exporting() const;
  // The readers complete the clips they have (at their next packet).
  void CancelExport();
  // The position from the clock's reports (seconds into the recording).
  void set_position(int seconds) { position_ = seconds; }
  int position() const { return position_; }
  // The speed slider: 0 .. 8, 4 is normal (factor 2^position).
  void SetSpeedPosition(int position);
  int speed_position() const { return speed_position_; }
  void SetAudioChannel(int channel);
  void SetChannelClosed(int channel, bool closed);
  // Asks the snapshot filter for the channel's next picture.
  void Snapshot(int channel);

  engine::ACMovieFilter* filter() { return filter_.get(); }
  engine::ACSnapshotFilter* snapshots() { return snapshots_.get(); }
  engine::ACAudioPlayer* audio() { return audio_.get(); }
  engine::ACPlayClock* clock() { return clock_.get(); }

 private:
  enum class State { kIdle, kStarting, kPlaying, kPaused };
  playback::ReaderThread* ReaderFor(playback::Container type);
  void StopReaders();
  // Ends a reader thread: 500 ms, then as long as an engine call it may be
  // in can take; one that still runs is left with its object.
  void EndReader(size_t type);
  // The request's reader runs and its source is on.
  void WakeReader();

  platform::MessageSink* window_;
  playback::MapSink* map_;
  playback::WaveSink* wave_;
  std::unique_ptr<engine::volumcontrol> volume_;
  std::unique_ptr<engine::mutecontrol> mute_;
  std::unique_ptr<engine::ACSnapshotFilter> snapshots_;
  std::unique_ptr<engine::ACMovieFilter> filter_;
  std::unique_ptr<engine::ACAudioPlayer> audio_;
  std::unique_ptr<engine::ACPlayClock> clock_;
  engine::ACParam param_;
  std::array<std::unique_ptr<playback::ReaderThread>, 4> readers_;
  std::optional<RecordingGroup> group_;
  State state_ = State::kIdle;
  uint32_t start_tick_ = 0;
  int position_ = 0;
  int speed_position_ = 4;
  bool threads_left_ = false;
  bool start_failed_ = false;
};

}  // namespace app
