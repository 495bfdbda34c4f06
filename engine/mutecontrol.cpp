#include "engine/mutecontrol.h"

#include <alsa/asoundlib.h>

#include "engine/MixerMapping.h"

namespace engine {

namespace {
constexpr const char* kLineInfoFailed = "GetLinInfo Resource faile!";
}  // namespace

int mutecontrol::Open(platform::MessageBoxHook* owner, int component_type, int source_type) {
  CloseMixer();
  switch (mixer_.Open()) {
    case AlsaMixer::OpenResult::kOk:
      break;
    case AlsaMixer::OpenResult::kOpenFailed:
      return kOpenFailed;
    case AlsaMixer::OpenResult::kLoadFailed:
      return kLoadFailed;
    case AlsaMixer::OpenResult::kNoDevice:
      return kNoDevice;
  }
  snd_mixer_elem_t* line = nullptr;
  switch (mixer_.FindDestination(component_type, AlsaMixer::Need::kSwitch, &line)) {
    case AlsaMixer::LineResult::kFound:
      break;
    case AlsaMixer::LineResult::kNoLine:
      CloseMixer();
      return kNoLine;
    case AlsaMixer::LineResult::kNoControl:
      CloseMixer();
      return kNoMuteControl;
  }
  if (source_type != mixer::kNoSource) {
    int connections = 0;
    if (!mixer_.FindSource(line, source_type, &connections, &source_index_)) {
      platform::MessageBoxHook::Show(owner, kLineInfoFailed);
    }
  }
  line_ = line;
  return kOk;
}

int mutecontrol::GetMute() {
  if (line_ == nullptr || !mixer_.Refresh()) return -1;
  int on = 0;
  if (snd_mixer_selem_get_playback_switch(line_, SND_MIXER_SCHN_FRONT_LEFT, &on) < 0) return -1;
  return mixer::MuteFromSwitch(on);
}

bool mutecontrol::SetMute(int value) {
  if (line_ == nullptr) return false;
  return snd_mixer_selem_set_playback_switch_all(line_, mixer::SwitchFromMute(value)) >= 0;
}

void mutecontrol::CloseMixer() {
  line_ = nullptr;
  source_index_ = -1;
  mixer_.Close();
}

}  // namespace engine
