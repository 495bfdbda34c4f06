#pragma once
// Where a looping sound buffer's sound goes: the sound card through SDL2, or a
// WAV file written at the pace a card would take the samples. A device pulls
// from at most one buffer; with none attached it plays silence.
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "platform/LoopingSoundBuffer.h"

namespace platform {

// Sees every block the device plays from a buffer, with the tick
// (TickCount32) it took it at.
using SoundTap = std::function<void(const int16_t* samples, int frames, uint32_t tick)>;

class SoundDevice {
 public:
  virtual ~SoundDevice() = default;
  virtual int rate() const = 0;      // frames a second
  virtual int channels() const = 0;
  virtual std::string name() const = 0;  // the driver, or "wav:<path>"
  // Milliseconds from a pull until it is heard (the device's own buffer).
  virtual int latency_ms() const = 0;

  // The buffer must stay alive until it is detached (Attach(nullptr)).
  void Attach(LoopingSoundBuffer* buffer);
  void SetTap(SoundTap tap);

 protected:
  // Runs on the device's thread: fills `frames` frames and shows them to the
  // tap. False when nothing played (no buffer, or it is stopped or held).
  bool Render(int16_t* out, int frames, uint32_t tick);

 private:
  std::mutex mutex_;
  LoopingSoundBuffer* buffer_ = nullptr;  // guarded by mutex_
  SoundTap tap_;                          // guarded by mutex_
};

struct SoundDeviceOptions {
  int rate = 48000;
  int channels = 1;
  // SDL's audio driver: empty for SDL's own choice (SDL_AUDIODRIVER), then
  // "dummy" when that opens nothing (a machine without a sound card keeps a
  // device that consumes in real time); a named driver gets no fallback.
  std::string driver;
  std::string wav_path;  // not empty: a WAV file instead of SDL
};

// Nullptr with a reason when nothing opens.
std::unique_ptr<SoundDevice> OpenSoundDevice(const SoundDeviceOptions& options, std::string* error = nullptr);

}  // namespace platform
