// dravik-tool play FILE.qvv [--speed N] [--reverse] [--channels N]
// Feeds the QVV reader's video packets and time stamps into the playback
// filter and clock, plays to the end on the real clock without drawing, and
// prints per channel: shown pictures, first and last time, order, and the
// largest skew to any other channel showing the same time stamp.
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "QVVReader/QvvDemuxer.h"
#include "cli/Commands.h"
#include "cli/Recording.h"
#include "engine/ACMovieFilter.h"
#include "engine/ACPlayClock.h"
#include "engine/EngineGlobals.h"
#include "platform/Event.h"
#include "platform/TickCount.h"

namespace cli {
namespace {

class Statistics : public engine::PictureObserver {
 public:
  void OnPicture(int channel, int64_t time_ms, const uint8_t*, int width, int height, const char* text) override {
    if (text || (time_ms == 0 && width == engine::ACMovieFilter::kBlankWidth &&
                 height == engine::ACMovieFilter::kBlankHeight))
      return;  // the blank picture of a channel with nothing to show
    const uint64_t now = platform::TickCount64();
    std::lock_guard lock(mutex_);
    auto& c = channels_[channel];
    if (c.shown == 0) c.first = time_ms;
    if (c.shown > 0 && (reverse_ ? time_ms > c.last : time_ms < c.last)) c.order_ok = false;
    c.last = time_ms;
    ++c.shown;
    shown_at_[time_ms][channel] = now;
  }
  void Print(int channels) {
    std::lock_guard lock(mutex_);
    if (std::getenv("DRAVIK_PLAY_DEBUG")) {
      for (const auto& [time, by_channel] : shown_at_) {
        uint64_t lo = UINT64_MAX, hi = 0;
        for (const auto& [c, at] : by_channel) lo = std::min(lo, at), hi = std::max(hi, at);
        if (hi - lo > 30) std::fprintf(stderr, "time %lld spread %llu\n", (long long)time, (unsigned long long)(hi - lo));
      }
    }
    for (int ch = 0; ch < channels; ++ch) {
      const auto& c = channels_[ch];
      int64_t skew = 0;
      for (const auto& [time, by_channel] : shown_at_) {
        const auto mine = by_channel.find(ch);
        if (mine == by_channel.end()) continue;
        for (const auto& [other, at] : by_channel) {
          if (other != ch) skew = std::max<int64_t>(skew, std::llabs(static_cast<int64_t>(at - mine->second)));
        }
      }
      std::printf("channel=%d shown=%d first=%" PRId64 " last=%" PRId64 " order=%s max_skew_ms=%" PRId64 "\n", ch,
                  c.shown, c.first, c.last, c.order_ok ? "ok" : "bad", skew);
    }
  }
  bool reverse_ = false;

 private:
  struct Channel {
    int shown = 0;
    int64_t first = 0, last = 0;
    bool order_ok = true;
  };
  std::mutex mutex_;
  std::map<int, Channel> channels_;
  std::map<int64_t, std::map<int, uint64_t>> shown_at_;
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

int RunPlay(const Args& args) {
  std::string path;
  int speed = 16, channels = 12;
  bool reverse = false;
  for (size_t i = 0; i < args.size(); ++i) {
    auto number = [&](int& out) {
      if (i + 1 >= args.size()) return false;
      const std::string text(args[++i]);
      char* end = nullptr;
      out = static_cast<int>(std::strtol(text.c_str(), &end, 10));
      return end && *end == '\0';
    };
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
  auto& demuxer = static_cast<qvv::QvvDemuxer&>(*rec.demuxer);
  const int64_t duration_ms = demuxer.context().duration > 0 ? demuxer.context().duration / 1000 : 0;

  Statistics stats;
  stats.reverse_ = false;  // times grow in both directions (backward: duration minus time)
  EndWatcher end;
  engine::ResetAllSourceEvents();
  engine::SourceActiveEvent(engine::SourceKind::Qvv).Set();
  engine::ACMovieFilter filter;
  engine::ACParam param;
  param.channel_count = channels;
  filter.InitFilter(&param);
  filter.SetObserver(&stats);
  engine::ACPlayClock clock(&end);
  clock.SetSpeed(speed);
  clock.Start(&filter, nullptr);

  auto feed_marker = [&](int marker) {
    filter.InputData(marker);
    while (!clock.AddDTS(marker, 0, 0)) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  };
  filter.PushFrame(1);  // hold the pictures until the clock plays
  feed_marker(-2);
  feed_marker(-1);
  // The reader runs on its own thread; playback starts once every channel has
  // pictures decoded, so that opening the decoders one after another does not
  // put the channels out of step at the start.
  std::thread reader([&] {
    qvv::ReaderPacket packet;
    for (;;) {
      const int r = reverse ? demuxer.ReadPacketReverse(packet) : demuxer.ReadPacket(packet);
      if (r < 0) break;
      const qvv::AVStream* st = demuxer.context().FindStream(packet.stream_index);
      if (!st || st->kind != qvv::kKindVideo || packet.stream_index >= channels) continue;
      int64_t ms = packet.pts / 1000;
      if (reverse) ms = std::max<int64_t>(1, duration_ms - ms);
      while (!filter.InputData(packet.stream_index, st->codec_id, ms, packet.data.get(), packet.size, st->width,
                               st->height, reverse ? 1 : 0))
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
      while (!clock.AddDTS(ms, ms * 1000, reverse ? 1 : 0)) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    feed_marker(-3);
  });
  const uint64_t preroll_until = platform::TickCount64() + 10000;  // only for channels that never decode
  for (bool ready = false; !ready && platform::TickCount64() < preroll_until;) {
    ready = true;
    for (int c = 0; c < channels && c < demuxer.context().nb_video; ++c) ready = ready && filter.ReadyFrames(c) >= 8;  // the time-stamp list leaves room for about 12
    if (!ready) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  clock.SetState(engine::kStatePlay);
  end.ended.Wait(platform::kInfinite);
  reader.join();
  std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the last pictures reach the screen
  clock.Stop();
  filter.FinalFilter();
  engine::ResetAllSourceEvents();
  stats.Print(channels);
  return 0;
}

}  // namespace cli
