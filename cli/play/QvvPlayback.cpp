#include "cli/play/QvvPlayback.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <memory>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <latch>
#include <map>
#include <mutex>
#include <thread>

#include "cli/play/BeepDetector.h"
#include "engine/ACAudioPlayer.h"
#include "engine/ACMovieFilter.h"
#include "engine/ACMovieList.h"
#include "engine/ACPlayClock.h"
#include "engine/EngineGlobals.h"
#include "engine/LibavLog.h"
#include "engine/TimestampGuard.h"
#include "platform/Event.h"
#include "platform/MessageSink.h"

namespace cli {
namespace {

// A picture whose brightness is near white all over: a sync mark.
bool IsWhite(const uint8_t* y, int width, int height) {
  if (!y || width <= 0 || height <= 0) return false;
  uint64_t sum = 0;
  int n = 0;
  for (int row = 0; row < height; row += 8)
    for (int col = 0; col < width; col += 8, ++n) sum += y[static_cast<size_t>(row) * static_cast<size_t>(width) + static_cast<size_t>(col)];
  return n > 0 && sum / static_cast<uint64_t>(n) > 200;
}

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

}  // namespace

std::vector<ChannelReport> PlayQvv(qvv::QvvDemuxer& demuxer, const PlayOptions& options, PlaySummary* summary) {
  platform::SystemTimeSource system_time;
  platform::SystemSleeper system_sleeper;
  platform::TimeSource& time = options.time ? *options.time : system_time;
  platform::Sleeper& sleeper = options.sleeper ? *options.sleeper : system_sleeper;
  sleeper.SleepMs(0);  // announces this thread: a fake clock then waits for it while it sets up
  const int channels = std::clamp(options.channels, 1, engine::kChannelPositions);
  const bool reverse = options.reverse;
  const int64_t duration_ms = demuxer.context().duration > 0 ? demuxer.context().duration / 1000 : 0;
  auto declared_video = [&](int c) {
    const qvv::AVStream* st = demuxer.context().FindStream(c);
    return st && st->kind == qvv::kKindVideo;
  };
  engine::libav_log::Install();
  engine::libav_log::Reset();

  // Time stamps grow in both directions: backwards they count from the end.
  Statistics stats(time, options.audio_channel);
  EndWatcher end;
  engine::ResetAllSourceEvents();
  engine::SourceActiveEvent(engine::SourceKind::Qvv).Set();
  engine::ACMovieFilter filter(options.time, options.sleeper);
  engine::ACParam param;
  param.channel_count = channels;
  filter.InitFilter(&param);
  filter.SetObserver(&stats);
  engine::ACPlayClock clock(&end, options.sleeper, options.time);
  clock.SetSpeed(options.speed);

  // The sound of one channel: audio stream V + c is channel c's, V being the
  // video streams the header declares. None backwards or above normal speed.
  std::unique_ptr<engine::ACAudioPlayer> audio;
  int audio_stream = -1;
  std::mutex tap_mutex;
  std::unique_ptr<BeepDetector> beeps;
  uint64_t played_frames = 0;
  int device_rate = 0;
  if (options.audio_channel >= 0 && options.audio_channel < engine::kChannelPositions && !reverse &&
      options.speed <= 16) {
    const int number = demuxer.context().nb_video + options.audio_channel;
    const qvv::AVStream* st = demuxer.context().FindStream(number);
    if (st && st->kind == qvv::kKindAudio) {
      audio_stream = number;
      audio = std::make_unique<engine::ACAudioPlayer>();
      platform::SoundDeviceOptions device;
      device.driver = options.audio_driver;
      device.wav_path = options.wav_path;
      audio->SetDeviceOptions(device);
      if (audio->OpenOutput(&end, 1, st->sample_rate > 0 ? st->sample_rate : 8000, 16)) {
        device_rate = audio->device()->rate();
        beeps = std::make_unique<BeepDetector>(device_rate);
        audio->device()->SetTap([&](const int16_t* samples, int frames, uint32_t tick) {
          std::lock_guard lock(tap_mutex);
          beeps->Feed(samples, frames, tick);
          played_frames += static_cast<uint64_t>(frames);
        });
        audio->PauseAudio(true);  // until the clock plays
        audio->StartOutput();
      } else {
        audio.reset();  // no device: the pictures play on without sound
      }
    } else {
      std::fprintf(stderr, "dravik-tool play: channel %d has no sound in this recording\n", options.audio_channel);
    }
  }

  // What the pre-roll needs of the reader: the video packets fed per channel,
  // and whether the reader can feed any more before playback starts (it has
  // reached the end, or waits for a full queue or the clock).
  std::array<std::atomic<int>, engine::kChannelPositions> fed{};
  std::atomic<bool> reader_done{false}, reader_waiting{false};
  auto retry = [&](auto&& attempt) {
    if (attempt()) return;
    reader_waiting.store(true);
    do sleeper.SleepMs(2);
    while (!attempt());
    reader_waiting.store(false);
  };
  auto feed_marker = [&](int marker) {
    if (audio) retry([&] { return audio->InputAudio(options.audio_channel, 0, marker, nullptr, 0, 0, 0) != 0; });
    filter.InputData(marker);
    retry([&] { return clock.AddDTS(marker, 0, 0) != 0; });
  };
  // A damaged tag's time stamp must not move the clock. Read backwards, the
  // time stamps jump back by up to two groups at every group.
  engine::TimestampGuard guard(duration_ms, {reverse ? 30000 : 5000, 3});
  filter.PushFrame(1);  // hold the pictures until the clock plays
  feed_marker(-2);
  feed_marker(-1);
  // The reader runs on its own thread; playback starts once every channel has
  // pictures decoded, so that opening the decoders one after another does not
  // put the channels out of step at the start.
  std::latch reader_announced(1);
  std::thread reader([&] {
    sleeper.SleepMs(0);  // announces the thread to the sleeper (a fake clock counts it)
    reader_announced.count_down();
    qvv::ReaderPacket packet;
    int64_t last_handed = INT64_MIN;  // the clock takes each time stamp once, not once per channel
    for (;;) {
      const int r = reverse ? demuxer.ReadPacketReverse(packet) : demuxer.ReadPacket(packet);
      if (r < 0) break;
      const qvv::AVStream* st = demuxer.context().FindStream(packet.stream_index);
      if (audio && st && packet.stream_index == audio_stream && packet.pts != qvv::kNoPtsValue && packet.pts >= 0) {
        const int64_t audio_ms = packet.pts / 1000;
        retry([&] {
          return audio->InputAudio(options.audio_channel, static_cast<uint32_t>(st->codec_id), audio_ms,
                                   packet.data.get(), packet.size, 0, 0) != 0;
        });
        continue;
      }
      if (!st || st->kind != qvv::kKindVideo || packet.stream_index < 0 || packet.stream_index >= channels) continue;
      const int64_t recorded_ms = packet.pts == qvv::kNoPtsValue ? -1 : packet.pts / 1000;
      if (!guard.Accept(recorded_ms)) continue;
      int64_t ms = recorded_ms;
      if (reverse) ms = std::max<int64_t>(1, duration_ms - ms);
      retry([&] {
        return filter.InputData(packet.stream_index, st->codec_id, ms, packet.data.get(), packet.size, st->width,
                                st->height, reverse ? 1 : 0) != 0;
      });
      fed[static_cast<size_t>(packet.stream_index)].fetch_add(1);
      if (ms == last_handed) continue;
      last_handed = ms;
      retry([&] { return clock.AddDTS(ms, ms * 1000, reverse ? 1 : 0) != 0; });
    }
    reader_done.store(true);
    feed_marker(-3);
  });
  // A fake clock must know the reader before the pre-roll's sleeps, or its
  // time runs on while the thread is being started.
  reader_announced.wait();
  const uint32_t preroll_start = time.TickCount();  // the limit is a last resort
  // Ready: 8 pictures per channel, and the decoders done with what they have
  // or with a full queue, seen twice in a row: the play threads then start on
  // a quiet processor, not beside twelve decoders filling their queues. A
  // channel whose decoder has nothing left to decode while the reader cannot
  // feed it more (at the end of the file, or waiting) will not get there: it
  // is not waited for (no video, damaged or a truncated file).
  constexpr int kFullQueue = engine::ACMovieList::kNodes - 2;  // one node pending, one shown
  for (int settled = 0; settled < 2 && static_cast<uint32_t>(time.TickCount() - preroll_start) < 10000;) {
    const bool reader_stuck = reader_done.load() || reader_waiting.load();
    bool ready = true;
    for (int c = 0; c < channels && ready; ++c) {
      if (fed[static_cast<size_t>(c)].load() == 0 && !declared_video(c)) continue;
      const int pictures = filter.ReadyFrames(c);
      ready = (pictures >= 8 && (filter.PacketCount(c) == 0 || pictures >= kFullQueue)) ||
              (reader_stuck && filter.DecoderIdle(c));
    }
    settled = ready ? settled + 1 : 0;
    if (settled < 2) sleeper.SleepMs(5);
  }
  const uint32_t preroll_ms = static_cast<uint32_t>(time.TickCount() - preroll_start);
  if (std::getenv("DRAVIK_PLAY_DEBUG")) {
    std::fprintf(stderr, "pre-roll %u ms, until %u:", preroll_ms, time.TickCount());
    for (int c = 0; c < channels; ++c) std::fprintf(stderr, " %d", filter.ReadyFrames(c));
    std::fprintf(stderr, "\n");
  }
  clock.Start(&filter, audio.get());
  clock.SetState(engine::kStatePlay);
  sleeper.WaitFor(end.ended, platform::kInfinite);
  if (std::getenv("DRAVIK_PLAY_DEBUG")) std::fprintf(stderr, "end of the recording at %u ms\n", time.TickCount());
  reader.join();
  if (audio) {
    // The last sound still queued in the device plays out (at most a second),
    // then the device stops: it would only play silence.
    int64_t heard = audio->Position();
    for (int i = 0; i < 40; ++i) {
      sleeper.SleepMs(25);
      const int64_t now = audio->Position();
      if (now == heard) break;
      heard = now;
    }
    audio->StopOutput();
  }
  sleeper.SleepMs(300);  // the last pictures reach the screen
  clock.Stop();
  if (audio) audio->device()->SetTap(nullptr);
  filter.FinalFilter();
  engine::ResetAllSourceEvents();
  std::vector<int> listed;
  for (int c = 0; c < channels; ++c)
    if (fed[static_cast<size_t>(c)].load() > 0 || declared_video(c)) listed.push_back(c);
  auto reports = stats.Reports(listed);
  for (ChannelReport& r : reports) r.decode_errors = filter.DecodeErrors(r.channel);
  if (summary && audio) {
    AudioReport& a = summary->audio;
    a.played = true;
    a.channel = options.audio_channel;
    a.decoded_packets = audio->decoded_packets();
    a.failed_packets = audio->failed_packets();
    std::lock_guard lock(tap_mutex);
    a.played_ms = device_rate > 0 ? static_cast<int64_t>(played_frames * 1000 / static_cast<uint64_t>(device_rate)) : 0;
    // Each white picture against the nearest beep (marks are a second apart).
    for (const uint32_t shown : stats.white_ticks()) {
      double best = 1e18;
      for (const double onset : beeps->onsets()) {
        const double apart = static_cast<double>(static_cast<int32_t>(shown - static_cast<uint32_t>(onset))) -
                             (onset - static_cast<double>(static_cast<uint32_t>(onset)));
        if (std::abs(apart) < std::abs(best)) best = apart;
      }
      if (std::abs(best) >= 500) continue;
      ++a.marks;
      a.offsets_ms.push_back(static_cast<int64_t>(std::lround(best)));
      a.av_offset_ms = std::max<int64_t>(a.av_offset_ms, static_cast<int64_t>(std::lround(std::abs(best))));
    }
    if (!a.offsets_ms.empty()) {
      std::vector<int64_t> sorted;
      for (const int64_t o : a.offsets_ms) sorted.push_back(std::abs(o));
      std::sort(sorted.begin(), sorted.end());
      a.median_offset_ms = sorted[sorted.size() / 2];
    }
  }
  if (summary) {
    summary->dropped_timestamps = guard.dropped();
    summary->preroll_ms = preroll_ms;
    summary->libav_messages = engine::libav_log::Tallies();
  }
  return reports;
}

}  // namespace cli
