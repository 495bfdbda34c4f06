#include "cli/play/QvvPlayback.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <thread>

#include "engine/ACMovieFilter.h"
#include "engine/ACPlayClock.h"
#include "engine/EngineGlobals.h"
#include "platform/Event.h"
#include "platform/MessageSink.h"

namespace cli {
namespace {

class Statistics : public engine::PictureObserver {
 public:
  explicit Statistics(platform::TimeSource& time) : time_(time) {}

  void OnPicture(int channel, int64_t time_ms, const uint8_t*, int width, int height, const char* text) override {
    if (text || (time_ms == 0 && width == engine::ACMovieFilter::kBlankWidth &&
                 height == engine::ACMovieFilter::kBlankHeight))
      return;  // the blank picture of a channel with nothing to show
    const uint32_t now = time_.TickCount();
    std::lock_guard lock(mutex_);
    auto& c = channels_[channel];
    if (c.shown == 0) {
      c.first = time_ms;
      c.first_tick = now;
    }
    c.last_tick = now;
    if (c.shown > 0 && time_ms < c.last) c.order_ok = false;
    c.last = time_ms;
    ++c.shown;
    shown_at_[time_ms][channel] = now;
  }

  std::vector<ChannelReport> Reports(int channels) {
    std::lock_guard lock(mutex_);
    const bool debug = std::getenv("DRAVIK_PLAY_DEBUG") != nullptr;
    std::vector<ChannelReport> reports;
    for (int ch = 0; ch < channels; ++ch) {
      ChannelReport r;
      r.channel = ch;
      if (const auto it = channels_.find(ch); it != channels_.end()) {
        r.shown = it->second.shown;
        r.first = it->second.first;
        r.last = it->second.last;
        r.order_ok = it->second.order_ok;
        r.played_ms = static_cast<uint32_t>(it->second.last_tick - it->second.first_tick);
      }
      for (const auto& [time, by_channel] : shown_at_) {
        const auto mine = by_channel.find(ch);
        if (mine == by_channel.end()) continue;
        for (const auto& [other, at] : by_channel) {
          // Tick counts wrap: their difference as a signed 32-bit number.
          const int64_t apart = std::llabs(static_cast<int32_t>(at - mine->second));
          if (other != ch && apart > r.max_skew_ms) {
            r.max_skew_ms = apart;
            if (debug && apart > 30) {
              std::fprintf(stderr, "time %lld: channels %d and %d %lld ms apart:", static_cast<long long>(time), ch,
                           other, static_cast<long long>(apart));
              for (const auto& [c, tick] : by_channel) std::fprintf(stderr, " %d@%u", c, tick);
              std::fprintf(stderr, "\n");
            }
          }
        }
      }
      reports.push_back(r);
    }
    return reports;
  }

 private:
  struct Channel {
    int shown = 0;
    int64_t first = 0, last = 0;
    bool order_ok = true;
    uint32_t first_tick = 0, last_tick = 0;
  };
  platform::TimeSource& time_;
  std::mutex mutex_;
  std::map<int, Channel> channels_;
  std::map<int64_t, std::map<int, uint32_t>> shown_at_;  // time stamp -> channel -> tick shown
};

// The clock's notices: the end of the recording arrives as -3.
class EndWatcher : public platform::MessageSink {
 public:
  void Post(uint32_t message, platform::MsgParam, platform::MsgParam second) override {
    if (message == platform::msg::kProgress && second == -3) ended.Set();
  }
  platform::MsgParam Send(uint32_t, platform::MsgParam, platform::MsgParam) override { return 0; }
  platform::Event ended{platform::Event::Mode::ManualReset};
};

}  // namespace

std::vector<ChannelReport> PlayQvv(qvv::QvvDemuxer& demuxer, const PlayOptions& options) {
  platform::SystemTimeSource system_time;
  platform::SystemSleeper system_sleeper;
  platform::TimeSource& time = options.time ? *options.time : system_time;
  platform::Sleeper& sleeper = options.sleeper ? *options.sleeper : system_sleeper;
  const int channels = std::clamp(options.channels, 1, engine::kChannelPositions);
  const bool reverse = options.reverse;
  const int64_t duration_ms = demuxer.context().duration > 0 ? demuxer.context().duration / 1000 : 0;

  // Time stamps grow in both directions: backwards they count from the end.
  Statistics stats(time);
  EndWatcher end;
  engine::ResetAllSourceEvents();
  engine::SourceActiveEvent(engine::SourceKind::Qvv).Set();
  engine::ACMovieFilter filter(options.time, options.sleeper);
  engine::ACParam param;
  param.channel_count = channels;
  filter.InitFilter(&param);
  filter.SetObserver(&stats);
  engine::ACPlayClock clock(&end, options.sleeper);
  clock.SetSpeed(options.speed);

  auto feed_marker = [&](int marker) {
    filter.InputData(marker);
    while (!clock.AddDTS(marker, 0, 0)) sleeper.SleepMs(2);
  };
  filter.PushFrame(1);  // hold the pictures until the clock plays
  feed_marker(-2);
  feed_marker(-1);
  // The reader runs on its own thread; playback starts once every channel has
  // pictures decoded, so that opening the decoders one after another does not
  // put the channels out of step at the start.
  std::thread reader([&] {
    sleeper.SleepMs(0);  // announces the thread to the sleeper (a fake clock counts it)
    qvv::ReaderPacket packet;
    int64_t last_handed = INT64_MIN;  // the clock takes each time stamp once, not once per channel
    for (;;) {
      const int r = reverse ? demuxer.ReadPacketReverse(packet) : demuxer.ReadPacket(packet);
      if (r < 0) break;
      const qvv::AVStream* st = demuxer.context().FindStream(packet.stream_index);
      if (!st || st->kind != qvv::kKindVideo || packet.stream_index >= channels) continue;
      int64_t ms = packet.pts / 1000;
      if (reverse) ms = std::max<int64_t>(1, duration_ms - ms);
      while (!filter.InputData(packet.stream_index, st->codec_id, ms, packet.data.get(), packet.size, st->width,
                               st->height, reverse ? 1 : 0))
        sleeper.SleepMs(2);
      if (ms == last_handed) continue;
      last_handed = ms;
      while (!clock.AddDTS(ms, ms * 1000, reverse ? 1 : 0)) sleeper.SleepMs(2);
    }
    feed_marker(-3);
  });
  const uint32_t preroll_start = time.TickCount();  // the limit is for channels that never decode
  // Ready: 8 pictures per channel, and the decoders done with what they have
  // or with a full queue, seen
  // twice in a row: the play threads then start on a quiet processor, not
  // beside twelve decoders filling their queues.
  constexpr int kFullQueue = engine::ACMovieList::kNodes - 2;  // one node pending, one shown
  for (int settled = 0; settled < 2 && static_cast<uint32_t>(time.TickCount() - preroll_start) < 10000;) {
    bool ready = true;
    for (int c = 0; c < channels && c < demuxer.context().nb_video; ++c) {
      const int pictures = filter.ReadyFrames(c);
      ready = ready && pictures >= 8 && (filter.PacketCount(c) == 0 || pictures >= kFullQueue);
    }
    settled = ready ? settled + 1 : 0;
    if (settled < 2) sleeper.SleepMs(5);
  }
  if (std::getenv("DRAVIK_PLAY_DEBUG")) {
    std::fprintf(stderr, "pre-roll %u ms:", static_cast<uint32_t>(time.TickCount() - preroll_start));
    for (int c = 0; c < channels; ++c) std::fprintf(stderr, " %d", filter.ReadyFrames(c));
    std::fprintf(stderr, "\n");
  }
  clock.Start(&filter, nullptr);
  clock.SetState(engine::kStatePlay);
  sleeper.WaitFor(end.ended, platform::kInfinite);
  reader.join();
  sleeper.SleepMs(300);  // the last pictures reach the screen
  clock.Stop();
  filter.FinalFilter();
  engine::ResetAllSourceEvents();
  return stats.Reports(channels);
}

}  // namespace cli
