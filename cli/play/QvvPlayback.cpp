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
#include "cli/play/PlaybackStatistics.h"
#include "cli/play/SoundCheck.h"
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
  SoundCheck sound;
  engine::ACAudioPlayer* audio = nullptr;
  int audio_stream = -1;
  if (options.audio_channel >= 0 && options.audio_channel < engine::kChannelPositions && !reverse &&
      options.speed <= 16) {
    const int number = demuxer.context().nb_video + options.audio_channel;
    const qvv::AVStream* st = demuxer.context().FindStream(number);
    if (st && st->kind == qvv::kKindAudio) {
      audio_stream = number;
      if (sound.Open(options, st->sample_rate, &end)) audio = sound.player();  // else: pictures without sound
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
  // The streams the header declares, taken before the reader runs: reading
  // adds streams for packets of undeclared ones, so the demuxer's list is the
  // reader's while it runs.
  std::array<bool, engine::kChannelPositions> declared{};
  for (int c = 0; c < channels; ++c) declared[static_cast<size_t>(c)] = declared_video(c);
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
      if (fed[static_cast<size_t>(c)].load() == 0 && !declared[static_cast<size_t>(c)]) continue;
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
  clock.Start(&filter, audio);
  clock.SetState(engine::kStatePlay);
  sleeper.WaitFor(end.ended, platform::kInfinite);
  if (std::getenv("DRAVIK_PLAY_DEBUG")) std::fprintf(stderr, "end of the recording at %u ms\n", time.TickCount());
  reader.join();
  sound.DrainAndStop(sleeper);
  sleeper.SleepMs(300);  // the last pictures reach the screen
  clock.Stop();
  filter.FinalFilter();
  engine::ResetAllSourceEvents();
  std::vector<int> listed;
  for (int c = 0; c < channels; ++c)
    if (fed[static_cast<size_t>(c)].load() > 0 || declared_video(c)) listed.push_back(c);
  auto reports = stats.Reports(listed);
  for (ChannelReport& r : reports) r.decode_errors = filter.DecodeErrors(r.channel);
  if (summary) sound.Report(options.audio_channel, stats.white_ticks(), &summary->audio);
  if (summary) {
    summary->dropped_timestamps = guard.dropped();
    summary->preroll_ms = preroll_ms;
    summary->libav_messages = engine::libav_log::Tallies();
  }
  return reports;
}

}  // namespace cli
