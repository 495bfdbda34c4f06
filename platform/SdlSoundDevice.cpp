// The sound card through SDL2's callback API. SDL's audio subsystem is
// process-wide: the first device initialises it (with the driver asked for, or
// SDL's choice and then "dummy"), the last one closed shuts it down.
#include <SDL.h>

#include <cstdio>
#include <mutex>

#include "platform/SoundDevice.h"
#include "platform/TickCount.h"

namespace platform {

namespace {

std::mutex g_sdl_mutex;
int g_sdl_users = 0;  // guarded by g_sdl_mutex

// Starts SDL's audio on `driver` (empty: SDL's choice); 0 on success.
int InitAudio(const std::string& driver) {
  if (!driver.empty()) SDL_SetHint(SDL_HINT_AUDIODRIVER, driver.c_str());
  const int r = SDL_InitSubSystem(SDL_INIT_AUDIO);
  SDL_SetHint(SDL_HINT_AUDIODRIVER, nullptr);
  return r;
}

std::string CurrentDriver() {
  const char* current = SDL_GetCurrentAudioDriver();
  return current ? current : "";
}

class SdlSoundDevice final : public SoundDevice {
 public:
  ~SdlSoundDevice() override {
    if (id_ == 0) return;
    SDL_CloseAudioDevice(id_);
    std::lock_guard lock(g_sdl_mutex);
    if (--g_sdl_users == 0) SDL_QuitSubSystem(SDL_INIT_AUDIO);
  }
  int rate() const override { return have_.freq; }
  int channels() const override { return have_.channels; }
  std::string name() const override { return driver_; }
  int latency_ms() const override { return have_.freq > 0 ? static_cast<int>(have_.samples * 1000 / have_.freq) : 0; }

  // With g_sdl_mutex held and SDL's audio initialised: opens the default
  // device and starts it.
  bool Open(const SoundDeviceOptions& options, std::string driver) {
    SDL_AudioSpec want{};
    want.freq = options.rate;
    want.format = AUDIO_S16SYS;
    want.channels = static_cast<Uint8>(options.channels);
    want.samples = 512;  // about 10 ms at 48 kHz
    want.callback = &SdlSoundDevice::Callback;
    want.userdata = this;
    // Format changes are not allowed: the buffer's resampler targets the rate
    // asked for and the samples are always 16-bit.
    id_ = SDL_OpenAudioDevice(nullptr, 0, &want, &have_, 0);
    if (id_ == 0) return false;
    ++g_sdl_users;
    driver_ = std::move(driver);
    SDL_PauseAudioDevice(id_, 0);
    return true;
  }

 private:
  static void Callback(void* self, Uint8* stream, int len) {
    auto* device = static_cast<SdlSoundDevice*>(self);
    const int frames = len / (2 * device->have_.channels);
    device->Render(reinterpret_cast<int16_t*>(stream), frames, TickCount32());
  }

  SDL_AudioDeviceID id_ = 0;
  SDL_AudioSpec have_{};
  std::string driver_;
};

}  // namespace

std::unique_ptr<SoundDevice> OpenSdlSoundDevice(const SoundDeviceOptions& options, std::string* error) {
  std::lock_guard lock(g_sdl_mutex);
  auto fail = [&](const std::string& why) -> std::unique_ptr<SoundDevice> {
    if (error) *error = why;
    if (g_sdl_users == 0 && SDL_WasInit(SDL_INIT_AUDIO)) SDL_QuitSubSystem(SDL_INIT_AUDIO);
    return nullptr;
  };
  if (g_sdl_users == 0) {
    int r = InitAudio(options.driver);
    if (r != 0 && options.driver.empty()) r = InitAudio("dummy");
    if (r != 0) return fail(std::string("no sound driver: ") + SDL_GetError());
  } else if (!options.driver.empty() && CurrentDriver() != options.driver) {
    return fail("sound driver '" + CurrentDriver() + "' is in use, not '" + options.driver + "'");
  }
  auto device = std::make_unique<SdlSoundDevice>();
  if (device->Open(options, CurrentDriver())) return device;
  if (!options.driver.empty() || g_sdl_users > 0 || CurrentDriver() == "dummy")
    return fail(std::string("no sound device: ") + SDL_GetError());
  // SDL chose a driver that opens nothing (no sound card): start again on
  // "dummy", which takes the samples in real time and plays them nowhere.
  std::fprintf(stderr, "dravik: no sound device on '%s' (%s); playing silently\n", CurrentDriver().c_str(),
               SDL_GetError());
  SDL_QuitSubSystem(SDL_INIT_AUDIO);
  if (InitAudio("dummy") != 0) return fail(std::string("no sound driver: ") + SDL_GetError());
  if (device->Open(options, CurrentDriver())) return device;
  return fail(std::string("no sound device: ") + SDL_GetError());
}

}  // namespace platform
