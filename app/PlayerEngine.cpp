#include "app/PlayerEngine.h"

#include <cstdio>
#include <cstdlib>
#include <thread>

#include "engine/EngineGlobals.h"
#include "engine/MixerMapping.h"
#include "platform/TickCount.h"
#include "playback/ChannelFilesReaderThread.h"
#include "playback/QvvReaderThread.h"

namespace app {
namespace {

constexpr uint32_t kPrerollLimitMs = 5000;
constexpr int kReaderQuitWaitMs = 500;
// A reader may be inside an engine call that waits (a full ring takes a
// marker within 2 s): it is given that long before it is left running.
constexpr int kReaderLateQuitWaitMs = 2500;

}  // namespace

PlayerEngine::PlayerEngine(platform::MessageSink* window, playback::MapSink* map, playback::WaveSink* wave)
    : window_(window), map_(map), wave_(wave) {}

PlayerEngine::~PlayerEngine() { Destroy(); }

bool PlayerEngine::OpenMixer() {
  mute_ = std::make_unique<engine::mutecontrol>();
  int destination = engine::mixer::kSpeakers;
  if (mute_->Open(nullptr, destination, -1) != engine::mutecontrol::kOk) {
    destination = engine::mixer::kHeadphones;
    if (mute_->Open(nullptr, destination, -1) != engine::mutecontrol::kOk) mute_.reset();
  }
  volume_ = std::make_unique<engine::volumcontrol>();
  if (!volume_->Open(nullptr, destination, -1, engine::mixer::kVolumeControl)) volume_.reset();
  return mute_ || volume_;
}

int PlayerEngine::Volume() {
  uint32_t left = 0, right = 0;
  if (!volume_ || volume_->GetVolume(&left, &right) != 1) return -1;
  return static_cast<int>(std::max(left, right));
}

void PlayerEngine::SetVolume(int value) {
  if (volume_) volume_->SetVolume(static_cast<uint32_t>(value), static_cast<uint32_t>(value));
}

bool PlayerEngine::SetMuted(bool muted) { return mute_ && mute_->SetMute(muted ? 1 : 0); }

bool PlayerEngine::Create(const Surfaces& surfaces) {
  if (filter_) return true;
  param_ = engine::ACParam{};
  param_.channel_count = playback::kChannels;
  for (size_t i = 0; i < surfaces.size(); ++i) param_.windows[i] = surfaces[i];
  param_.owner = window_;
  param_.audio_channels = 1;
  snapshots_ = std::make_unique<engine::ACSnapshotFilter>();
  snapshots_->InitSnapshot(&param_);
  filter_ = std::make_unique<engine::ACMovieFilter>();
  const bool started = filter_->InitFilter(&param_) != 0;
  filter_->SetFilter(snapshots_.get());
  audio_ = std::make_unique<engine::ACAudioPlayer>();
  // A WAV file instead of the sound card, for checks of what the window plays.
  platform::SoundDeviceOptions device;
  if (const char* wav = std::getenv("DRAVIK_AUDIO_WAV")) device.wav_path = wav;
  if (const char* driver = std::getenv("DRAVIK_AUDIO_DRIVER")) device.driver = driver;
  audio_->SetDeviceOptions(device);
  if (audio_->OpenOutput(window_ ? static_cast<const void*>(window_) : this, 1, 8000, 16)) audio_->StartOutput();
  clock_ = std::make_unique<engine::ACPlayClock>(window_);
  clock_->Start(filter_.get(), audio_.get());
  return started;
}

playback::ReaderThread* PlayerEngine::ReaderFor(playback::Container type) {
  auto& reader = readers_[static_cast<size_t>(type)];
  if (!reader) {
    const playback::EngineTargets targets{filter_.get(), audio_.get(), clock_.get(), map_, wave_, window_, {}};
    if (type == playback::Container::Qvv) reader = std::make_unique<playback::QvvReaderThread>(targets);
    else reader = std::make_unique<playback::ChannelFilesReaderThread>(type, targets);
  }
  if (!reader->running()) reader->Start();
  return reader.get();
}

void PlayerEngine::EndReader(size_t type) {
  std::unique_ptr<playback::ReaderThread>& reader = readers_[type];
  if (!reader) return;
  reader->RequestStop();
  if (reader->Join(kReaderQuitWaitMs) || reader->Join(kReaderLateQuitWaitMs)) {
    reader.reset();
    return;
  }
  // Still running: its object stays with it (never freed under it).
  reader->Stop(0);
  (void)reader.release();
  threads_left_ = true;
}

void PlayerEngine::StopReaders() {
  auto& control = playback::Control();
  control.quit_requested = true;
  for (auto& reader : readers_)
    if (reader) reader->RequestStop();
  for (size_t t = 0; t < readers_.size(); ++t) EndReader(t);
}

void PlayerEngine::Destroy() {
  StopReaders();
  if (clock_ && !clock_->Stop()) threads_left_ = true;
  clock_.reset();
  if (filter_) {
    std::unique_ptr<engine::ACMovieFilter> filter = std::move(filter_);
    filter->SetObserver(nullptr);  // the observer may go with the window
    filter->FinalFilter();
    if (filter->running_threads() > 0) threads_left_ = true;
  }
  if (audio_) {
    audio_->StopOutput();
    audio_.reset();
  }
  if (snapshots_) snapshots_->WaitIdle(2000);
  snapshots_.reset();
  volume_.reset();
  mute_.reset();
  engine::ResetAllSourceEvents();
  group_.reset();
  state_ = State::kIdle;
}

bool PlayerEngine::PlayGroup(const RecordingGroup& group, int offset_seconds, bool reverse) {
  if (!filter_) return false;
  auto& control = playback::Control();
  // A new recording ends an export (the readers complete its clips).
  CancelExport();
  engine::ResetAllSourceEvents();
  // A reader of another type keeps its file open where it stopped: it goes,
  // so that its recording starts afresh when it is chosen again.
  for (size_t t = 0; t < readers_.size(); ++t) {
    if (t != static_cast<size_t>(group.type)) EndReader(t);
  }
  // The clock holds still while the new recording starts (a clock left
  // playing would release the held pictures at once).
  if (group_) clock_->SetState(engine::kStatePause);
  control.quit_requested = false;
  control.reverse_play = reverse;
  control.end_reached = false;
  // A recording playing already is flushed before the new names are seen,
  // so that the flush cannot take the new recording's first markers.
  control.command_pending = group_.has_value();
  control.stop_requested = false;
  control.current_channel = group.main_channel;
  control.seek_target_seconds = std::max(0, offset_seconds);
  control.seek_requested = offset_seconds > 0;
  control.set_request(group.names());
  control.hold.Reset();
  group_ = group;
  position_ = std::max(0, offset_seconds);
  start_failed_ = false;
  // Pictures are held until every channel has some decoded, so that opening
  // the decoders one after another does not put the channels out of step.
  filter_->PushFrame(1);
  WakeReader();
  state_ = State::kStarting;
  start_tick_ = platform::TickCount32();
  return true;
}

bool PlayerEngine::Tick() {
  if (state_ != State::kStarting || !filter_) return false;
  const auto& reader = readers_[static_cast<size_t>(group_->type)];
  if (reader && !reader->running() && reader->exit_code() != playback::kExitNormal) {
    start_failed_ = true;  // the recording did not open
    state_ = State::kIdle;
    return false;
  }
  if (!filter_->ReadyToStart() && platform::TickCount32() - start_tick_ < kPrerollLimitMs) return true;
  clock_->SetSpeed(1 << speed_position_);
  clock_->SetState(engine::kStatePlay);
  state_ = State::kPlaying;
  return false;
}

void PlayerEngine::WakeReader() {
  if (!group_) return;
  engine::SourceActiveEvent(playback::SourceOf(group_->type)).Set();
  ReaderFor(group_->type);
}

void PlayerEngine::Resume(bool reverse, std::optional<int> seek_seconds) {
  if (!group_ || !clock_) return;
  auto& control = playback::Control();
  control.quit_requested = false;
  control.reverse_play = reverse;
  if (seek_seconds) {
    control.seek_target_seconds = *seek_seconds;
    control.seek_requested = true;
  }
  control.command_pending = false;
  control.hold.Reset();
  control.stop_requested = false;
  WakeReader();
  clock_->SetState(engine::kStatePlay);
  state_ = State::kPlaying;
}

void PlayerEngine::Pause() {
  if (!clock_) return;
  playback::Control().hold.Reset();
  clock_->SetState(engine::kStatePause);
  if (state_ != State::kIdle) state_ = State::kPaused;
}

void PlayerEngine::Stop() {
  if (!clock_) return;
  auto& control = playback::Control();
  control.hold.Reset();
  control.stop_requested = true;
  control.command_pending = true;
  control.seek_requested = false;  // a seek not yet done: the next play starts afresh anyway
  CancelExport();  // the readers complete the clips they have
  clock_->SetState(engine::kStateHalt);
  control.renew_request();  // the next play opens the recording afresh
  control.reverse_play = false;
  SetSpeedPosition(4);
  position_ = 0;
  state_ = State::kIdle;
}

void PlayerEngine::Forget() {
  Stop();
  group_.reset();
}

void PlayerEngine::SeekTo(int seconds) {
  if (!group_) return;
  auto& control = playback::Control();
  position_ = std::max(0, seconds);
  control.seek_target_seconds = position_;
  control.seek_requested = true;
  control.end_reached = false;
  WakeReader();
}

void PlayerEngine::Export(int start, int end) {
  if (!group_) return;
  auto& control = playback::Control();
  // The reader turns the export on when it has done the seek: nothing read
  // before the stretch's start is written, nothing after it is lost.
  control.export_end_seconds = end;
  control.export_active = false;
  control.export_pending = true;
  SeekTo(start);
  Resume(false);
}

bool PlayerEngine::exporting() const {
  const auto& control = playback::Control();
  return control.export_pending.load() || control.export_active.load();
}

void PlayerEngine::CancelExport() {
  auto& control = playback::Control();
  control.export_pending = false;
  control.export_active = false;
}

void PlayerEngine::SetSpeedPosition(int position) {
  speed_position_ = std::clamp(position, 0, 8);
  const int factor = 1 << speed_position_;
  playback::Control().play_speed = factor;
  playback::Control().hold.Reset();
  if (clock_) clock_->SetSpeed(factor);
}

void PlayerEngine::Step() {
  if (!group_ || !clock_) return;
  auto& control = playback::Control();
  control.hold.Reset();
  control.stop_requested = false;
  ReaderFor(group_->type);
  clock_->SetState(engine::kStateStep);
  engine::SourceActiveEvent(playback::SourceOf(group_->type)).Set();
  if (state_ == State::kStarting || state_ == State::kIdle) state_ = State::kPaused;
}

void PlayerEngine::SecondPlay() {
  if (!group_ || !clock_) return;
  auto& control = playback::Control();
  SetSpeedPosition(4);
  engine::ResetAllSourceEvents();
  if (audio_) audio_->FlushAudio();
  filter_->EmptyData();
  for (int c = 0; c < playback::kChannels; ++c) filter_->EmptyAlgData(c);
  clock_->Clear();
  control.stop_requested = false;
  control.hold.Set();  // key frames only
  WakeReader();
  clock_->SetState(engine::kStateSecondPlay);
  state_ = State::kPlaying;
}

void PlayerEngine::SetAudioChannel(int channel) { playback::Control().audio_channel = channel; }

void PlayerEngine::SetChannelClosed(int channel, bool closed) {
  if (filter_) filter_->SetChannelClosed(channel, closed);
}

void PlayerEngine::Snapshot(int channel) {
  if (snapshots_) snapshots_->RequestSnapshot(channel);
}

}  // namespace app
