#pragma once
// Which pane a video stream plays in and whose sound an audio stream is: two
// tables of twelve stream numbers. A QVV file maps video stream n to pane n
// and audio stream V + n (V the video streams its header declares) to channel
// n; a stream that is not in the table has no channel and is neither shown nor
// heard. Used by one reader thread at a time.
#include <array>

namespace playback {

class ChannelSlots {
 public:
  static constexpr int kSlots = 12;
  ChannelSlots() { Clear(); }
  void Clear();
  void SetQvv(int declared_video_streams);
  // The channel of a stream, or -1. Video streams numbered 12 or more have none.
  int Video(int stream_number) const;
  int Audio(int stream_number) const;

 private:
  std::array<int, kSlots> video_{}, audio_{};
};

}  // namespace playback
