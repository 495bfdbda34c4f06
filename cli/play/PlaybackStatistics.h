#pragma once
// What a playback run saw: every picture each channel showed and when, the
// largest skew between channels showing the same time stamp, the white
// pictures of sync marks on one channel; and the clock's end notice.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <vector>

#include "cli/play/QvvPlayback.h"
#include "engine/ACMovieFilter.h"
#include "platform/Event.h"
#include "platform/MessageSink.h"
#include "platform/Sleeper.h"

namespace cli {

// A picture whose brightness is near white all over: a sync mark.
bool IsWhite(const uint8_t* y, int width, int height);

class Statistics : public engine::PictureObserver {
 public:
  Statistics(platform::TimeSource& time, int marked_channel) : time_(time), marked_channel_(marked_channel) {}

  void OnPicture(int channel, int64_t time_ms, const uint8_t* yuv, int width, int height, const char* text) override {
    if (text || (time_ms == 0 && width == engine::ACMovieFilter::kBlankWidth &&
                 height == engine::ACMovieFilter::kBlankHeight))
      return;  // the blank picture of a channel with nothing to show
    const uint32_t now = time_.TickCount();
    const bool white = channel == marked_channel_ && IsWhite(yuv, width, height);
    std::lock_guard lock(mutex_);
    if (white && !last_white_) white_ticks_.push_back(now);
    if (channel == marked_channel_) last_white_ = white;
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

  std::vector<ChannelReport> Reports(const std::vector<int>& channels) {
    std::lock_guard lock(mutex_);
    const bool debug = std::getenv("DRAVIK_PLAY_DEBUG") != nullptr;
    std::vector<ChannelReport> reports;
    for (const int ch : channels) {
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

  int Shown(int channel) {
    std::lock_guard lock(mutex_);
    const auto it = channels_.find(channel);
    return it == channels_.end() ? 0 : it->second.shown;
  }

  std::vector<uint32_t> white_ticks() {
    std::lock_guard lock(mutex_);
    return white_ticks_;
  }

 private:
  struct Channel {
    int shown = 0;
    int64_t first = 0, last = 0;
    bool order_ok = true;
    uint32_t first_tick = 0, last_tick = 0;
  };
  platform::TimeSource& time_;
  const int marked_channel_;  // the channel whose white pictures are timed
  std::mutex mutex_;
  bool last_white_ = false;
  std::vector<uint32_t> white_ticks_;  // when each white picture was shown
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


}  // namespace cli
