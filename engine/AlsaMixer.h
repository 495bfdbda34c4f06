#pragma once
// The ALSA simple mixer of the default card, as volumcontrol and mutecontrol use
// it: opening with the failures told apart the way the Windows mixer API tells
// them apart, finding the element that stands for a destination or source line,
// and catching up with changes made by other programs.
#include <cstdint>

typedef struct _snd_mixer snd_mixer_t;
typedef struct _snd_mixer_elem snd_mixer_elem_t;

namespace engine {

class AlsaMixer {
 public:
  enum class OpenResult { kOk, kOpenFailed, kLoadFailed, kNoDevice };
  // What a line must carry to count.
  enum class Need { kVolume, kSwitch };
  enum class LineResult { kFound, kNoLine, kNoControl };

  AlsaMixer() = default;
  ~AlsaMixer();
  AlsaMixer(const AlsaMixer&) = delete;
  AlsaMixer& operator=(const AlsaMixer&) = delete;

  // Opens the "default" control device (closing an open one first). A machine
  // without a sound card has no such device: kNoDevice.
  OpenResult Open();
  void Close();
  bool IsOpen() const { return mixer_ != nullptr; }

  // The first element of the component type's destination list (see
  // mixer::DestinationNames) that has a playback control of the needed kind.
  // kNoLine: none of the names exists with any playback control; kNoControl:
  // some do, but none has the needed one.
  LineResult FindDestination(int component_type, Need need, snd_mixer_elem_t** line) const;

  // The source lines of `destination` are the other elements with a playback
  // control. Sets *count to their number and *index to the position of the
  // first one of source_type's element (-1 when there is none). False when the
  // element list could not be brought up to date (the card went away).
  bool FindSource(snd_mixer_elem_t* destination, int source_type, int* count, int* index);

  // Takes in the changes other programs made since the last call, so that values
  // read afterwards are current. False when the device failed.
  bool Refresh();

 private:
  snd_mixer_t* mixer_ = nullptr;
};

}  // namespace engine
