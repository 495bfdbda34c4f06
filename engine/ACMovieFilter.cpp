#include "engine/ACMovieFilter.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "engine/EngineGlobals.h"
#include "platform/TickCount.h"

namespace engine {

// Everything of one channel position.
struct ACMovieFilter::Position {
  ACMediaList packets;
  ACMovieList frames;
  ACRAWDataList raw_alg;
  AlgProtocolList overlays;
  qvv::AlgParse alg_parser;
  std::unique_ptr<ACH264Decoder> decoder;
  platform::Surface* surface = nullptr;  // the movie: where this channel draws
  platform::WorkerThread decode_thread{"decode"}, play_thread{"play"}, alg_thread{"alg"};
  std::atomic<bool> frame_flush{false}, play_flush{false}, alg_flush{false}, overlay_flush{false};
  platform::Event video_flush_done{platform::Event::Mode::AutoReset};
  platform::Event alg_flush_done{platform::Event::Mode::AutoReset};
  // Wake-ups: a packet or an alg block arrived (waiting beats polling when idle).
  platform::Event packet_ready{platform::Event::Mode::AutoReset};
  platform::Event alg_ready{platform::Event::Mode::AutoReset};
  platform::Event frame_ready{platform::Event::Mode::AutoReset};  // the decode thread published a frame
  std::atomic<bool> closed{false};
  std::atomic<bool> decoding{false};  // the decode thread holds a packet (set under the packets' lock)
  std::atomic<int> decode_errors{0};
  std::vector<uint8_t> yuyv;  // conversion for the surface, owned by the play thread
};

ACMovieFilter::ACMovieFilter(platform::TimeSource* time, platform::Sleeper* sleeper)
    : time_(time ? time : &system_time_), sleeper_(sleeper ? sleeper : &system_sleeper_) {
  for (auto& p : positions_) p = std::make_unique<Position>();
  blank_.reset(new uint8_t[kBlankWidth * kBlankHeight * 3 / 2]());
}

ACMovieFilter::~ACMovieFilter() {
  FinalFilter();
  // A thread that missed FinalFilter's wait still uses this filter: it must
  // end before the memory goes.
  for (auto& p : positions_) {
    p->decode_thread.Join(platform::kInfinite);
    p->play_thread.Join(platform::kInfinite);
    p->alg_thread.Join(platform::kInfinite);
  }
}

int ACMovieFilter::InitFilter(const ACParam* param) {
  if (param) {
    channel_count_ = std::clamp(param->channel_count, 0, kChannelPositions);
    for (int c = 0; c < channel_count_; ++c) positions_[static_cast<size_t>(c)]->surface = param->windows[static_cast<size_t>(c)];
  }
  stop_.store(false);
  started_threads_.store(0);
  int starting = 0;
  for (int c = 0; c < kChannelPositions; ++c) {
    Position& p = *positions_[static_cast<size_t>(c)];
    if (!p.decode_thread.Running()) {
      p.decode_thread.Join(platform::kInfinite);  // a thread that ended late
      p.play_thread.Join(platform::kInfinite);
      starting += p.decode_thread.Start([this, c](const platform::StopToken& s) { DecodeLoop(c, s); });
      starting += p.play_thread.Start([this, c](const platform::StopToken& s) { PlayLoop(c, s); });
    }
    if (!p.alg_thread.Running()) {
      p.alg_thread.Join(platform::kInfinite);
      starting += p.alg_thread.Start([this, c](const platform::StopToken& s) { AlgLoop(c, s); });
    }
  }
  // Returns with every thread running, so that input and the clock that
  // follow find them (and a fake clock knows them all).
  for (int waited = 0; started_threads_.load() < starting && waited < 5000; ++waited)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return 1;
}

int ACMovieFilter::FinalFilter() {
  stop_.store(true);
  bool any = false;
  for (auto& p : positions_) {
    any = any || p->decode_thread.Running() || p->play_thread.Running() || p->alg_thread.Running();
    p->decode_thread.RequestStop();
    p->play_thread.RequestStop();
    p->alg_thread.RequestStop();
    p->packet_ready.Set();  // wake every wait
    p->alg_ready.Set();
    p->frame_ready.Set();
  }
  released_.Set();
  if (any) sleeper_->SleepMs(100);
  // Threads cannot be killed safely: one that does not end in time is reported
  // and waited for later (the destructor), never detached with our memory.
  // A thread may still have a sleep to finish: the sleeper lets time go on.
  {
    platform::BlockingCall joining(*sleeper_);
    for (auto& p : positions_) {
      for (platform::WorkerThread* t : {&p->decode_thread, &p->play_thread, &p->alg_thread}) {
        if (!t->Join(100) && !t->Join(5000))
          std::fprintf(stderr, "dravik: an engine thread did not stop within 5 s; it is waited for at destruction\n");
      }
    }
  }
  for (int c = 0; c < std::max(channel_count_, 0); ++c) {
    Position& p = *positions_[static_cast<size_t>(c)];
    if (p.decode_thread.Running() || p.play_thread.Running() || p.alg_thread.Running()) continue;  // still in use
    p.surface = nullptr;
    p.decoder.reset();
  }
  return 1;
}

int ACMovieFilter::running_threads() const {
  int n = 0;
  for (const auto& p : positions_) n += p->decode_thread.Running() + p->play_thread.Running() + p->alg_thread.Running();
  return n;
}

int ACMovieFilter::movie_count() const {
  int n = 0;
  for (const auto& p : positions_) n += p->surface != nullptr;
  return n;
}

void ACMovieFilter::InputData(int marker) {
  for (auto& p : positions_) {
    for (;;) {
      bool stored = false;
      {
        ObjectLock lock(p->packets);
        if (!p->packets.Full()) stored = p->packets.Put(0, marker, nullptr, 0, 0, 0, 0) == 1;
      }
      p->packet_ready.Set();
      if (stored) break;
      sleeper_->SleepMs(2);
    }
  }
}

int ACMovieFilter::InputData(int channel, int codec_id, int64_t time_ms, const uint8_t* data, int size, int width,
                             int height, int backward) {
  if (channel < 0 || channel >= kChannelPositions || size < 0) return 1;
  Position& p = *positions_[static_cast<size_t>(channel)];
  int r;
  {
    ObjectLock lock(p.packets);
    if (!AnySourceActive()) return 1;  // in flight after a stop: dropped
    r = p.packets.Put(static_cast<uint32_t>(codec_id), time_ms, data, static_cast<uint32_t>(size),
                      static_cast<uint32_t>(width), static_cast<uint32_t>(height), static_cast<uint32_t>(backward));
  }
  if (r) p.packet_ready.Set();
  return r;
}

int ACMovieFilter::InputAlgData(int channel, const uint8_t* data, int size) {
  if (channel < 0 || channel >= kChannelPositions) return 1;
  Position& p = *positions_[static_cast<size_t>(channel)];
  int r;
  {
    ObjectLock lock(p.raw_alg);
    if (!AnySourceActive()) return 1;
    r = p.raw_alg.Put(data, size);
  }
  if (r) p.alg_ready.Set();
  return r;
}

void ACMovieFilter::CurDTS(int64_t clock_ms, int step_ms, int speed, bool backward) {
  // The end of the recording (-3) leaves the clock where it is, or the last
  // pictures would wait for a time that never comes; -1 and -2 start over at 0.
  if (clock_ms == -3) return;
  if (clock_ms < 0) clock_ms = 0;
  previous_clock_time_.store(clock_time_.load());
  backward_.store(backward);
  clock_time_.store(clock_ms);
  clock_step_.store(step_ms);
  speed_.store(speed);
}

void ACMovieFilter::PushFrame(int on) {
  if (on) {
    released_.Reset();
    hold_.Set();
  } else {
    hold_.Reset();
    released_.Set();
  }
  for (auto& p : positions_) p->frame_ready.Set();  // the play threads see it at once
}

void ACMovieFilter::SetChannelClosed(int channel, bool closed) {
  if (channel >= 0 && channel < kChannelPositions) positions_[static_cast<size_t>(channel)]->closed.store(closed);
}

int ACMovieFilter::PacketCount(int channel) {
  Position& p = *positions_[static_cast<size_t>(channel)];
  ObjectLock lock(p.packets);
  return p.packets.Count();
}

int ACMovieFilter::DecodeErrors(int channel) const {
  if (channel < 0 || channel >= kChannelPositions) return 0;
  return positions_[static_cast<size_t>(channel)]->decode_errors.load();
}

bool ACMovieFilter::DecoderIdle(int channel) {
  Position& p = *positions_[static_cast<size_t>(channel)];
  ObjectLock lock(p.packets);
  return p.packets.Count() == 0 && !p.decoding.load();
}

int ACMovieFilter::ReadyFrames(int channel) {
  Position& p = *positions_[static_cast<size_t>(channel)];
  ObjectLock lock(p.frames);
  return p.frames.ReadyCount();
}

void ACMovieFilter::EmptyData() {
  for (auto& p : positions_) {
    p->frame_flush.store(true);
    {
      ObjectLock lock(p->frames);
      p->frames.Clear();
    }
    {
      ObjectLock lock(p->packets);
      p->packets.Clear();
    }
    p->packet_ready.Set();
  }
  for (auto& p : positions_) sleeper_->WaitFor(p->video_flush_done, platform::kInfinite);
}

void ACMovieFilter::EmptyAlgData(int channel) {
  const bool all = channel < 0 || channel >= kChannelPositions;
  for (int c = 0; c < kChannelPositions; ++c) {
    if (!all && c != channel) continue;
    Position& p = *positions_[static_cast<size_t>(c)];
    p.alg_flush.store(true);
    {
      ObjectLock lock(p.overlays);
      p.overlays.Clear();
    }
    {
      ObjectLock lock(p.raw_alg);
      p.raw_alg.Clear();
    }
    p.alg_ready.Set();
  }
  for (int c = 0; c < kChannelPositions; ++c) {
    if (all || c == channel) sleeper_->WaitFor(positions_[static_cast<size_t>(c)]->alg_flush_done, platform::kInfinite);
  }
}

// ------------------------------------------------------------------ decode thread

void ACMovieFilter::ThreadStarted() {
  // Announces the thread to the sleeper (a fake clock in tests counts it from
  // now on); a zero sleep costs nothing on the real one.
  sleeper_->SleepMs(0);
  started_threads_.fetch_add(1);
}

void ACMovieFilter::DecodeLoop(int channel, const platform::StopToken& stop) {
  ThreadStarted();
  if (stop_.load()) return;
  Position& p = *positions_[static_cast<size_t>(channel)];
  std::unique_ptr<uint8_t[]> input(new uint8_t[kInputBuffer]);
  while (!stop.StopRequested() && !stop_.load()) {
    if (p.frame_flush.exchange(false)) {
      ObjectLock lock(p.packets);
      p.packets.Clear();
      p.play_flush.store(true);
      p.frame_ready.Set();
    }
    MediaPacketInfo info;
    bool got;
    {
      ObjectLock lock(p.packets);
      got = p.packets.Get(info, input.get(), kInputBuffer);
      p.decoding.store(got);
    }
    if (!got) {
      sleeper_->WaitFor(p.packet_ready, 1000);  // woken by packets, flushes and the stop
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
    bool abandoned = false;
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
      if (stop.StopRequested() || stop_.load()) {
        p.decoding.store(false);
        return;
      }
      if (p.frame_flush.load()) {
        abandoned = true;
        break;
      }
      if (taken) {
        p.frame_ready.Set();
        break;
      }
      sleeper_->SleepMs(2);
    }
    p.decoding.store(false);
    (void)abandoned;
  }
}

// ------------------------------------------------------------------ play thread

void ACMovieFilter::Show(Position& p, int channel, int64_t time, const uint8_t* pixels, int width, int height) {
  if (p.closed.load()) {
    ShowMovieandText(channel, 0, blank_.get(), kBlankWidth, kBlankHeight, "Closed");
  } else {
    ShowMovie(channel, time, pixels, width, height);
  }
}

void ACMovieFilter::ShowMovie(int channel, int64_t time_ms, const uint8_t* picture, int width, int height) {
  ShowMovieandText(channel, time_ms, picture, width, height, nullptr);
}

void ACMovieFilter::ShowMovieandText(int channel, int64_t time_ms, const uint8_t* picture, int width, int height,
                                     const char* text) {
  if (channel < 0 || channel >= kChannelPositions || !picture || width <= 0 || height <= 0) return;
  if (observer_) observer_->OnPicture(channel, time_ms, picture, width, height, text);
  Position& p = *positions_[static_cast<size_t>(channel)];
  if (!p.surface || (show_mode_ != 0 && show_mode_ != 1)) return;
  // Planar 4:2:0 to packed YUYV for the surface.
  p.yuyv.resize(static_cast<size_t>(width) * height * 2);
  const uint8_t* y = picture;
  const uint8_t* u = picture + width * height;
  const uint8_t* v = u + (width / 2) * (height / 2);
  for (int row = 0; row < height; ++row) {
    uint8_t* out = p.yuyv.data() + static_cast<size_t>(row) * width * 2;
    const uint8_t* yr = y + static_cast<size_t>(row) * width;
    const uint8_t* ur = u + static_cast<size_t>(row / 2) * (width / 2);
    const uint8_t* vr = v + static_cast<size_t>(row / 2) * (width / 2);
    for (int x = 0; x + 1 < width; x += 2) {
      out[2 * x] = yr[x];
      out[2 * x + 1] = ur[x / 2];
      out[2 * x + 2] = yr[x + 1];
      out[2 * x + 3] = vr[x / 2];
    }
  }
  const platform::Size client = p.surface->ClientSize();
  p.surface->Present({p.yuyv.data(), width, height, width * 2, platform::PixelFormat::YUYV},
                     {0, 0, client.width, client.height});
}

void ACMovieFilter::PlayLoop(int channel, const platform::StopToken& stop) {
  ThreadStarted();
  Position& p = *positions_[static_cast<size_t>(channel)];
  PixelBlock picture;  // the picture shown last (swapped with the queue's nodes)
  int64_t current = 0, previous = 0;
  int width = 0, height = 0;
  bool held = false;  // a picture is in the buffer
  uint32_t last_advance = time_->TickCount(), last_display = last_advance;
  while (!stop.StopRequested() && !stop_.load()) {
    if (p.play_flush.exchange(false)) {
      {
        ObjectLock lock(p.frames);
        p.frames.Clear();
      }
      current = previous = 0;
      held = false;
      clock_time_.store(0);
      p.video_flush_done.Set();
    }
    if (p.overlay_flush.exchange(false)) {
      // The alg thread has emptied its ring; the play thread confirms.
      ObjectLock lock(p.overlays);
      p.overlays.Clear();
      p.alg_flush_done.Set();
    }
    if (hold_.IsSet()) {
      if (held) {
        Show(p, channel, current, picture.get(), width, height);
      } else {
        Show(p, channel, 0, blank_.get(), kBlankWidth, kBlankHeight);
      }
      // Re-shown every 200 ms while held; every channel wakes at once on release.
      sleeper_->WaitFor(released_, 200);
      continue;
    }
    if (held && current >= 1 && previous >= 0) {
      int64_t delta = std::llabs(current - previous);
      if (delta == 0) delta = 10;
      previous = current;
      const int64_t half = std::min<int64_t>(delta, clock_step_.load() < 0 ? delta : clock_step_.load()) / 2;
      const uint32_t now = time_->TickCount();
      if (platform::TicksSince(last_advance, now) < half && !step_.load() && speed_.load() == 16 && !backward_.load()) {
        sleeper_->SleepMs(static_cast<uint32_t>(half));
        continue;
      }
      if (current > clock_time_.load() + kAheadLimitMs) {
        sleeper_->SleepMs(50);  // too far ahead of the clock: hold it
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
    if (!fetched) {
      const uint32_t now = time_->TickCount();
      if (!step_.load()) {
        if (platform::TicksSince(last_display, now) >= 1001) {
          Show(p, channel, 0, blank_.get(), kBlankWidth, kBlankHeight);
          last_display = now;
          held = false;
          // A pause, not a sleep: a picture or the start of playback must
          // not find this channel asleep while the others go on.
          sleeper_->WaitFor(p.frame_ready, 100);
        }
      } else if (held) {
        Show(p, channel, current, picture.get(), width, height);
        last_display = now;
      }
      // Woken by the next decoded frame; the time-out keeps the blank picture
      // and the flags going while nothing arrives.
      sleeper_->WaitFor(p.frame_ready, held || step_.load() ? 10 : 250);
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
    width = static_cast<int>(info.width);
    height = static_cast<int>(info.height);
    held = info.size > 0;
    // A picture waits until the clock reaches it. Every channel follows the
    // one clock, so all show the same time stamp within a poll of each other
    // (showing anywhere up to 200 ms early lets channels drift that far apart).
    while (held && current > clock_time_.load() && !stop.StopRequested() && !stop_.load() && !p.play_flush.load() &&
           !hold_.IsSet()) {
      sleeper_->SleepMs(2);
    }
    if (!held || stop.StopRequested() || stop_.load()) continue;
    Show(p, channel, current, picture.get(), width, height);
    last_display = time_->TickCount();
  }
}

// ------------------------------------------------------------------ alg thread

void ACMovieFilter::ProcessAlgData(int channel, const uint8_t* data, int size) {
  Position& p = *positions_[static_cast<size_t>(channel)];
  p.alg_parser.Reset();
  if (qvv::Amf0WalkAll(data, static_cast<size_t>(size), &p.alg_parser) < 0) return;  // the rest is dropped
  while (!stop_.load()) {
    {
      ObjectLock lock(p.overlays);
      if (p.overlays.Put(p.alg_parser.record)) return;
    }
    sleeper_->SleepMs(1);
  }
}

void ACMovieFilter::AlgLoop(int channel, const platform::StopToken& stop) {
  ThreadStarted();
  Position& p = *positions_[static_cast<size_t>(channel)];
  std::unique_ptr<uint8_t[]> work(new uint8_t[8000]);
  while (!stop.StopRequested() && !stop_.load()) {
    if (p.alg_flush.exchange(false)) {
      {
        ObjectLock lock(p.raw_alg);
        p.raw_alg.Clear();
      }
      p.overlay_flush.store(true);
      p.frame_ready.Set();
    }
    int32_t size;
    {
      ObjectLock lock(p.raw_alg);
      size = p.raw_alg.Get(work.get(), 8000);
    }
    if (size > 0) {
      ProcessAlgData(channel, work.get(), size);
    } else if (size < 0) {
      sleeper_->WaitFor(p.alg_ready, 1000);
    }
  }
}

}  // namespace engine
