// dravik-tool play FILE.qvv [--speed N] [--reverse] [--channels N]
// Feeds the QVV reader's video packets and time stamps into the playback
// filter and clock, plays to the end on the real clock without drawing, and
// prints per channel: shown pictures, first and last time, order, and the
// largest skew to any other channel showing the same time stamp, and how many
// of its packets the decoder refused. The channels listed are those the
// recording has. The decoder's own messages are summed up per channel on
// stderr, as are video packets dropped for a time stamp far off the time line.
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
  int speed = 16, channels = 12;
  bool reverse = false;
  for (size_t i = 0; i < args.size(); ++i) {
    auto number = [&](int& out) { return NextInt(args, i, out); };
    if (args[i] == "--reverse") {
      reverse = true;
    } else if ((args[i] == "--speed" && number(speed)) || (args[i] == "--channels" && number(channels))) {
    } else if (path.empty() && !args[i].starts_with("--")) {
      path = args[i];
    } else {
      std::fprintf(stderr, "usage: dravik-tool play FILE.qvv [--speed N] [--reverse] [--channels N]\n");
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
  PlaySummary summary;
  for (const ChannelReport& r : PlayQvv(static_cast<qvv::QvvDemuxer&>(*rec.demuxer), options, &summary)) {
    std::printf("channel=%d shown=%d first=%" PRId64 " last=%" PRId64 " order=%s max_skew_ms=%" PRId64
                " decode_errors=%d\n",
                r.channel, r.shown, r.first, r.last, r.order_ok ? "ok" : "bad", r.max_skew_ms, r.decode_errors);
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
