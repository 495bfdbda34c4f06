#pragma once
// The per-channel switch tables (index 0 is channel 1): picture transform,
// analysis overlay and aspect fit, as "setting.ini" keeps them in [Lumivex]
// ("MirrorCh1" ... "MirrorCh12", "OpenAlgCh1" ..., "ScaleAspectFitCh1" ...).
// The engine's play threads read them through engine::DisplaySettings.
#include <array>

#include "app/AppConfig.h"

namespace app {

struct ChannelSwitches {
  static constexpr int kChannels = 12;
  std::array<int, kChannels> mirror{};
  std::array<int, kChannels> overlay{};
  std::array<int, kChannels> aspect_fit{};

  void Load(const AppConfig& config);
  // Hands the tables to the engine's per-channel display settings.
  void Apply() const;
};

}  // namespace app
