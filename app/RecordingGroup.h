#pragma once
// A group of recordings: the files that started at the same second. A ".qvv"
// file holds every channel; ".avi", ".flv" and ".mp4" recordings are one file
// per channel, the channel written in the name. The command line names a file
// (its group is played) or a folder (its earliest group is played); the list
// and the scan worker choose groups the same way.
#include <array>
#include <filesystem>
#include <optional>
#include <string>

#include "playback/PlaybackControl.h"

namespace app {

struct RecordingGroup {
  playback::Container type = playback::Container::Qvv;
  int64_t local_start = -1;
  std::string qvv;                                        // the ".qvv" file
  std::array<std::string, playback::kChannels> channel;   // per-channel files
  int main_channel = 0;  // whose time stamps the clock follows
  // The channels that have a recording (every channel of a ".qvv" file).
  std::array<bool, playback::kChannels> present() const;
  playback::PlaybackControl::Names names() const;
};

// The recording type of a path's extension, or nullopt when it is none of the four.
std::optional<playback::Container> ContainerOfPath(const std::string& path);

// The group of `file`: the files of its folder with the same kind and start
// time. nullopt when the name is not a recording's.
std::optional<RecordingGroup> GroupOfFile(const std::filesystem::path& file);

// The earliest group below `folder` (recursively); nullopt when there is none.
std::optional<RecordingGroup> FirstGroupIn(const std::filesystem::path& folder);

// What the command line names: a file's group or a folder's first group.
std::optional<RecordingGroup> GroupForPath(const std::string& path);

}  // namespace app
