#include "app/ChannelSwitches.h"

#include <string>

#include "engine/EngineGlobals.h"

namespace app {

void ChannelSwitches::Load(const AppConfig& config) {
  for (int i = 0; i < kChannels; ++i) {
    const std::string n = std::to_string(i + 1);
    const size_t at = static_cast<size_t>(i);
    mirror[at] = config.ReadInt("Lumivex", "MirrorCh" + n, 0);
    overlay[at] = config.ReadInt("Lumivex", "OpenAlgCh" + n, 0);
    aspect_fit[at] = config.ReadInt("Lumivex", "ScaleAspectFitCh" + n, 0);
  }
}

void ChannelSwitches::Apply() const {
  for (int i = 0; i < kChannels; ++i) {
    const size_t at = static_cast<size_t>(i);
    engine::ChannelDisplay& d = engine::DisplaySettings(i);
    // Transforms outside 0..5 are drawn as recorded.
    d.mirror.store(mirror[at] >= 0 && mirror[at] <= 5 ? mirror[at] : 0);
    d.overlay.store(overlay[at] != 0);
    d.aspect_fit.store(aspect_fit[at] != 0);
  }
}

}  // namespace app
