#pragma once
// The output volume, on the ALSA simple mixer of the default card. Callers speak
// the Windows volume scale: GetVolume and SetVolume take 0..65535 (the main
// window's slider sets position x 512) and map it linearly onto the element's
// own playback range; GetMinimum and GetMaximum give the bounds of that scale,
// so the slider's range (maximum / 512) stays usable whatever range the card
// has. ElementMinimum/ElementMaximum report the card's own range.
#include <cstdint>
#include <string>

#include "engine/AlsaMixer.h"
#include "engine/MixerMapping.h"
#include "platform/MessageBoxHook.h"

namespace engine {

class volumcontrol {
 public:
  volumcontrol() = default;
  ~volumcontrol() = default;
  volumcontrol(const volumcontrol&) = delete;
  volumcontrol& operator=(const volumcontrol&) = delete;

  // Opens the destination line of component_type (mixer::kSpeakers or
  // kHeadphones) and its control_type control (only mixer::kVolumeControl
  // exists here). source_type -1 leaves the source lines alone; another type
  // records the index of its line among the destination's sources. Messages go
  // to `owner` (stderr when null). False when anything is missing.
  bool Open(platform::MessageBoxHook* owner, int component_type, int source_type, uint32_t control_type);

  // -1 when not open; 0 when the device failed; else 1 with both values on the
  // 0..65535 scale (a mono control gives right = left).
  int GetVolume(uint32_t* left, uint32_t* right);
  // Values over 65535 count as 65535. False when not open or the device failed.
  bool SetVolume(uint32_t left, uint32_t right);

  uint32_t GetMinimum() const { return 0; }
  uint32_t GetMaximum() const { return mixer::kScaleMax; }
  long ElementMinimum() const { return min_; }
  long ElementMaximum() const { return max_; }

  // Safe to call when closed, and twice.
  void CloseMixer();

  bool IsOpen() const { return line_ != nullptr; }
  int Destination() const { return destination_; }
  int ConnectionCount() const { return connections_; }
  int SourceIndex() const { return source_index_; }
  const std::string& ControlName() const { return name_; }
  int Channels() const { return channels_; }

 private:
  AlsaMixer mixer_;
  snd_mixer_elem_t* line_ = nullptr;  // owned by mixer_
  int destination_ = -1;
  int connections_ = 0;
  int source_index_ = -1;
  std::string name_;
  long min_ = 0;
  long max_ = 0;
  int channels_ = 0;
};

}  // namespace engine
