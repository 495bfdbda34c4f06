#include "engine/ACAudioPlayer.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>

#include "engine/ACDecoder.h"
#include "engine/ACMediaList.h"
#include "engine/ACSoundBuffer.h"
#include "engine/AudioDecoders.h"
#include "engine/EngineGlobals.h"
#include "platform/Event.h"
#include "platform/Thread.h"

namespace engine {

namespace {
constexpr int kFlushWaitMs = 2000;
constexpr int kOutputStopMs = 500;
constexpr int kDecodeStopMs = 300;
constexpr int kIdleWaitMs = 100;  // a wait for work that an event also ends

int ValidSpeed(int speed) {
  switch (speed) {
    case 1: case 2: case 4: case 8: case 16: case 32: case 64: case 128: case 256: return speed;
    default: return 16;
  }
}
}  // namespace

struct ACAudioPlayer::Core {
  // Device and format: set by OpenOutput while the threads are stopped; the
  // clock's thread may ask for the position or set the speed meanwhile, so the
  // two pointers change under output_mutex (never taken inside pcm's lock).
  std::mutex output_mutex;
  platform::SoundDeviceOptions device_options;
  std::unique_ptr<platform::SoundDevice> device;
  std::unique_ptr<platform::LoopingSoundBuffer> sound;
  int channels = 1, bits = 16;
  uint32_t buffer_bytes = 0;

  ACMediaList packets;
  ACSoundBuffer pcm;
  int64_t last_written_ms = 0;   // guarded by pcm's lock
  uint64_t device_written = 0;   // guarded by pcm's lock: bytes of PCM handed to the device
  uint64_t device_sound_from = 0;  // guarded by pcm's lock: where the device's sound starts after a lead-in

  std::atomic<int> rate{8000};
  std::atomic<int> speed{16};
  std::atomic<bool> flush_request{false};
  std::atomic<uint64_t> decoded{0}, unknown{0}, failed{0};

  platform::Event packet_wake{platform::Event::Mode::AutoReset};
  platform::Event space_wake{platform::Event::Mode::AutoReset};
  platform::Event flush_done{platform::Event::Mode::AutoReset};
  platform::Event notify{platform::Event::Mode::AutoReset};
  platform::Event stop{platform::Event::Mode::ManualReset};
  platform::Event device_flush{platform::Event::Mode::AutoReset};
  platform::Event pause{platform::Event::Mode::ManualReset};
  // Tops the device up before its next notification: on resume, and when new
  // sound arrives while the device has nothing queued.
  platform::Event top_up{platform::Event::Mode::AutoReset};

  platform::WorkerThread output_thread{"audio output"};
  platform::WorkerThread decode_thread{"audio decode"};
  std::atomic<bool> running{false};

  int block_align() const { return std::max(1, channels * bits / 8); }
  // Milliseconds of `bytes` of PCM at the stream's rate.
  int64_t BytesToMs(uint64_t bytes) const {
    const int r = rate.load();
    if (bits < 8 || r < 1000) return 0;
    return static_cast<int64_t>(bytes * 1000 / (static_cast<uint64_t>(block_align()) * static_cast<uint64_t>(r)));
  }
  void ApplyFrequency() {
    std::lock_guard lock(output_mutex);
    if (sound) sound->SetFrequency(std::max(100, ValidSpeed(speed.load()) * rate.load() / 16));
  }

  void DecodeLoop(const platform::StopToken& token);
  void OutputLoop(const platform::StopToken& token);
  bool FillDevice(bool paused, bool first);
};

ACAudioPlayer::ACAudioPlayer() : core_(std::make_shared<Core>()) { core_->pcm.Init(kPcmRingBytes); }

ACAudioPlayer::~ACAudioPlayer() {
  StopOutput();
  if (core_->device) core_->device->Attach(nullptr);
}

void ACAudioPlayer::SetDeviceOptions(const platform::SoundDeviceOptions& options) {
  core_->device_options = options;
}

int ACAudioPlayer::OpenOutput(const void* owner, int channels, int rate, int bits) {
  Core& c = *core_;
  if (!owner) return 0;
  StopOutput();
  std::unique_lock lock(c.output_mutex);
  if (c.device) c.device->Attach(nullptr);
  c.sound.reset();
  c.device.reset();
  if (channels < 1 || channels > 2 || (bits != 8 && bits != 16) || rate < 1000 || rate > 192000) return 0;
  c.channels = channels;
  c.bits = bits;
  c.rate.store(rate);
  platform::SoundDeviceOptions options = c.device_options;
  options.channels = channels;
  std::string error;
  c.device = platform::OpenSoundDevice(options, &error);
  if (!c.device) {
    std::fprintf(stderr, "dravik: no sound output (%s); playing without sound\n", error.c_str());
    return 0;
  }
  platform::PcmFormat format{channels, rate, bits};
  c.buffer_bytes = static_cast<uint32_t>(format.block_align() * rate);  // one second
  c.sound = std::make_unique<platform::LoopingSoundBuffer>(format, c.buffer_bytes);
  // Top-ups at each fifth of the buffer and at its last byte; and on stop.
  std::vector<platform::SoundNotification> marks;
  const uint32_t fifth = c.buffer_bytes / 5;
  for (uint32_t i = 1; i <= 4; ++i) marks.push_back({fifth * i, &c.notify});
  marks.push_back({c.buffer_bytes - 1, &c.notify});
  marks.push_back({platform::SoundNotification::kNotifyOnStop, &c.stop});
  c.sound->SetNotifications(std::move(marks));
  c.device->Attach(c.sound.get());
  lock.unlock();
  c.ApplyFrequency();
  return 1;
}

void ACAudioPlayer::StartOutput() {
  Core& c = *core_;
  if (c.running.load() || !c.sound) return;
  c.stop.Reset();
  std::shared_ptr<Core> keep = core_;
  if (!c.output_thread.Start([keep](const platform::StopToken& t) { keep->OutputLoop(t); })) return;
  c.running.store(true);
  if (!c.decode_thread.Running())
    c.decode_thread.Start([keep](const platform::StopToken& t) { keep->DecodeLoop(t); });
}

void ACAudioPlayer::StopOutput() {
  Core& c = *core_;
  if (!c.running.load()) return;
  if (c.sound) c.sound->Stop();  // fires the stop notification
  c.stop.Set();
  c.output_thread.Stop(kOutputStopMs);
  c.running.store(false);
  c.decode_thread.RequestStop();
  c.packet_wake.Set();
  c.space_wake.Set();
  c.decode_thread.Stop(kDecodeStopMs);
}

bool ACAudioPlayer::running() const { return core_->running.load(); }
platform::SoundDevice* ACAudioPlayer::device() {
  std::lock_guard lock(core_->output_mutex);
  return core_->device.get();
}
int ACAudioPlayer::frequency() const {
  std::lock_guard lock(core_->output_mutex);
  return core_->sound ? core_->sound->frequency() : 0;
}
uint64_t ACAudioPlayer::decoded_packets() const { return core_->decoded.load(); }
uint64_t ACAudioPlayer::unknown_codec_packets() const { return core_->unknown.load(); }
uint64_t ACAudioPlayer::failed_packets() const { return core_->failed.load(); }

int ACAudioPlayer::InputAudio(int, uint32_t codec_id, int64_t time_ms, const uint8_t* data, int size, int sample_rate,
                              int) {
  Core& c = *core_;
  if (size < 0 || (size > 0 && !data)) return -1;
  if (!c.output_thread.Running() || !c.decode_thread.Running()) return 1;
  int r;
  {
    ObjectLock lock(c.packets);
    if (!AnySourceActive()) return 1;
    r = c.packets.Put(codec_id, time_ms, data, static_cast<uint32_t>(size), static_cast<uint32_t>(sample_rate), 0, 0);
  }
  if (r) c.packet_wake.Set();
  return r;
}

bool ACAudioPlayer::FlushAudio() {
  Core& c = *core_;
  {
    ObjectLock lock(c.packets);
    c.packets.Clear();
  }
  c.flush_done.Reset();
  c.flush_request.store(true);
  c.packet_wake.Set();
  c.space_wake.Set();
  if (!c.decode_thread.Running()) {
    // Nobody to answer: do the decode thread's part here.
    ObjectLock lock(c.pcm);
    c.pcm.ResetRing();
    c.last_written_ms = 0;
    c.flush_request.store(false);
    return true;
  }
  if (c.flush_done.Wait(kFlushWaitMs)) return true;
  std::fprintf(stderr, "dravik: the audio decode thread did not answer the flush within %d ms\n", kFlushWaitMs);
  return false;
}

void ACAudioPlayer::SetAudioSpeed(int speed) {
  Core& c = *core_;
  if (c.speed.exchange(speed) == speed) return;
  c.ApplyFrequency();
}

void ACAudioPlayer::SetSampleRate(int rate) {
  if (rate < 1000 || rate > 192000) return;
  core_->rate.store(rate);
  core_->ApplyFrequency();  // at the current speed: a new stream keeps the speed chosen
}

int ACAudioPlayer::GetSampleRate() const { return core_->rate.load(); }

void ACAudioPlayer::PauseAudio(bool on) {
  Core& c = *core_;
  if (on) {
    c.pause.Set();
  } else {
    c.pause.Reset();
    c.top_up.Set();
  }
  // The device holds what it has queued rather than play it out.
  std::lock_guard lock(c.output_mutex);
  if (c.sound) c.sound->Hold(on);
}

int64_t ACAudioPlayer::AudioClock(int speed) {
  Core& c = *core_;
  std::lock_guard output(c.output_mutex);
  const uint64_t played = c.sound ? c.sound->BytesPlayed() : 0;
  int64_t heard;
  {
    ObjectLock lock(c.pcm);
    if (c.last_written_ms == 0) return 0;
    // Sound the device has queued (a lead-in of silence before it is not sound).
    const uint64_t start = std::max(played, c.device_sound_from);
    const uint64_t queued = c.device_written > start ? c.device_written - start : 0;
    heard = c.last_written_ms - c.BytesToMs(c.pcm.FillLevel() + queued);
    if (heard < 0) {
      c.pcm.Skip(c.pcm.FillLevel());
      return 0;
    }
  }
  // The device's own buffer: heard a little after it was taken.
  if (c.device) heard -= static_cast<int64_t>(c.device->latency_ms()) * ValidSpeed(speed) / 16;
  return std::max<int64_t>(heard, 1);
}

int64_t ACAudioPlayer::Position() { return AudioClock(core_->speed.load()); }

// ------------------------------------------------------------------ decode thread

void ACAudioPlayer::Core::DecodeLoop(const platform::StopToken& token) {
  std::vector<uint8_t> input(kInputBytes);
  uint32_t previous_id = kAdpcmMs;
  uint32_t decoder_id = 0;
  std::unique_ptr<ACDecoder> decoder;
  while (!token.StopRequested()) {
    if (flush_request.exchange(false)) {
      {
        ObjectLock lock(pcm);
        pcm.ResetRing();
        last_written_ms = 0;
      }
      decoder.reset();
      decoder_id = 0;
      device_flush.Set();
      flush_done.Set();
    }
    MediaPacketInfo info;
    bool got;
    {
      ObjectLock lock(packets);
      got = packets.Get(info, input.data(), static_cast<uint32_t>(input.size()));
    }
    if (!got) {
      packet_wake.Wait(kIdleWaitMs);
      continue;
    }
    if (info.time == -1 || info.time == -2) continue;  // markers: nothing to decode
    const uint32_t id = info.codec_id;
    if (id != previous_id && (id == kAdpcmSwf || previous_id == kAdpcmSwf)) {
      // Flash ADPCM plays at 11025 Hz, the recorder's other codecs at 8000;
      // a change to anything else waits for the reader to give the rate.
      if (id == kVoiceCodec || id == kAdpcmMs) {
        rate.store(8000);
        ApplyFrequency();
      } else if (id == kAdpcmSwf) {
        rate.store(11025);
        ApplyFrequency();
      }
    }
    previous_id = id;
    if (decoder_id != id) {
      decoder.reset();
      decoder_id = id;
    }
    if (!decoder) decoder = MakeAudioDecoder(static_cast<int>(id));
    if (!decoder) {
      unknown.fetch_add(1);
      continue;
    }
    int out_bytes = 0;
    const uint8_t* out = decoder->DecodeAudio(static_cast<int>(id), input.data(), static_cast<int>(info.size),
                                              &out_bytes, static_cast<int>(info.width));
    if (!out || out_bytes <= 0) {
      failed.fetch_add(1);
      continue;
    }
    decoded.fetch_add(1);
    // Room in the ring: the output thread makes it as the device plays.
    const auto bytes = static_cast<uint32_t>(out_bytes);
    bool written = false;
    while (!token.StopRequested() && !flush_request.load()) {
      {
        ObjectLock lock(pcm);
        uint8_t* region = nullptr;
        if (pcm.GetWriteRegion(bytes, &region) >= bytes) {
          std::memcpy(region, out, bytes);
          pcm.Commit(bytes);
          if (info.time >= 0 || info.time == -3) {
            const int64_t start = info.time >= 0 ? info.time : last_written_ms;
            last_written_ms = start + BytesToMs(bytes);
          }
          written = true;
        }
      }
      if (written) {
        if (sound && !pause.IsSet()) {
          ObjectLock lock(pcm);
          if (device_written <= sound->BytesPlayed()) top_up.Set();  // the device is starving
        }
        break;
      }
      space_wake.Wait(kIdleWaitMs);
    }
  }
}

// ------------------------------------------------------------------ output thread

// Tops the device's buffer up from the ring: everything between what was
// handed over last and one buffer ahead of the play cursor. Returns false when
// the buffer could not be locked (lost, and not restorable).
bool ACAudioPlayer::Core::FillDevice(bool paused, bool first) {
  const uint64_t played = sound->BytesPlayed();
  platform::SoundSpan a, b;
  uint64_t from;
  uint32_t span;
  {
    ObjectLock lock(pcm);
    // The device ran past what it was given (it played silence): new sound
    // goes right at the cursor rather than a buffer later.
    if (device_written < played || first) {
      // A little past the cursor, which moves on while the span is written.
      const uint64_t margin = static_cast<uint64_t>(block_align()) * static_cast<uint64_t>(rate.load()) / 100;
      device_written = played + std::min<uint64_t>(margin, buffer_bytes / 4);
      device_sound_from = device_written;
    }
    from = device_written;
    span = from < played + buffer_bytes ? static_cast<uint32_t>(played + buffer_bytes - from) : 0;
  }
  if (span == 0) return true;
  const auto offset = static_cast<uint32_t>(from % buffer_bytes);
  if (!sound->Lock(offset, span, &a, &b)) {
    if (!sound->lost() || !sound->Restore() || !sound->Lock(offset, span, &a, &b)) return false;
  }
  uint32_t read = 0;
  if (!paused) {
    ObjectLock lock(pcm);
    const uint32_t align = static_cast<uint32_t>(block_align());
    const uint32_t whole = std::min<uint32_t>(pcm.FillLevel(), span) / align * align;
    const uint32_t a_bytes = std::min(a.bytes, whole);
    read = pcm.Read(a.data, a_bytes, b.data, std::min(b.bytes, whole - a_bytes));
    device_written += read;
  }
  // Whatever was not filled plays as silence (a 16-bit silence is 0, 8-bit 128).
  const uint8_t silence = bits == 8 ? 128 : 0;
  if (read < a.bytes) std::memset(a.data + read, silence, a.bytes - read);
  const uint32_t b_read = read > a.bytes ? read - a.bytes : 0;
  if (b.data && b_read < b.bytes) std::memset(b.data + b_read, silence, b.bytes - b_read);
  sound->Unlock();
  if (read > 0) space_wake.Set();
  return true;
}

void ACAudioPlayer::Core::OutputLoop(const platform::StopToken& token) {
  if (!FillDevice(true, true)) {
    std::fprintf(stderr, "dravik: the sound buffer cannot be written; no sound\n");
    return;
  }
  sound->Play();
  platform::Event* wake[] = {&stop, &notify, &device_flush, &top_up};
  while (!token.StopRequested()) {
    const int which = platform::Event::WaitAny(wake, 250);
    if (which == 0) break;
    if (which == 2) {
      // After a flush the old sound still queued in the device is not heard.
      {
        ObjectLock lock(pcm);
        device_written = device_sound_from = 0;
      }
      FillDevice(true, true);
    }
    if (!FillDevice(pause.IsSet(), false)) std::fprintf(stderr, "dravik: the sound buffer was lost; a fill skipped\n");
  }
  sound->Stop();
}

}  // namespace engine
