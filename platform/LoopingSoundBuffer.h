#pragma once
// A looping buffer of PCM that a sound device plays round and round, as a
// sound card's secondary buffer does: the writer locks a span behind the play
// cursor and fills it, the device pulls from the cursor, and events fire when
// the cursor passes the positions asked for. The buffer plays at its own
// frequency; the device runs at its rate, so what is pulled is resampled
// (libswresample), which is how a speed change sounds higher or lower.
//
// Threads: one writer (Lock/Unlock, SetFrequency, Play/Stop) and the device's
// thread (Pull). The bytes are copied in at Unlock under the mutex, so the
// device never reads a span while it is being written.
#include <cstdint>
#include <mutex>
#include <vector>

#include "platform/Event.h"

struct SwrContext;

namespace platform {

struct PcmFormat {
  int channels = 1;
  int rate = 8000;     // frames a second
  int bits = 16;       // 8 (unsigned) or 16 (signed)
  int block_align() const { return channels * bits / 8; }
};

// One part of a locked span: at the wrap a span comes in two.
struct SoundSpan {
  uint8_t* data = nullptr;
  uint32_t bytes = 0;
};

// A position in the buffer and the event set when the cursor passes it;
// kNotifyOnStop fires on Stop instead.
struct SoundNotification {
  static constexpr uint32_t kNotifyOnStop = 0xFFFFFFFFu;
  uint32_t offset = 0;
  Event* event = nullptr;
};

class LoopingSoundBuffer {
 public:
  LoopingSoundBuffer(const PcmFormat& format, uint32_t bytes);
  ~LoopingSoundBuffer();
  LoopingSoundBuffer(const LoopingSoundBuffer&) = delete;
  LoopingSoundBuffer& operator=(const LoopingSoundBuffer&) = delete;

  const PcmFormat& format() const { return format_; }
  uint32_t size() const { return static_cast<uint32_t>(data_.size()); }

  void SetNotifications(std::vector<SoundNotification> notifications);

  // Starts looping play from the cursor; Stop holds the cursor and fires the
  // stop notifications.
  void Play();
  void Stop();
  bool playing() const;

  // While held the device gets silence and the cursor does not move (the
  // bytes in the buffer wait for the release).
  void Hold(bool on);

  // The byte the device plays next.
  uint32_t PlayCursor() const;
  // Bytes the device has taken since the buffer was made (never wraps).
  uint64_t BytesPlayed() const;

  // A span of `bytes` from `offset` (modulo the size) to write; false while
  // the buffer is lost (Restore first) or when another lock is open.
  bool Lock(uint32_t offset, uint32_t bytes, SoundSpan* first, SoundSpan* second);
  // Copies what was written into the buffer.
  void Unlock();

  // The frequency the buffer plays at (frames a second of its own format);
  // false outside 100 .. 200,000.
  bool SetFrequency(int hz);
  int frequency() const;

  // A device that was reset loses its buffers: their contents are gone and
  // locks fail until the owner restores them.
  void MarkLost();
  bool lost() const;
  bool Restore();

  // The device's side: fills `frames` frames of signed 16-bit PCM at
  // `device_rate` with the buffer's channel count, moving the cursor. False
  // when the buffer gave silence without playing (stopped, held or lost).
  bool Pull(int16_t* out, int frames, int device_rate);

 private:
  bool EnsureResamplerLocked(int device_rate);
  void ReadLoopLocked(int16_t* out, int frames);
  void AdvanceLocked(uint32_t bytes);

  const PcmFormat format_;
  mutable std::mutex mutex_;
  std::vector<uint8_t> data_;  // guarded by mutex_
  uint32_t cursor_ = 0;        // guarded by mutex_
  uint64_t played_ = 0;        // guarded by mutex_
  bool playing_ = false;
  bool held_ = false;
  bool lost_ = false;
  int frequency_;
  std::vector<SoundNotification> notifications_;
  // The span locked for writing and its staging copy (writer thread only
  // between Lock and Unlock).
  bool locked_ = false;
  uint32_t lock_offset_ = 0;
  std::vector<uint8_t> staging_;
  // Resampling from frequency_ to the device's rate.
  SwrContext* swr_ = nullptr;
  int swr_in_rate_ = 0, swr_out_rate_ = 0;
  std::vector<int16_t> loop_frames_;  // scratch: frames read from the loop
};

}  // namespace platform
