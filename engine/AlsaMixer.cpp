#include "engine/AlsaMixer.h"

#include <alsa/asoundlib.h>

#include <cerrno>
#include <cstring>

#include "engine/MixerMapping.h"

namespace engine {

namespace {

constexpr const char* kDevice = "default";

bool HasPlayback(snd_mixer_elem_t* elem) {
  return snd_mixer_selem_has_playback_volume(elem) != 0 || snd_mixer_selem_has_playback_switch(elem) != 0;
}

bool HasNeeded(snd_mixer_elem_t* elem, AlsaMixer::Need need) {
  return need == AlsaMixer::Need::kVolume ? snd_mixer_selem_has_playback_volume(elem) != 0
                                          : snd_mixer_selem_has_playback_switch(elem) != 0;
}

// The playback element called `name` (index 0), or nullptr.
snd_mixer_elem_t* FindPlayback(snd_mixer_t* mixer, const char* name) {
  for (snd_mixer_elem_t* elem = snd_mixer_first_elem(mixer); elem != nullptr; elem = snd_mixer_elem_next(elem)) {
    if (snd_mixer_selem_get_index(elem) == 0 && std::strcmp(snd_mixer_selem_get_name(elem), name) == 0 &&
        HasPlayback(elem)) {
      return elem;
    }
  }
  return nullptr;
}

}  // namespace

AlsaMixer::~AlsaMixer() { Close(); }

AlsaMixer::OpenResult AlsaMixer::Open() {
  Close();
  snd_mixer_t* mixer = nullptr;
  if (snd_mixer_open(&mixer, 0) < 0) return OpenResult::kOpenFailed;
  const int attached = snd_mixer_attach(mixer, kDevice);
  if (attached < 0) {
    snd_mixer_close(mixer);
    // Without a card the default device's definition names a card that is not
    // there (-ENOENT); a card that vanished reports -ENODEV or -ENXIO.
    if (attached == -ENOENT || attached == -ENODEV || attached == -ENXIO) return OpenResult::kNoDevice;
    return OpenResult::kOpenFailed;
  }
  if (snd_mixer_selem_register(mixer, nullptr, nullptr) < 0 || snd_mixer_load(mixer) < 0) {
    snd_mixer_close(mixer);
    return OpenResult::kLoadFailed;
  }
  mixer_ = mixer;
  return OpenResult::kOk;
}

void AlsaMixer::Close() {
  if (mixer_ != nullptr) {
    snd_mixer_close(mixer_);
    mixer_ = nullptr;
  }
}

AlsaMixer::LineResult AlsaMixer::FindDestination(int component_type, Need need, snd_mixer_elem_t** line) const {
  *line = nullptr;
  if (mixer_ == nullptr) return LineResult::kNoLine;
  bool any_line = false;
  for (const char* name : mixer::DestinationNames(component_type)) {
    snd_mixer_elem_t* elem = FindPlayback(mixer_, name);
    if (elem == nullptr) continue;
    any_line = true;
    if (HasNeeded(elem, need)) {
      *line = elem;
      return LineResult::kFound;
    }
  }
  return any_line ? LineResult::kNoControl : LineResult::kNoLine;
}

bool AlsaMixer::FindSource(snd_mixer_elem_t* destination, int source_type, int* count, int* index) {
  *count = 0;
  *index = -1;
  if (!Refresh()) return false;
  const char* wanted = mixer::SourceName(source_type);
  for (snd_mixer_elem_t* elem = snd_mixer_first_elem(mixer_); elem != nullptr; elem = snd_mixer_elem_next(elem)) {
    if (elem == destination || !HasPlayback(elem)) continue;
    if (*index < 0 && wanted != nullptr && std::strcmp(snd_mixer_selem_get_name(elem), wanted) == 0) {
      *index = *count;
    }
    ++*count;
  }
  return true;
}

bool AlsaMixer::Refresh() {
  return mixer_ != nullptr && snd_mixer_handle_events(mixer_) >= 0;
}

}  // namespace engine
