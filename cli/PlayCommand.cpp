// dravik-tool play FILE.qvv [--speed N] [--reverse] [--channels N]
//                           [--audio-channel C [--wav OUT.wav] [--audio-driver D]]
// Feeds the QVV reader's video packets and time stamps into the playback
// filter and clock, plays to the end on the real clock without drawing, and
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

#include "QVVReader/QvvDemuxer.h"
#include "cli/Commands.h"
#include "cli/Numbers.h"
#include "cli/Recording.h"
#include "cli/play/QvvPlayback.h"
#include "engine/ACMovieFilter.h"

namespace cli {

int RunPlay(const Args& args) {
  std::string path;
  int speed = 16, channels = 12, audio_channel = -1;
  std::string wav, driver;
  bool reverse = false;
  for (size_t i = 0; i < args.size(); ++i) {
    auto number = [&](int& out) { return NextInt(args, i, out); };
    if (args[i] == "--reverse") {
      reverse = true;
    } else if (args[i] == "--wav" && i + 1 < args.size()) {
      wav = std::string(args[++i]);
    } else if (args[i] == "--audio-driver" && i + 1 < args.size()) {
      driver = std::string(args[++i]);
    } else if ((args[i] == "--speed" && number(speed)) || (args[i] == "--channels" && number(channels)) ||
               (args[i] == "--audio-channel" && number(audio_channel))) {
    } else if (path.empty() && !args[i].starts_with("--")) {
      path = args[i];
    } else {
      std::fprintf(stderr,
                   "usage: dravik-tool play FILE.qvv [--speed N] [--reverse] [--channels N]\n"
                   "                                 [--audio-channel C [--wav OUT.wav] [--audio-driver D]]\n");
      return 2;
    }
  }
  channels = std::clamp(channels, 1, engine::kChannelPositions);
  OpenedRecording rec;
  if (path.empty() || !OpenRecording(path, reverse, rec)) return path.empty() ? 2 : 1;
  if (rec.format != "qvv") {
    std::fprintf(stderr, "dravik-tool play: %s: only .qvv recordings play here for now\n", path.c_str());
    return 1;
  }
  PlayOptions options;
  options.speed = speed;
  options.reverse = reverse;
  options.channels = channels;
  options.audio_channel = audio_channel;
  options.wav_path = wav;
  options.audio_driver = driver;
  PlaySummary summary;
  for (const ChannelReport& r : PlayQvv(static_cast<qvv::QvvDemuxer&>(*rec.demuxer), options, &summary)) {
    std::printf("channel=%d shown=%d first=%" PRId64 " last=%" PRId64 " order=%s max_skew_ms=%" PRId64
                " decode_errors=%d\n",
                r.channel, r.shown, r.first, r.last, r.order_ok ? "ok" : "bad", r.max_skew_ms, r.decode_errors);
  }
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
  if (summary.dropped_timestamps > 0)
    std::fprintf(stderr, "dravik-tool play: video packets dropped for a time stamp far off the recording's time line: %" PRIu64 "\n",
                 summary.dropped_timestamps);
  return 0;
}

}  // namespace cli
