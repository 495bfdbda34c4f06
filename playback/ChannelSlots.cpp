#include "playback/ChannelSlots.h"

#include <cstddef>

namespace playback {

void ChannelSlots::Clear() {
  video_.fill(-1);
  audio_.fill(-1);
}

void ChannelSlots::SetQvv(int declared_video_streams) {
  for (int i = 0; i < kSlots; ++i) {
    video_[static_cast<std::size_t>(i)] = i;
    audio_[static_cast<std::size_t>(i)] = declared_video_streams + i;
  }
}

int ChannelSlots::Video(int stream_number) const {
  if (stream_number < 0 || stream_number >= kSlots) return -1;
  for (int i = 0; i < kSlots; ++i)
    if (video_[static_cast<std::size_t>(i)] == stream_number) return i;
  return -1;
}

int ChannelSlots::Audio(int stream_number) const {
  if (stream_number < 0) return -1;
  for (int i = 0; i < kSlots; ++i)
    if (audio_[static_cast<std::size_t>(i)] == stream_number) return i;
  return -1;
}

}  // namespace playback
