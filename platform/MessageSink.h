#pragma once
// Window messages from workers to the main window, with their fixed numbers.
// Post is asynchronous (the sender does not wait); Send is synchronous and
// returns the receiver's answer. The Qt main window implements this; tests use a
// recording sink.
#include <cstdint>

namespace platform {

using MsgParam = intptr_t;

class MessageSink {
 public:
  virtual ~MessageSink() = default;
  virtual void Post(uint32_t message, MsgParam first, MsgParam second) = 0;
  virtual MsgParam Send(uint32_t message, MsgParam first, MsgParam second) = 0;
};

// Application-range message numbers (user message base 1024 + n).
namespace msg {
inline constexpr uint32_t kUserBase = 1024;
inline constexpr uint32_t kChannelCount = 1130;        // container: returns 12
inline constexpr uint32_t kSecondChannelCount = 1131;  // container: returns 12
inline constexpr uint32_t kPaneSelected = 1135;        // first: channel
inline constexpr uint32_t kSeek = 1136;                // second: target seconds
inline constexpr uint32_t kProgress = 1137;            // first: seconds; second: -1/-2/-3 or position
inline constexpr uint32_t kPlayNextGroup = 1138;
inline constexpr uint32_t kMapNextRow = 1139;
inline constexpr uint32_t kMp4NoBackward = 1141;
inline constexpr uint32_t kAudioChannel = 1150;     // first: channel, -10 = mute
inline constexpr uint32_t kMapSettings = 1151;      // first: offset switch, second: play-back switch
inline constexpr uint32_t kWaveHeight = 1152;
inline constexpr uint32_t kFileOpened = 1155;
inline constexpr uint32_t kPlayRowAt = 1156;        // first: row record, second: offset seconds
inline constexpr uint32_t kExportClip = 1157;       // first: start, second: end (seconds)
inline constexpr uint32_t kExportProgress = 1158;   // first: percent
inline constexpr uint32_t kSelectedChannel = 1159;
inline constexpr uint32_t kGoToTime = 1160;         // first: hours, second: seconds
inline constexpr uint32_t kPauseRequest = 1161;
inline constexpr uint32_t kScanFinished = 1162;     // first: 1 = update search ranges
inline constexpr uint32_t kScanRecord = 1163;       // sent synchronously
inline constexpr uint32_t kChannelProperties = 1164;
inline constexpr uint32_t kPlayPause = 1165;
inline constexpr uint32_t kSliderMoved = 10449;
inline constexpr uint32_t kSliderMoved2 = 10450;
}  // namespace msg

}  // namespace platform
