#pragma once
// A group of recordings: the files that started at the same second. A ".qvv"
// file holds every channel; ".avi", ".flv" and ".mp4" recordings are one file
// per channel, the channel written in the name. The recording list builds
// groups from its rows (PlayCommands.h); the reader threads get its names.
#include <array>
#include <string>

#include "playback/PlaybackControl.h"

namespace app {

struct RecordingGroup {
  playback::Container type = playback::Container::Qvv;
  int64_t start = -1;                                     // the name's time, UTC seconds
  std::string qvv;                                        // the ".qvv" file
  std::array<std::string, playback::kChannels> channel;   // per-channel files
  int main_channel = 0;  // whose time stamps the clock follows
  playback::PlaybackControl::Names names() const;
};

}  // namespace app
