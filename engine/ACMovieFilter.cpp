#include "engine/ACMovieFilter.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <mutex>
#include <vector>

#include "QVVReader/RecordParsers.h"
#include "engine/ACH264Decoder.h"
#include "engine/ACMediaList.h"
#include "engine/ACMovieList.h"
#include "engine/ACRAWDataList.h"
#include "engine/ACSnapshotFilter.h"
#include "engine/AlgProtocolList.h"
#include "engine/ImplACVirtualMovie.h"
#include "engine/OverlayTrack.h"
#include "engine/EngineGlobals.h"
#include "platform/Event.h"
#include "platform/TickCount.h"

namespace engine {
namespace {

using platform::Event;
constexpr int64_t kNotWaiting = std::numeric_limits<int64_t>::max();
constexpr int kAnswerSliceMs = 50;  // a second waiter for the same answer looks again this often

}  // namespace

// Everything of one channel position.
struct ACMovieFilter::Position {
  ACMediaList packets;
  ACMovieList frames;
  ACRAWDataList raw_alg;
  AlgProtocolList overlays;
  qvv::AlgParse alg_parser;
  qvv::AlgProtocol dropped_record;  // the play thread's scratch for records it drops
  std::unique_ptr<ACH264Decoder> decoder;  // the decode thread's
  // The stream's decoder set-up, under the packet ring's lock; the serial
  // tells the decode thread that it changed.
  std::vector<uint8_t> extradata;
  uint64_t extradata_serial = 0;

  // The pane: swapped only while the play thread is not drawing on it.
  std::mutex surface_mutex;
  std::condition_variable surface_idle;
  platform::Surface* surface = nullptr;  // guarded by surface_mutex
  // Draws into the surface; replaced with it, used by the play thread.
  std::unique_ptr<ImplACVirtualMovie> movie;  // guarded by surface_mutex
  bool drawing = false;                  // guarded by surface_mutex

  // Flush hand-shakes as generation counters: a request is a new number, it
  // is passed on (decode -> play, alg -> play) and the answer repeats it, so a
  // late answer never counts for a later request.
  std::atomic<uint64_t> frame_flush{0}, play_flush{0}, video_answer{0};
  std::atomic<uint64_t> alg_flush{0}, overlay_flush{0}, alg_answer{0};
  Event video_answered{Event::Mode::AutoReset};
  Event alg_answered{Event::Mode::AutoReset};

  // Wake-ups instead of polls.
  Event decode_wake{Event::Mode::AutoReset};  // a packet, a free frame node, a flush, the stop
  Event alg_wake{Event::Mode::AutoReset};     // a block, a flush, the stop
  Event play_wake{Event::Mode::AutoReset};    // a frame, the clock time waited for, a flush, hold, the stop
  std::atomic<int64_t> play_waits_for{kNotWaiting};  // the clock time the play thread waits for

  std::atomic<bool> closed{false};
  std::atomic<bool> decoding{false};  // the decode thread holds a packet (set under the packets' lock)
  std::atomic<int> decode_errors{0};
  // Room in the overlay ring: the play thread took records.
  Event overlay_space{Event::Mode::AutoReset};
  std::atomic<uint64_t> alg_wakeups{0};     // passes of the alg thread, waits included
  std::atomic<uint64_t> overlays_taken{0};  // records the play thread took for drawing
};

// The state the threads share with the filter; they keep it alive.
struct ACMovieFilter::Core {
  Core(platform::TimeSource* t, platform::Sleeper* s)
      : time(t ? t : &system_time), sleeper(s ? s : &system_sleeper) {
    for (auto& p : positions) p = std::make_unique<Position>();
    // Black: no light and neutral colour (all zero would be green).
    constexpr int kLuma = kBlankWidth * kBlankHeight;
    blank.reset(new uint8_t[kLuma * 3 / 2]());
    std::fill(blank.get() + kLuma, blank.get() + kLuma * 3 / 2, uint8_t{128});
  }

  void ThreadStarted();
  void DecodeLoop(int channel, const platform::StopToken& stop);
  void PlayLoop(int channel, const platform::StopToken& stop);
  void AlgLoop(int channel, const platform::StopToken& stop);
  void ProcessAlgData(int channel, const uint8_t* data, int size, uint64_t flush_seen);
  void Show(Position& p, int channel, int64_t time, const uint8_t* pixels, int width, int height);
  void TakeOverlay(Position& p, int channel, OverlayTrack& overlay, int64_t time_ms, uint8_t* picture, int width,
                   int height);
  void ShowMovieandText(int channel, int64_t time_ms, const uint8_t* picture, int width, int height, const char* text);
  bool Stopping(const platform::StopToken& token) const { return token.StopRequested() || stop.load(); }
  // Waits until each wanted answer arrived (want[c] == 0: none wanted), for
  // at most kAnswerWaitMs in all. False, reported, when one did not.
  bool AwaitAnswers(const std::array<uint64_t, kChannelPositions>& want,
                    std::atomic<uint64_t> Position::*answer, Event Position::*answered, const char* what);
  Position& At(int channel) { return *positions[static_cast<size_t>(channel)]; }
  const Position& At(int channel) const { return *positions[static_cast<size_t>(channel)]; }

  platform::SystemTimeSource system_time;
  platform::SystemSleeper system_sleeper;
  platform::TimeSource* time;
  platform::Sleeper* sleeper;
  std::array<std::unique_ptr<Position>, kChannelPositions> positions;
  int channel_count = -1;
  std::atomic<ACSnapshotFilter*> next_filter{nullptr};
  std::atomic<PictureObserver*> observer{nullptr};
  std::atomic<int> show_mode{1};

  std::atomic<bool> stop{false};
  std::atomic<int> started_threads{0};
  Event thread_started{Event::Mode::AutoReset};
  std::atomic<bool> step{false};
  Event hold{Event::Mode::ManualReset};
  Event released{Event::Mode::ManualReset, true};  // the opposite of hold, to wake on
  std::atomic<int64_t> clock_time{0};
  std::atomic<int64_t> previous_clock_time{0};
  std::atomic<int> clock_step{-1};
  std::atomic<int> speed{16};
  std::atomic<bool> backward{false};
  std::atomic<int> unanswered{0};
  std::unique_ptr<uint8_t[]> blank;
};

ACMovieFilter::ACMovieFilter(platform::TimeSource* time, platform::Sleeper* sleeper)
    : core_(std::make_shared<Core>(time, sleeper)) {}

ACMovieFilter::~ACMovieFilter() {
  FinalFilter();
  // A thread still running after FinalFilter's wait is left running on the
  // shared state (which it keeps alive) rather than waited for without end.
  for (auto& t : threads_) {
    for (platform::WorkerThread* w : {&t.decode, &t.play, &t.alg}) {
      if (w->Running()) w->Stop(0);
    }
  }
}

bool ACMovieFilter::DecodeThreadRunning(int channel) const { return threads_[static_cast<size_t>(channel)].decode.Running(); }
bool ACMovieFilter::PlayThreadRunning(int channel) const { return threads_[static_cast<size_t>(channel)].play.Running(); }
bool ACMovieFilter::AlgThreadRunning(int channel) const { return threads_[static_cast<size_t>(channel)].alg.Running(); }

int ACMovieFilter::InitFilter(const ACParam* param) {
  Core& c = *core_;
  bool ok = true;
  if (param) {
    c.channel_count = std::clamp(param->channel_count, 0, kChannelPositions);
    for (int ch = 0; ch < kChannelPositions; ++ch) {
      Position& p = c.At(ch);
      platform::Surface* surface = ch < c.channel_count ? param->windows[static_cast<size_t>(ch)] : nullptr;
      // A play thread may be drawing on the old surface: it is swapped once that ends.
      std::unique_lock lock(p.surface_mutex);
      if (!p.surface_idle.wait_for(lock, std::chrono::milliseconds(kAnswerWaitMs), [&] { return !p.drawing; })) {
        std::fprintf(stderr, "dravik: channel %d is still drawing after %d ms; its surface was not changed\n", ch + 1,
                     kAnswerWaitMs);
        c.unanswered.fetch_add(1);
        ok = false;
        continue;
      }
      if (p.surface != surface || !p.movie) {
        p.movie.reset();
        if (surface) {
          p.movie = std::make_unique<ImplACVirtualMovie>();
          p.movie->Open(surface);
        }
      }
      p.surface = surface;
    }
  }
  c.stop.store(false);
  c.started_threads.store(0);
  int starting = 0;
  auto start = [&](platform::WorkerThread& thread, void (Core::*loop)(int, const platform::StopToken&), int ch) {
    if (thread.Running()) return;
    thread.Join(platform::kInfinite);  // one that ended late: returns at once
    if (thread.Start([core = core_, loop, ch](const platform::StopToken& s) { ((*core).*loop)(ch, s); })) {
      ++starting;
    } else {
      std::fprintf(stderr, "dravik: could not start the %s thread of channel %d\n", thread.name().c_str(), ch + 1);
      ok = false;
    }
  };
  for (int ch = 0; ch < kChannelPositions; ++ch) {
    Threads& t = threads_[static_cast<size_t>(ch)];
    if (!t.decode.Running()) {
      start(t.decode, &Core::DecodeLoop, ch);
      start(t.play, &Core::PlayLoop, ch);
    }
    start(t.alg, &Core::AlgLoop, ch);
  }
  // Returns with every thread running, so that input and the clock that
  // follow find them (and a fake clock knows them all).
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (c.started_threads.load() < starting) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      std::fprintf(stderr, "dravik: %d of %d engine threads did not come up within 5 s\n",
                   starting - c.started_threads.load(), starting);
      return 0;
    }
    c.thread_started.Wait(static_cast<int>(left.count()));
  }
  return ok ? 1 : 0;
}

int ACMovieFilter::FinalFilter() {
  Core& c = *core_;
  c.stop.store(true);
  const bool any = running_threads() > 0;
  for (int ch = 0; ch < kChannelPositions; ++ch) {
    Threads& t = threads_[static_cast<size_t>(ch)];
    t.decode.RequestStop();
    t.play.RequestStop();
    t.alg.RequestStop();
    Position& p = c.At(ch);
    p.decode_wake.Set();  // wake every wait
    p.alg_wake.Set();
    p.play_wake.Set();
    p.overlay_space.Set();
  }
  c.released.Set();
  if (any) c.sleeper->SleepMs(100);
  // Threads cannot be killed safely: one that does not end in time is
  // reported and keeps running on the shared state (see the destructor).
  // A thread may still have a sleep to finish: the joins wait through the
  // sleeper, which lets time go on for it.
  {
    const uint32_t start = c.time->TickCount();
    for (int ch = 0; ch < kChannelPositions; ++ch) {
      Threads& t = threads_[static_cast<size_t>(ch)];
      for (platform::WorkerThread* w : {&t.decode, &t.play, &t.alg}) {
        const uint32_t waited = std::min<uint32_t>(platform::TicksSince(start, c.time->TickCount()), kStopWaitMs);
        if (!w->Join(kStopWaitMs - static_cast<int>(waited), *c.sleeper)) {
          std::fprintf(stderr, "dravik: the %s thread of channel %d did not stop within %d ms\n", w->name().c_str(),
                       ch + 1, kStopWaitMs);
          c.unanswered.fetch_add(1);
        }
      }
    }
  }
  for (int ch = 0; ch < kChannelPositions; ++ch) {
    if (threads_[static_cast<size_t>(ch)].play.Running()) continue;  // may still draw: keeps its surface
    Position& p = c.At(ch);
    {
      std::lock_guard lock(p.surface_mutex);
      p.surface = nullptr;
      p.movie.reset();
    }
    if (threads_[static_cast<size_t>(ch)].decode.Running()) continue;
    p.decoder.reset();
    ObjectLock lock(p.frames);
    p.frames.ReleaseBlocks();
  }
  return 1;
}

uint64_t ACMovieFilter::AlgWakeups(int channel) const {
  return channel >= 0 && channel < kChannelPositions ? core_->At(channel).alg_wakeups.load() : 0;
}

uint64_t ACMovieFilter::OverlaysTaken(int channel) const {
  return channel >= 0 && channel < kChannelPositions ? core_->At(channel).overlays_taken.load() : 0;
}

int ACMovieFilter::OverlaysQueued(int channel) {
  if (channel < 0 || channel >= kChannelPositions) return 0;
  Position& p = core_->At(channel);
  ObjectLock lock(p.overlays);
  return p.overlays.Count();
}

void ACMovieFilter::SetFilter(ACSnapshotFilter* next) { core_->next_filter.store(next); }
void ACMovieFilter::SetObserver(PictureObserver* observer) { core_->observer.store(observer); }
void ACMovieFilter::SetShowMode(int mode) { core_->show_mode.store(mode); }
int64_t ACMovieFilter::clock_time() const { return core_->clock_time.load(); }
int ACMovieFilter::unanswered_waits() const { return core_->unanswered.load(); }

int ACMovieFilter::running_threads() const {
  int n = 0;
  for (const auto& t : threads_) n += t.decode.Running() + t.play.Running() + t.alg.Running();
  return n;
}

int ACMovieFilter::movie_count() const {
  int n = 0;
  for (const auto& p : core_->positions) {
    std::lock_guard lock(p->surface_mutex);
    n += p->surface != nullptr;
  }
  return n;
}

int ACMovieFilter::InputData(int marker) {
  Core& c = *core_;
  const uint32_t start = c.time->TickCount();
  for (int ch = 0; ch < kChannelPositions; ++ch) {
    Position& p = c.At(ch);
    for (;;) {
      bool stored = false;
      {
        ObjectLock lock(p.packets);
        if (!p.packets.Full()) stored = p.packets.Put(0, marker, nullptr, 0, 0, 0, 0) == 1;
      }
      p.decode_wake.Set();
      if (stored) break;
      // A full ring empties only while its decode thread runs.
      if (c.stop.load() || !DecodeThreadRunning(ch)) return 0;
      if (platform::TicksSince(start, c.time->TickCount()) >= static_cast<uint32_t>(kAnswerWaitMs)) {
        std::fprintf(stderr, "dravik: channel %d took no packet for %d ms; marker %d not delivered\n", ch + 1,
                     kAnswerWaitMs, marker);
        c.unanswered.fetch_add(1);
        return 0;
      }
      c.sleeper->SleepMs(2);
    }
  }
  return 1;
}

int ACMovieFilter::InputData(int channel, int codec_id, int64_t time_ms, const uint8_t* data, int size, int width,
                             int height, int backward) {
  if (channel < 0 || channel >= kChannelPositions || size < 0 || (size > 0 && !data)) return -1;
  Position& p = core_->At(channel);
  int r;
  {
    ObjectLock lock(p.packets);
    if (!AnySourceActive()) return 1;  // in flight after a stop: dropped
    r = p.packets.Put(static_cast<uint32_t>(codec_id), time_ms, data, static_cast<uint32_t>(size),
                      static_cast<uint32_t>(width), static_cast<uint32_t>(height), static_cast<uint32_t>(backward));
  }
  if (r) p.decode_wake.Set();
  return r;
}

int ACMovieFilter::InputAlgData(int channel, const uint8_t* data, int size) {
  if (channel < 0 || channel >= kChannelPositions || size < 0 || (size > 0 && !data)) return -1;
  Position& p = core_->At(channel);
  int r;
  {
    ObjectLock lock(p.raw_alg);
    if (!AnySourceActive()) return 1;
    r = p.raw_alg.Put(data, size);
  }
  if (r) p.alg_wake.Set();
  return r;
}

void ACMovieFilter::SetExtradata(int channel, std::span<const uint8_t> extradata) {
  if (channel < 0 || channel >= kChannelPositions) return;
  Position& p = core_->At(channel);
  ObjectLock lock(p.packets);
  p.extradata.assign(extradata.begin(), extradata.end());
  ++p.extradata_serial;
}

void ACMovieFilter::CurDTS(int64_t clock_ms, int step_ms, int speed, bool backward) {
  Core& c = *core_;
  // The end of the recording (-3) leaves the clock where it is, or the last
  // pictures would wait for a time that never comes; -1 and -2 start over at 0.
  if (clock_ms == -3) return;
  if (clock_ms < 0) clock_ms = 0;
  c.previous_clock_time.store(c.clock_time.load());
  c.backward.store(backward);
  c.clock_time.store(clock_ms);
  c.clock_step.store(step_ms);
  c.speed.store(speed);
  // Wakes the play threads whose picture is now due, and no others.
  for (auto& p : c.positions) {
    if (clock_ms >= p->play_waits_for.load()) p->play_wake.Set();
  }
}

void ACMovieFilter::OneFrame(int on) { core_->step.store(on != 0); }

void ACMovieFilter::PushFrame(int on) {
  Core& c = *core_;
  if (on) {
    c.released.Reset();
    c.hold.Set();
  } else {
    c.hold.Reset();
    c.released.Set();
  }
  for (auto& p : c.positions) p->play_wake.Set();  // the play threads see it at once
}

bool ACMovieFilter::ReadyToStart() {
  constexpr int kFullQueue = ACMovieList::kNodes - 2;
  bool any = false, ready = true;
  for (int c = 0; c < kChannelPositions; ++c) {
    const int pictures = ReadyFrames(c);
    any |= pictures > 0;
    if (pictures == 0 && DecoderIdle(c)) continue;  // nothing for this channel (yet)
    ready = ready && (pictures >= 8 || pictures >= kFullQueue || DecoderIdle(c));
  }
  return any && ready;
}

void ACMovieFilter::SetChannelClosed(int channel, bool closed) {
  if (channel >= 0 && channel < kChannelPositions) core_->At(channel).closed.store(closed);
}

int ACMovieFilter::PacketCount(int channel) {
  Position& p = core_->At(channel);
  ObjectLock lock(p.packets);
  return p.packets.Count();
}

int ACMovieFilter::DecodeErrors(int channel) const {
  if (channel < 0 || channel >= kChannelPositions) return 0;
  return core_->At(channel).decode_errors.load();
}

int ACMovieFilter::DroppedPackets(int channel) {
  if (channel < 0 || channel >= kChannelPositions) return 0;
  Position& p = core_->At(channel);
  int n;
  {
    ObjectLock lock(p.packets);
    n = p.packets.dropped();
  }
  ObjectLock lock(p.raw_alg);
  return n + p.raw_alg.dropped();
}

bool ACMovieFilter::DecoderIdle(int channel) {
  Position& p = core_->At(channel);
  ObjectLock lock(p.packets);
  return p.packets.Count() == 0 && !p.decoding.load();
}

int ACMovieFilter::ReadyFrames(int channel) {
  Position& p = core_->At(channel);
  ObjectLock lock(p.frames);
  return p.frames.ReadyCount();
}

bool ACMovieFilter::Core::AwaitAnswers(const std::array<uint64_t, kChannelPositions>& want,
                                       std::atomic<uint64_t> Position::*answer, Event Position::*answered,
                                       const char* what) {
  const uint32_t start = time->TickCount();
  bool all = true;
  for (int ch = 0; ch < kChannelPositions; ++ch) {
    if (want[static_cast<size_t>(ch)] == 0) continue;
    Position& p = At(ch);
    // A filter being stopped answers nothing more: its queues are empty
    // already and threads started again begin with the flush.
    while ((p.*answer).load() < want[static_cast<size_t>(ch)] && !stop.load()) {
      const uint32_t waited = platform::TicksSince(start, time->TickCount());
      if (waited >= static_cast<uint32_t>(kAnswerWaitMs)) {
        std::fprintf(stderr, "dravik: channel %d did not answer the %s within %d ms\n", ch + 1, what, kAnswerWaitMs);
        all = false;
        break;
      }
      sleeper->WaitFor(p.*answered, std::min<int>(kAnswerSliceMs, kAnswerWaitMs - static_cast<int>(waited)));
    }
  }
  if (!all) unanswered.fetch_add(1);
  return all;
}

bool ACMovieFilter::EmptyData() {
  Core& c = *core_;
  std::array<uint64_t, kChannelPositions> want{};
  for (int ch = 0; ch < kChannelPositions; ++ch) {
    Position& p = c.At(ch);
    const uint64_t request = p.frame_flush.fetch_add(1) + 1;
    {
      ObjectLock lock(p.frames);
      p.frames.Clear();
    }
    {
      ObjectLock lock(p.packets);
      p.packets.Clear();
    }
    p.decode_wake.Set();
    // Only threads that run can answer (decode thread -> play thread -> answer).
    if (DecodeThreadRunning(ch) && PlayThreadRunning(ch)) want[static_cast<size_t>(ch)] = request;
  }
  return c.AwaitAnswers(want, &Position::video_answer, &Position::video_answered, "picture flush");
}

bool ACMovieFilter::EmptyAlgData(int channel) {
  Core& c = *core_;
  const bool all = channel < 0 || channel >= kChannelPositions;
  std::array<uint64_t, kChannelPositions> want{};
  for (int ch = 0; ch < kChannelPositions; ++ch) {
    if (!all && ch != channel) continue;
    Position& p = c.At(ch);
    const uint64_t request = p.alg_flush.fetch_add(1) + 1;
    {
      ObjectLock lock(p.overlays);
      p.overlays.Clear();
    }
    {
      ObjectLock lock(p.raw_alg);
      p.raw_alg.Clear();
    }
    p.alg_wake.Set();
    p.overlay_space.Set();
    if (AlgThreadRunning(ch) && PlayThreadRunning(ch)) want[static_cast<size_t>(ch)] = request;
  }
  return c.AwaitAnswers(want, &Position::alg_answer, &Position::alg_answered, "overlay flush");
}

// ------------------------------------------------------------------ decode thread

void ACMovieFilter::Core::ThreadStarted() {
  // Announces the thread to the sleeper (a fake clock in tests counts it from
  // now on); a zero sleep costs nothing on the real one.
  sleeper->SleepMs(0);
  started_threads.fetch_add(1);
  thread_started.Set();
}

void ACMovieFilter::Core::DecodeLoop(int channel, const platform::StopToken& stop) {
  ThreadStarted();
  if (Stopping(stop)) return;
  Position& p = At(channel);
  std::unique_ptr<uint8_t[]> input(new uint8_t[kInputBuffer]);
  uint64_t flush_seen = 0;
  uint64_t extradata_seen = 0;
  std::vector<uint8_t> extradata;
  while (!Stopping(stop)) {
    const uint64_t flush = p.frame_flush.load();
    if (flush != flush_seen) {
      flush_seen = flush;
      {
        ObjectLock lock(p.packets);
        p.packets.Clear();
      }
      p.play_flush.store(flush);
      p.play_wake.Set();
    }
    MediaPacketInfo info;
    bool got;
    bool new_extradata = false;
    {
      ObjectLock lock(p.packets);
      got = p.packets.Get(info, input.get(), kInputBuffer);
      p.decoding.store(got);
      // Taken with a picture's packet: a marker in between must not use it up.
      if (got && info.time >= 0 && p.extradata_serial != extradata_seen) {
        extradata_seen = p.extradata_serial;
        extradata = p.extradata;
        new_extradata = true;
      }
    }
    if (!got) {
      sleeper->WaitFor(p.decode_wake, 1000);  // woken by packets, flushes and the stop
      continue;
    }
    uint32_t width = info.width, height = info.height, size = 0;
    int key = 0;
    if (info.time < 0) {
      if (info.time == -1 && p.decoder) p.decoder->SetWidth(0);  // reopen on the next packet
      if (info.time == -2) {
        ObjectLock lock(p.frames);
        p.frames.Clear();
      }
      width = height = 0;
    } else {
      if (!p.decoder) p.decoder = std::make_unique<ACH264Decoder>();
      p.decoder->SetCodecId(static_cast<int>(info.codec_id));
      if (new_extradata) p.decoder->SetExtradata(extradata);
      // The picture stays in the decoder and is written straight into the
      // queue's node below: one copy per picture.
      p.decoder->Decode(channel, input.get(), static_cast<int>(info.size), &key, static_cast<int>(info.width),
                        static_cast<int>(info.height), nullptr, 0);
      if (p.decoder->failed()) p.decode_errors.fetch_add(1);
      if (p.decoder->got_picture()) {
        // The picture's own size: the container's may be missing or wrong.
        width = static_cast<uint32_t>(p.decoder->picture_width());
        height = static_cast<uint32_t>(p.decoder->picture_height());
        size = std::min<uint32_t>(width * height * 3 / 2, kOutputBuffer);
      }
    }
    // Append: publish the pending node, take a free one, fill it under the lock
    // (a flush may clear the queue at any moment).
    for (;;) {
      bool taken = false;
      {
        ObjectLock lock(p.frames);
        if (FrameNode* node = p.frames.AppendPending(size)) {
          node->time = info.time;
          node->width = width;
          node->height = height;
          if (size && !p.decoder->CopyPicture(node->pixels.get(), size)) node->size = 0;
          // A key frame read backwards closes the group before it; so does a
          // marker, or the last group read would never be turned around.
          if ((key && info.backward) || (info.time < 0 && p.frames.HasGroupMark())) p.frames.ReverseGroupAndMark();
          taken = true;
        }
      }
      if (Stopping(stop)) {
        p.decoding.store(false);
        return;
      }
      if (p.frame_flush.load() != flush_seen) break;  // abandoned: the flush is carried out above
      if (taken) {
        p.play_wake.Set();
        break;
      }
      sleeper->WaitFor(p.decode_wake, 100);  // the play thread frees a node as it takes one
    }
    p.decoding.store(false);
  }
}

// ------------------------------------------------------------------ play thread

void ACMovieFilter::Core::Show(Position& p, int channel, int64_t t, const uint8_t* pixels, int width, int height) {
  if (p.closed.load()) {
    ShowMovieandText(channel, 0, blank.get(), kBlankWidth, kBlankHeight, "Closed");
  } else {
    ShowMovieandText(channel, t, pixels, width, height, nullptr);
  }
}

void ACMovieFilter::ShowMovie(int channel, int64_t time_ms, const uint8_t* picture, int width, int height) {
  core_->ShowMovieandText(channel, time_ms, picture, width, height, nullptr);
}

void ACMovieFilter::ShowMovieandText(int channel, int64_t time_ms, const uint8_t* picture, int width, int height,
                                     const char* text) {
  core_->ShowMovieandText(channel, time_ms, picture, width, height, text);
}

void ACMovieFilter::Core::ShowMovieandText(int channel, int64_t time_ms, const uint8_t* picture, int width, int height,
                                           const char* text) {
  if (channel < 0 || channel >= kChannelPositions || !picture || width <= 0 || height <= 0) return;
  if (PictureObserver* o = observer.load()) o->OnPicture(channel, time_ms, picture, width, height, text);
  // The snapshot filter sees every picture first (it only copies the ones asked for).
  if (ACSnapshotFilter* next = next_filter.load()) {
    ObjectLock lock(*next);
    next->InputFrame(channel, picture, width, height);
  }
  Position& p = At(channel);
  ImplACVirtualMovie* movie;
  {
    std::lock_guard lock(p.surface_mutex);
    movie = p.movie.get();
    if (!movie) return;
    p.drawing = true;
  }
  movie->SetShowMode(show_mode.load());
  if (text) {
    movie->ShowPictureWithText(picture, width, height, channel, text);
  } else {
    movie->ShowPicture(picture, time_ms, width, height, channel);
  }
  {
    std::lock_guard lock(p.surface_mutex);
    p.drawing = false;
  }
  p.surface_idle.notify_all();
}

void ACMovieFilter::Core::PlayLoop(int channel, const platform::StopToken& stop) {
  ThreadStarted();
  Position& p = At(channel);
  PixelBlock picture;  // the picture shown last (swapped with the queue's nodes)
  OverlayTrack overlay;  // the analysis record drawn into this channel's pictures
  int64_t current = 0, previous = 0;
  int width = 0, height = 0;
  bool held = false;  // a picture is in the buffer
  uint32_t last_advance = time->TickCount(), last_display = last_advance;
  uint64_t flush_seen = 0, overlay_flush_seen = 0;
  // The alg thread has emptied its ring; the play thread answers, also while
  // it waits for the clock (a paused or halted clock may not come for long).
  auto answer_overlay_flush = [&] {
    const uint64_t overlay_flush = p.overlay_flush.load();
    if (overlay_flush == overlay_flush_seen) return;
    overlay_flush_seen = overlay_flush;
    {
      ObjectLock lock(p.overlays);
      p.overlays.Clear();
    }
    overlay.Reset();
    p.alg_answer.store(overlay_flush);
    p.alg_answered.Set();
  };
  bool hold_shown = false;
  uint32_t last_hold_show = 0;
  int64_t half_wait = -1;  // the current picture's pacing wait; -1 until worked out
  while (!Stopping(stop)) {
    const uint64_t flush = p.play_flush.load();
    if (flush != flush_seen) {
      flush_seen = flush;
      {
        ObjectLock lock(p.frames);
        p.frames.Clear();
      }
      current = previous = 0;
      half_wait = -1;
      held = false;
      clock_time.store(0);
      p.video_answer.store(flush);
      p.video_answered.Set();
    }
    answer_overlay_flush();
    if (hold.IsSet()) {
      // Re-shown every 200 ms while held; every channel wakes at once on
      // release, and a flush is answered at once.
      const uint32_t now = time->TickCount();
      const uint32_t since = platform::TicksSince(last_hold_show, now);
      if (!hold_shown || since >= 200) {
        if (held) {
          Show(p, channel, current, picture.get(), width, height);
        } else {
          Show(p, channel, 0, blank.get(), kBlankWidth, kBlankHeight);
        }
        hold_shown = true;
        last_hold_show = now;
      }
      Event* wake[] = {&released, &p.play_wake};
      sleeper->WaitForAny(wake, static_cast<int>(200 - std::min<uint32_t>(since, 200)));
      continue;
    }
    hold_shown = false;
    if (held && current >= 1 && previous >= 0) {
      if (half_wait < 0) {  // once per picture: half the interval to the one before
        int64_t delta = std::llabs(current - previous);
        if (delta == 0) delta = 10;
        previous = current;
        // A clock that has not stepped yet (-1) gives no wait.
        half_wait = std::max<int64_t>(0, std::min<int64_t>(delta, clock_step.load()) / 2);
      }
      const uint32_t now = time->TickCount();
      const uint32_t since = platform::TicksSince(last_advance, now);
      if (since < half_wait && !step.load() && speed.load() == 16 && !backward.load()) {
        // Cut short by a flush, a hold or the stop; other wake-ups look again.
        sleeper->WaitFor(p.play_wake, static_cast<int>(half_wait - since));
        continue;
      }
      if (current > clock_time.load() + kAheadLimitMs) {
        sleeper->SleepMs(50);  // too far ahead of the clock: hold it
        continue;
      }
      last_advance = now;
    }
    FrameInfo info;
    bool fetched;
    {
      ObjectLock lock(p.frames);
      fetched = p.frames.Fetch(info, picture);
    }
    p.decode_wake.Set();  // a node went back to the free list
    if (!fetched) {
      const uint32_t now = time->TickCount();
      if (!step.load()) {
        if (platform::TicksSince(last_display, now) >= 1001) {
          Show(p, channel, 0, blank.get(), kBlankWidth, kBlankHeight);
          last_display = now;
          held = false;
          // A pause, not a sleep: a picture or the start of playback must
          // not find this channel asleep while the others go on. What woke
          // it (a picture, a flush, the stop) is looked at before any
          // further wait: the wake-up is used up.
          sleeper->WaitFor(p.play_wake, 100);
          continue;
        }
      } else if (held) {
        Show(p, channel, current, picture.get(), width, height);
        last_display = now;
      }
      // Woken by the next decoded frame; the time-out keeps the blank picture
      // and the flags going while nothing arrives.
      sleeper->WaitFor(p.play_wake, held || step.load() ? 10 : 250);
      continue;
    }
    if (info.time < 0) {  // a marker frame
      // The clock moves its own time back to 0 on the marker. A play thread
      // must not: one that reached its marker late would pull every channel
      // back behind the others.
      current = 0;
      continue;
    }
    previous = current;
    current = info.time;
    half_wait = -1;
    width = static_cast<int>(info.width);
    height = static_cast<int>(info.height);
    held = info.size > 0;
    // A picture waits until the clock reaches it. Every channel follows the
    // one clock, so all show the same time stamp within a wake-up of each
    // other (showing anywhere up to 200 ms early lets channels drift that far
    // apart). The clock wakes this thread when the time comes (CurDTS).
    while (held && !Stopping(stop) && p.play_flush.load() == flush_seen && !hold.IsSet()) {
      answer_overlay_flush();
      p.play_waits_for.store(current);
      if (current <= clock_time.load()) break;  // looked at after publishing the wait: no wake-up lost
      sleeper->WaitFor(p.play_wake, 100);
    }
    p.play_waits_for.store(kNotWaiting);
    if (!held || Stopping(stop) || p.play_flush.load() != flush_seen) continue;
    TakeOverlay(p, channel, overlay, current, picture.get(), width, height);
    Show(p, channel, current, picture.get(), width, height);
    last_display = time->TickCount();
  }
}

void ACMovieFilter::Core::TakeOverlay(Position& p, int channel, OverlayTrack& overlay, int64_t time_ms,
                                      uint8_t* picture, int width, int height) {
  int taken = 0;
  if (DisplaySettings(channel).overlay.load()) {
    // The record of this picture is drawn into it (drawn once, blended into
    // every picture of its 260 ms).
    overlay.Apply(p.overlays, time_ms, picture, width, height);
    taken = overlay.last_taken();
    p.overlays_taken.fetch_add(static_cast<uint64_t>(taken));
  } else {
    // Overlays off: records of pictures gone by are dropped, so that the ring
    // does not stop the alg thread and they are current when switched on.
    ObjectLock lock(p.overlays);
    for (const qvv::AlgProtocol* r = p.overlays.Peek(); r && r->time < time_ms; r = p.overlays.Peek()) {
      p.overlays.Get(p.dropped_record);
      ++taken;
    }
  }
  if (taken > 0) p.overlay_space.Set();
}

// ------------------------------------------------------------------ alg thread

void ACMovieFilter::Core::ProcessAlgData(int channel, const uint8_t* data, int size, uint64_t flush_seen) {
  Position& p = At(channel);
  p.alg_parser.Reset();
  if (qvv::Amf0WalkAll(data, static_cast<size_t>(size), &p.alg_parser) < 0) return;  // the rest is dropped
  // A full ring waits for the play thread; a flush drops the record instead.
  while (!stop.load() && p.alg_flush.load() == flush_seen) {
    {
      ObjectLock lock(p.overlays);
      if (p.overlays.Put(p.alg_parser.record)) return;
    }
    // Woken when the play thread takes records (or by a flush or the stop).
    sleeper->WaitFor(p.overlay_space, 100);
    p.alg_wakeups.fetch_add(1);
  }
}

void ACMovieFilter::Core::AlgLoop(int channel, const platform::StopToken& stop_token) {
  ThreadStarted();
  Position& p = At(channel);
  std::unique_ptr<uint8_t[]> work(new uint8_t[8000]);
  uint64_t flush_seen = 0;
  while (!Stopping(stop_token)) {
    p.alg_wakeups.fetch_add(1);
    const uint64_t flush = p.alg_flush.load();
    if (flush != flush_seen) {
      flush_seen = flush;
      {
        ObjectLock lock(p.raw_alg);
        p.raw_alg.Clear();
      }
      p.overlay_flush.store(flush);
      p.play_wake.Set();
    }
    int32_t size;
    {
      ObjectLock lock(p.raw_alg);
      size = p.raw_alg.Get(work.get(), 8000);
    }
    if (size > 0) {
      ProcessAlgData(channel, work.get(), size, flush_seen);
    } else if (size < 0) {
      sleeper->WaitFor(p.alg_wake, 1000);
    }
  }
}

}  // namespace engine
