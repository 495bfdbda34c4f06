#pragma once
// Muting the output, through the playback switch of the destination line on the
// ALSA simple mixer of the default card. ALSA's switch is on when sound plays;
// this class speaks mute (1 = muted) as its callers do.
#include "engine/AlsaMixer.h"
#include "platform/MessageBoxHook.h"

namespace engine {

class mutecontrol {
 public:
  // Open's results.
  static constexpr int kOk = 0;
  static constexpr int kOpenFailed = -1;
  static constexpr int kLoadFailed = -2;
  static constexpr int kNoDevice = -3;
  static constexpr int kNoLine = -4;
  static constexpr int kNoMuteControl = -6;

  mutecontrol() = default;
  ~mutecontrol() = default;
  mutecontrol(const mutecontrol&) = delete;
  mutecontrol& operator=(const mutecontrol&) = delete;

  // Opens the mute switch of component_type's destination line (mixer::kSpeakers
  // or kHeadphones). A source_type other than -1 walks the line's sources; a
  // failed walk shows its message on `owner` (stderr when null) but is not fatal.
  int Open(platform::MessageBoxHook* owner, int component_type, int source_type);

  // 1 muted, 0 not, -1 when not open or the device failed.
  int GetMute();
  // Any non-zero value mutes. False when not open or the device failed.
  bool SetMute(int value);
  // Safe to call when closed, and twice.
  void CloseMixer();

  bool IsOpen() const { return line_ != nullptr; }
  int SourceIndex() const { return source_index_; }

 private:
  AlsaMixer mixer_;
  snd_mixer_elem_t* line_ = nullptr;  // owned by mixer_
  int source_index_ = -1;
};

}  // namespace engine
