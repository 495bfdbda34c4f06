#include "platform/LoopingSoundBuffer.h"

#include <algorithm>
#include <cstring>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/samplefmt.h>
#include <libswresample/swresample.h>
}

namespace platform {

namespace {
constexpr int kMinFrequency = 100;
constexpr int kMaxFrequency = 200000;
}  // namespace

LoopingSoundBuffer::LoopingSoundBuffer(const PcmFormat& format, uint32_t bytes)
    : format_(format), data_(bytes, format.bits == 8 ? 128 : 0), frequency_(format.rate) {}

LoopingSoundBuffer::~LoopingSoundBuffer() { swr_free(&swr_); }

void LoopingSoundBuffer::SetNotifications(std::vector<SoundNotification> notifications) {
  std::lock_guard lock(mutex_);
  notifications_ = std::move(notifications);
}

void LoopingSoundBuffer::Play() {
  std::lock_guard lock(mutex_);
  playing_ = true;
}

void LoopingSoundBuffer::Stop() {
  std::lock_guard lock(mutex_);
  playing_ = false;
  for (const auto& n : notifications_)
    if (n.offset == SoundNotification::kNotifyOnStop && n.event) n.event->Set();
}

bool LoopingSoundBuffer::playing() const {
  std::lock_guard lock(mutex_);
  return playing_;
}

void LoopingSoundBuffer::Hold(bool on) {
  std::lock_guard lock(mutex_);
  held_ = on;
}

uint32_t LoopingSoundBuffer::PlayCursor() const {
  std::lock_guard lock(mutex_);
  return cursor_;
}

uint64_t LoopingSoundBuffer::BytesPlayed() const {
  std::lock_guard lock(mutex_);
  return played_;
}

bool LoopingSoundBuffer::Lock(uint32_t offset, uint32_t bytes, SoundSpan* first, SoundSpan* second) {
  std::lock_guard lock(mutex_);
  if (lost_ || locked_ || data_.empty() || bytes == 0 || !first || !second) return false;
  bytes = std::min<uint32_t>(bytes, size());
  offset %= size();
  staging_.resize(bytes);
  const uint32_t head = std::min(bytes, size() - offset);
  *first = {staging_.data(), head};
  *second = {head < bytes ? staging_.data() + head : nullptr, bytes - head};
  locked_ = true;
  lock_offset_ = offset;
  return true;
}

void LoopingSoundBuffer::Unlock() {
  std::lock_guard lock(mutex_);
  if (!locked_) return;
  locked_ = false;
  if (lost_) return;  // lost while locked: what was written is gone too
  const auto bytes = static_cast<uint32_t>(staging_.size());
  const uint32_t head = std::min(bytes, size() - lock_offset_);
  std::memcpy(data_.data() + lock_offset_, staging_.data(), head);
  std::memcpy(data_.data(), staging_.data() + head, bytes - head);
}

bool LoopingSoundBuffer::SetFrequency(int hz) {
  if (hz < kMinFrequency || hz > kMaxFrequency) return false;
  std::lock_guard lock(mutex_);
  frequency_ = hz;
  return true;
}

int LoopingSoundBuffer::frequency() const {
  std::lock_guard lock(mutex_);
  return frequency_;
}

void LoopingSoundBuffer::MarkLost() {
  std::lock_guard lock(mutex_);
  lost_ = true;
}

bool LoopingSoundBuffer::lost() const {
  std::lock_guard lock(mutex_);
  return lost_;
}

bool LoopingSoundBuffer::Restore() {
  std::lock_guard lock(mutex_);
  // The memory comes back, its contents do not: silence until written again.
  std::fill(data_.begin(), data_.end(), format_.bits == 8 ? 128 : 0);
  lost_ = false;
  return true;
}

void LoopingSoundBuffer::AdvanceLocked(uint32_t bytes) {
  const uint32_t from = cursor_;
  const uint32_t total = size();
  cursor_ = static_cast<uint32_t>((static_cast<uint64_t>(cursor_) + bytes) % total);
  played_ += bytes;
  for (const auto& n : notifications_) {
    if (n.offset == SoundNotification::kNotifyOnStop || !n.event) continue;
    // Passed when the offset lies in [from, from + bytes) round the loop.
    const uint32_t distance = (n.offset + total - from) % total;
    if (distance < bytes || bytes >= total) n.event->Set();
  }
}

void LoopingSoundBuffer::ReadLoopLocked(int16_t* out, int frames) {
  const int channels = format_.channels;
  const uint32_t block = static_cast<uint32_t>(format_.block_align());
  for (int f = 0; f < frames; ++f) {
    const uint8_t* frame = data_.data() + cursor_;
    for (int c = 0; c < channels; ++c) {
      int16_t sample;
      if (format_.bits == 8) {
        sample = static_cast<int16_t>((frame[c] - 128) * 256);
      } else {
        std::memcpy(&sample, frame + 2 * c, 2);
      }
      out[f * channels + c] = sample;
    }
    AdvanceLocked(block);
  }
}

bool LoopingSoundBuffer::EnsureResamplerLocked(int device_rate) {
  if (swr_ && swr_in_rate_ == frequency_ && swr_out_rate_ == device_rate) return true;
  swr_free(&swr_);
  AVChannelLayout layout;
  av_channel_layout_default(&layout, format_.channels);
  const int r = swr_alloc_set_opts2(&swr_, &layout, AV_SAMPLE_FMT_S16, device_rate, &layout, AV_SAMPLE_FMT_S16,
                                    frequency_, 0, nullptr);
  av_channel_layout_uninit(&layout);
  if (r < 0 || swr_init(swr_) < 0) {
    swr_free(&swr_);
    return false;
  }
  swr_in_rate_ = frequency_;
  swr_out_rate_ = device_rate;
  return true;
}

bool LoopingSoundBuffer::Pull(int16_t* out, int frames, int device_rate) {
  const int channels = format_.channels;
  std::lock_guard lock(mutex_);
  const auto silence = [&](int from) {
    std::fill(out + static_cast<ptrdiff_t>(from) * channels, out + static_cast<ptrdiff_t>(frames) * channels, 0);
  };
  if (!playing_ || held_ || lost_ || data_.empty() || device_rate <= 0) {
    silence(0);
    return false;
  }
  if (frequency_ == device_rate) {
    swr_free(&swr_);
    ReadLoopLocked(out, frames);
    return true;
  }
  if (!EnsureResamplerLocked(device_rate)) {
    silence(0);
    return false;
  }
  int produced = 0;
  // A few rounds at most: the first ones after a rate change fill the
  // resampler's filter before anything comes out.
  for (int round = 0; round < 8 && produced < frames; ++round) {
    const int need = frames - produced;
    const int buffered = swr_get_out_samples(swr_, 0);
    int64_t in_frames = 0;
    if (buffered < need)
      in_frames = (static_cast<int64_t>(need - buffered) * frequency_ + device_rate - 1) / device_rate;
    if (round > 0) in_frames = std::max<int64_t>(in_frames, 16);  // the filter's delay wants more
    loop_frames_.resize(static_cast<size_t>(std::max<int64_t>(in_frames, 1) * channels));
    ReadLoopLocked(loop_frames_.data(), static_cast<int>(in_frames));
    uint8_t* dst = reinterpret_cast<uint8_t*>(out + static_cast<ptrdiff_t>(produced) * channels);
    const uint8_t* src = reinterpret_cast<const uint8_t*>(loop_frames_.data());
    const int n = swr_convert(swr_, &dst, need, &src, static_cast<int>(in_frames));
    if (n < 0) break;
    produced += n;
  }
  if (produced < frames) silence(produced);
  return true;
}

}  // namespace platform
