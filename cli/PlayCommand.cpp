// dravik-tool play PATH... [--speed N] [--reverse] [--seek S] [--channels N]
//                           [--audio-channel C [--wav OUT.wav] [--audio-driver D]] [--frames-dir DIR]
//                           [--export-from S --export-to S --export-dir DIR]
// Plays a recording (a .qvv file, or the per-channel files of one group)
// through its reader thread into the playback filter, clock and audio player,
// to the end on the real clock without drawing, and
// prints per channel: shown pictures, first and last time, order, and the
// largest skew to any other channel showing the same time stamp, and how many
// of its packets the decoder refused. The channels listed are those the
// recording has. The decoder's own messages are summed up per channel on
// stderr, as are video packets dropped for a time stamp far off the time line.
// With --audio-channel the channel's sound plays through the audio player (to
// the sound card, or with --wav into a WAV file at a sound card's pace) and
// paces the pictures; one more line says how long it played and the largest
// offset between a sync mark's white picture and its beep.
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "QVVReader/QvvDemuxer.h"
#include "cli/Commands.h"
#include "cli/Numbers.h"
#include "cli/Recording.h"
#include "cli/play/QvvPlayback.h"
#include "cli/play/RecordingPlayback.h"
#include "playback/ReaderThread.h"
#include "engine/ACMovieFilter.h"

namespace cli {

int RunPlay(const Args& args) {
  std::vector<std::string> paths;
  int speed = 16, channels = 12, audio_channel = -1, seek = -1, export_from = 0, export_to = -1;
  std::string wav, driver, frames_dir, export_dir;
  bool reverse = false;
  auto usage = [] {
    std::fprintf(stderr,
                 "usage: dravik-tool play PATH... [--speed N] [--reverse] [--seek S] [--channels N]\n"
                 "                        [--audio-channel C [--wav OUT.wav] [--audio-driver D]] [--frames-dir DIR]\n"
                 "                        [--export-from S --export-to S --export-dir DIR]\n"
                 "  PATH: a .qvv recording, or the per-channel .avi or .flv files of one group\n");
    return 2;
  };
  for (size_t i = 0; i < args.size(); ++i) {
    auto number = [&](int& out) { return NextInt(args, i, out); };
    if (args[i] == "--reverse") {
      reverse = true;
    } else if (args[i] == "--wav" && i + 1 < args.size()) {
      wav = std::string(args[++i]);
    } else if (args[i] == "--audio-driver" && i + 1 < args.size()) {
      driver = std::string(args[++i]);
    } else if (args[i] == "--frames-dir" && i + 1 < args.size()) {
      frames_dir = std::string(args[++i]);
    } else if (args[i] == "--export-dir" && i + 1 < args.size()) {
      export_dir = std::string(args[++i]);
    } else if ((args[i] == "--export-from" && number(export_from)) || (args[i] == "--export-to" && number(export_to))) {
    } else if ((args[i] == "--speed" && number(speed)) || (args[i] == "--channels" && number(channels)) ||
               (args[i] == "--audio-channel" && number(audio_channel)) || (args[i] == "--seek" && number(seek))) {
    } else if (!args[i].starts_with("--")) {
      paths.emplace_back(args[i]);
    } else {
      return usage();
    }
  }
  if (paths.empty()) return usage();
  // Every file must open (the player would show the others; here a typo
  // should not pass for a missing channel).
  for (const auto& path : paths) {
    OpenedRecording rec;
    if (!OpenRecording(path, reverse, rec)) return 1;
    if (rec.format == "qvv" && paths.size() > 1) {
      std::fprintf(stderr, "dravik-tool play: a .qvv recording holds every channel: give it alone\n");
      return 2;
    }
  }
  RecordingRun run;
  run.paths = paths;
  run.seek_seconds = seek;
  run.frames_dir = frames_dir;
  run.export_dir = export_dir;
  run.export_from = export_from;
  run.export_to = export_to;
  PlayOptions& options = run.options;
  options.speed = speed;
  options.reverse = reverse;
  options.channels = std::clamp(channels, 1, engine::kChannelPositions);
  options.audio_channel = audio_channel;
  options.wav_path = wav;
  options.audio_driver = driver;
  PlaySummary summary;
  for (const ChannelReport& r : PlayRecording(run, &summary)) {
    if (r.channel >= options.channels) continue;
    std::printf("channel=%d shown=%d first=%" PRId64 " last=%" PRId64 " order=%s max_skew_ms=%" PRId64
                " decode_errors=%d\n",
                r.channel, r.shown, r.first, r.last, r.order_ok ? "ok" : "bad", r.max_skew_ms, r.decode_errors);
  }
  std::printf("records gps=%" PRIu64 " gsensor=%" PRIu64 " other=%" PRIu64 " alg=%" PRIu64 "\n", summary.records.gps,
              summary.records.gsensor, summary.records.other, summary.records.alg);
  if (summary.audio.played) {
    std::printf("audio channel=%d played_ms=%" PRId64 " av_offset_ms=%" PRId64 "\n", summary.audio.channel,
                summary.audio.played_ms, summary.audio.av_offset_ms);
    if (summary.audio.marks == 0) {
      std::fprintf(stderr, "dravik-tool play: no sync marks seen (make the recording with mksample --sync-marks)\n");
    } else {
      std::fprintf(stderr, "dravik-tool play: %d sync marks, |offset| median %" PRId64 " ms, largest %" PRId64
                           " ms; picture minus sound per mark (ms):",
                   summary.audio.marks, summary.audio.median_offset_ms, summary.audio.av_offset_ms);
      for (const int64_t o : summary.audio.offsets_ms) std::fprintf(stderr, " %" PRId64, o);
      std::fprintf(stderr, "\n");
    }
  }
  std::fflush(stdout);
  for (const auto& t : summary.libav_messages) {
    if (t.channel == engine::libav_log::kUnattributed) {
      std::fprintf(stderr, "dravik-tool play: libav: %" PRIu64 " messages (%" PRIu64 " errors), first: %s\n",
                   t.messages, t.errors, t.first.c_str());
    } else {
      std::fprintf(stderr, "dravik-tool play: channel %d: %" PRIu64 " decoder messages (%" PRIu64 " errors), first: %s\n",
                   t.channel, t.messages, t.errors, t.first.c_str());
    }
  }
  if (summary.reader_exit != 0 && summary.reader_exit != playback::kExitNormal) {
    std::fprintf(stderr, "dravik-tool play: the recording could not be played (reader ended with %d)\n",
                 summary.reader_exit);
    return 1;
  }
  if (summary.dropped_timestamps > 0)
    std::fprintf(stderr, "dravik-tool play: video packets dropped for a time stamp far off the recording's time line: %" PRIu64 "\n",
                 summary.dropped_timestamps);
  return 0;
}

}  // namespace cli
