#include "cli/play/RecordingPlayback.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <memory>

#include "QVVReader/FileName.h"
#include "cli/play/PlaybackStatistics.h"
#include "cli/play/SoundCheck.h"
#include "engine/ACMovieFilter.h"
#include "engine/ACPlayClock.h"
#include "engine/ACSnapshotFilter.h"
#include "engine/EngineGlobals.h"
#include "engine/LibavLog.h"
#include "playback/ChannelFilesReaderThread.h"
#include "playback/ContainerFile.h"
#include "playback/QvvReaderThread.h"

namespace cli {
namespace {

// Sensor records are counted by the reader; the views are not there.
struct NoViews : playback::MapSink, playback::WaveSink {
  void PushGpsRecord(const uint8_t*, int, int64_t) override {}
  void AddTrackPoint(const uint8_t*, int, int64_t) override {}
  void PushRecord(const uint8_t*, int, int64_t) override {}
  void SetStartTime(int64_t) override {}
};

// Passes pictures on to the statistics and asks for a snapshot of the first
// picture of every second of every channel.
class FramesPerSecond : public engine::PictureObserver {
 public:
  FramesPerSecond(engine::PictureObserver& next, engine::ACSnapshotFilter* snapshots)
      : next_(next), snapshots_(snapshots) {
    last_second_.fill(-1);
  }
  void OnPicture(int channel, int64_t time_ms, const uint8_t* yuv, int width, int height, const char* text) override {
    next_.OnPicture(channel, time_ms, yuv, width, height, text);
    if (!snapshots_ || text || channel < 0 || channel >= playback::kChannels || time_ms < 0) return;
    if (time_ms == 0 && width == engine::ACMovieFilter::kBlankWidth) return;  // a channel with nothing to show
    auto& last = last_second_[static_cast<size_t>(channel)];
    if (time_ms / 1000 != last) {
      last = time_ms / 1000;
      snapshots_->RequestSnapshot(channel);  // the snapshot filter sees this picture next
    }
  }

 private:
  engine::PictureObserver& next_;
  engine::ACSnapshotFilter* snapshots_;
  std::array<int64_t, playback::kChannels> last_second_{};
};

}  // namespace

std::vector<ChannelReport> PlayRecording(const RecordingRun& run, PlaySummary* summary) {
  const PlayOptions& options = run.options;
  if (run.paths.empty()) return {};
  const std::string ext = playback::ExtensionOf(run.paths[0]);
  playback::Container type;
  playback::PlaybackControl::Names names;
  if (ext == "qvv") {
    type = playback::Container::Qvv;
    names.qvv = run.paths[0];
  } else {
    type = ext == "flv" ? playback::Container::Flv : ext == "mp4" ? playback::Container::Mp4 : playback::Container::Avi;
    for (size_t i = 0; i < run.paths.size(); ++i) {
      // A file's channel is in its name; a name that says none takes the next free slot.
      int channel = -1;
      int64_t utc = 0;
      const std::string base(qvv::BaseName(run.paths[i]));
      const int64_t parsed = type == playback::Container::Mp4 ? qvv::ParseMp4FileName(base.c_str(), &utc, &channel)
                                                              : qvv::ParseChannelFileName(base.c_str(), &utc, &channel);
      if (parsed < 0 || channel < 0 ||
          channel >= playback::kChannels || !names.channel[static_cast<size_t>(channel)].empty()) {
        channel = 0;
        while (channel < playback::kChannels && !names.channel[static_cast<size_t>(channel)].empty()) ++channel;
      }
      if (channel < playback::kChannels) names.channel[static_cast<size_t>(channel)] = run.paths[i];
    }
  }
  engine::libav_log::Install();
  engine::libav_log::Reset();

  platform::SystemTimeSource time;
  platform::SystemSleeper sleeper;
  Statistics stats(time, options.audio_channel);
  EndWatcher end;
  engine::ResetAllSourceEvents();
  engine::ACMovieFilter filter;
  engine::ACParam param;
  param.channel_count = playback::kChannels;
  filter.InitFilter(&param);
  std::unique_ptr<engine::ACSnapshotFilter> snapshots;
  if (!run.frames_dir.empty()) {
    std::error_code ec;
    std::filesystem::create_directories(run.frames_dir, ec);
    snapshots = std::make_unique<engine::ACSnapshotFilter>();
    snapshots->InitSnapshot(&param);
    snapshots->SetSnapshotFolder(run.frames_dir);
    filter.SetFilter(snapshots.get());
  }
  FramesPerSecond observer(stats, snapshots.get());
  filter.SetObserver(&observer);
  engine::ACPlayClock clock(&end);
  clock.SetSpeed(options.speed);

  // The sound of one channel, at its stream's rate.
  SoundCheck sound;
  engine::ACAudioPlayer* audio = nullptr;
  if (options.audio_channel >= 0 && options.audio_channel < playback::kChannels) {
    int rate = 8000;
    playback::ContainerFile probe;
    const std::string& file =
        type == playback::Container::Qvv ? names.qvv : names.channel[static_cast<size_t>(options.audio_channel)];
    if (!file.empty() && probe.Open(file, false)) {
      const auto& ctx = probe.demuxer().context();
      for (int s = 0; s < ctx.nb_streams; ++s) {
        const qvv::AVStream* st = ctx.FindStream(s);
        if (st && st->kind == qvv::kKindAudio && st->sample_rate > 0) {
          rate = st->sample_rate;
          break;
        }
      }
    }
    if (sound.Open(options, rate, &end)) audio = sound.player();
  }

  auto& control = playback::Control();
  control.quit_requested = control.command_pending = control.stop_requested = false;
  control.end_reached = false;
  control.reverse_play = options.reverse;
  control.play_speed = options.speed;
  control.audio_channel = options.audio_channel;
  control.hold.Reset();
  int current = 0;
  if (type != playback::Container::Qvv)
    while (current < playback::kChannels && names.channel[static_cast<size_t>(current)].empty()) ++current;
  control.current_channel = current;
  const bool exporting = !run.export_dir.empty() && run.export_to > run.export_from;
  if (exporting) {
    std::error_code ec;
    std::filesystem::create_directories(run.export_dir, ec);
    const std::string stem = std::filesystem::path(run.paths[0]).stem().string();
    for (int c = 0; c < playback::kChannels; ++c) {
      char name[32];
      std::snprintf(name, sizeof name, "-ch%02d.avi", c + 1);
      names.exports[static_cast<size_t>(c)] = (std::filesystem::path(run.export_dir) / (stem + name)).string();
    }
  }
  control.set_names(names);
  // Export starts with a seek to its first second.
  const int start = exporting ? run.export_from : run.seek_seconds;
  control.seek_requested = start >= 0;
  control.seek_target_seconds = std::max(0, start);
  control.export_end_seconds = exporting ? run.export_to : 0;
  control.export_active = exporting;

  NoViews views;
  playback::EngineTargets targets{&filter, audio, &clock, &views, &views, &end};
  std::unique_ptr<playback::ReaderThread> reader;
  if (type == playback::Container::Qvv) reader = std::make_unique<playback::QvvReaderThread>(targets);
  else reader = std::make_unique<playback::ChannelFilesReaderThread>(type, targets);

  // Pictures are held until every channel has some decoded, so that opening
  // the decoders one after another does not put the channels out of step.
  filter.PushFrame(1);
  engine::SourceActiveEvent(playback::SourceOf(type)).Set();
  reader->Start();
  const uint32_t preroll_start = time.TickCount();
  for (int settled = 0; settled < 2 && time.TickCount() - preroll_start < 10000 && reader->running();) {
    settled = filter.ReadyToStart() ? settled + 1 : 0;
    if (settled < 2) sleeper.SleepMs(5);
  }
  const uint32_t preroll_ms = time.TickCount() - preroll_start;
  clock.Start(&filter, audio);
  clock.SetState(engine::kStatePlay);
  // To the end, or until the reader gives up (a recording that does not open).
  while (!end.ended.Wait(100)) {
    if (!reader->running()) break;
  }
  const int exit_code = reader->exit_code();
  sound.DrainAndStop(sleeper);
  sleeper.SleepMs(300);  // the last pictures reach the screen
  const playback::ReaderThread::RecordCounts records = reader->records();
  reader->Stop(3000);
  clock.Stop();
  filter.FinalFilter();
  if (snapshots) snapshots->WaitIdle(5000);
  engine::ResetAllSourceEvents();

  std::vector<int> listed;
  for (int c = 0; c < playback::kChannels; ++c) {
    const bool named = type == playback::Container::Qvv ? false : !names.channel[static_cast<size_t>(c)].empty();
    if (named || stats.Shown(c) > 0) listed.push_back(c);
  }
  auto reports = stats.Reports(listed);
  for (ChannelReport& r : reports) r.decode_errors = filter.DecodeErrors(r.channel);
  if (summary) {
    summary->preroll_ms = preroll_ms;
    summary->libav_messages = engine::libav_log::Tallies();
    summary->records = {records.gps, records.gsensor, records.other, records.alg};
    summary->reader_exit = exit_code;
    sound.Report(options.audio_channel, stats.white_ticks(), &summary->audio);
  }
  return reports;
}

}  // namespace cli
