#include "engine/volumcontrol.h"

#include <alsa/asoundlib.h>

namespace engine {

namespace {
constexpr const char* kNoDevice = "没有找到音频设备!";
constexpr const char* kLineInfoFailed = "GetLinInfo Resource faile!";
}  // namespace

bool volumcontrol::Open(platform::MessageBoxHook* owner, int component_type, int source_type,
                        uint32_t control_type) {
  CloseMixer();
  const AlsaMixer::OpenResult opened = mixer_.Open();
  if (opened == AlsaMixer::OpenResult::kNoDevice) {
    platform::MessageBoxHook::Show(owner, kNoDevice);
    return false;
  }
  if (opened != AlsaMixer::OpenResult::kOk) return false;

  snd_mixer_elem_t* line = nullptr;
  if (mixer_.FindDestination(component_type, AlsaMixer::Need::kVolume, &line) != AlsaMixer::LineResult::kFound) {
    CloseMixer();
    return false;
  }
  int connections = 0;
  int source_index = -1;
  if (source_type != mixer::kNoSource && !mixer_.FindSource(line, source_type, &connections, &source_index)) {
    platform::MessageBoxHook::Show(owner, kLineInfoFailed);
    CloseMixer();
    return false;
  }
  // The line only has a volume fader; a mute switch is mutecontrol's.
  long min = 0;
  long max = 0;
  if (control_type != mixer::kVolumeControl || snd_mixer_selem_get_playback_volume_range(line, &min, &max) < 0) {
    CloseMixer();
    return false;
  }
  line_ = line;
  destination_ = component_type;
  connections_ = connections;
  source_index_ = source_index;
  name_ = std::string(snd_mixer_selem_get_name(line)) + " Playback Volume";
  min_ = min;
  max_ = max;
  channels_ = snd_mixer_selem_is_playback_mono(line) != 0 ? 1 : 2;
  return true;
}

int volumcontrol::GetVolume(uint32_t* left, uint32_t* right) {
  if (line_ == nullptr) return -1;
  if (!mixer_.Refresh()) return 0;
  long left_value = 0;
  long right_value = 0;
  if (snd_mixer_selem_get_playback_volume(line_, SND_MIXER_SCHN_FRONT_LEFT, &left_value) < 0) return 0;
  if (channels_ == 1) {
    right_value = left_value;
  } else if (snd_mixer_selem_get_playback_volume(line_, SND_MIXER_SCHN_FRONT_RIGHT, &right_value) < 0) {
    return 0;
  }
  *left = mixer::ElementToScale(left_value, min_, max_);
  *right = mixer::ElementToScale(right_value, min_, max_);
  return 1;
}

// Other channels of a multi-channel element (surround) keep their values.
bool volumcontrol::SetVolume(uint32_t left, uint32_t right) {
  if (line_ == nullptr) return false;
  if (snd_mixer_selem_set_playback_volume(line_, SND_MIXER_SCHN_FRONT_LEFT,
                                          mixer::ScaleToElement(left, min_, max_)) < 0) {
    return false;
  }
  if (channels_ == 1) return true;
  return snd_mixer_selem_set_playback_volume(line_, SND_MIXER_SCHN_FRONT_RIGHT,
                                             mixer::ScaleToElement(right, min_, max_)) >= 0;
}

void volumcontrol::CloseMixer() {
  line_ = nullptr;
  mixer_.Close();
  destination_ = -1;
  connections_ = 0;
  source_index_ = -1;
  name_.clear();
  min_ = 0;
  max_ = 0;
  channels_ = 0;
}

}  // namespace engine
