#include "engine/EngineGlobals.h"

namespace engine {
namespace {

struct SourceEvents {
  std::array<platform::Event, kSourceKinds> events{
      platform::Event(platform::Event::Mode::ManualReset), platform::Event(platform::Event::Mode::ManualReset),
      platform::Event(platform::Event::Mode::ManualReset), platform::Event(platform::Event::Mode::ManualReset)};
};

SourceEvents& Sources() {
  static SourceEvents sources;
  return sources;
}

}  // namespace

platform::CriticalSection& CodecLock() {
  static platform::CriticalSection lock;
  return lock;
}

platform::Event& SourceActiveEvent(SourceKind kind) {
  return Sources().events[static_cast<size_t>(kind)];
}

bool AnySourceActive() {
  for (auto& e : Sources().events) {
    if (e.IsSet()) return true;
  }
  return false;
}

void ResetAllSourceEvents() {
  for (auto& e : Sources().events) e.Reset();
}

ChannelDisplay& DisplaySettings(int channel) {
  static std::array<ChannelDisplay, kDisplayChannels + 1> settings;
  if (channel < 0 || channel >= kDisplayChannels) return settings[kDisplayChannels];
  return settings[static_cast<size_t>(channel)];
}

}  // namespace engine
