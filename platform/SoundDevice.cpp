#include "platform/SoundDevice.h"

#include <algorithm>

namespace platform {

std::unique_ptr<SoundDevice> OpenSdlSoundDevice(const SoundDeviceOptions& options, std::string* error);
std::unique_ptr<SoundDevice> OpenWavSoundDevice(const SoundDeviceOptions& options, std::string* error);

void SoundDevice::Attach(LoopingSoundBuffer* buffer) {
  std::lock_guard lock(mutex_);
  buffer_ = buffer;
}

void SoundDevice::SetTap(SoundTap tap) {
  std::lock_guard lock(mutex_);
  tap_ = std::move(tap);
}

bool SoundDevice::Render(int16_t* out, int frames, uint32_t tick) {
  std::lock_guard lock(mutex_);
  const bool live = buffer_ && buffer_->format().channels == channels() && buffer_->Pull(out, frames, rate());
  if (!live) std::fill(out, out + static_cast<ptrdiff_t>(frames) * channels(), 0);
  if (live && tap_) tap_(out, frames, tick);
  return live;
}

std::unique_ptr<SoundDevice> OpenSoundDevice(const SoundDeviceOptions& options, std::string* error) {
  if (options.rate < 1000 || options.rate > 192000 || options.channels < 1 || options.channels > 8) {
    if (error) *error = "unsupported sound format";
    return nullptr;
  }
  if (!options.wav_path.empty()) return OpenWavSoundDevice(options, error);
  return OpenSdlSoundDevice(options, error);
}

}  // namespace platform
