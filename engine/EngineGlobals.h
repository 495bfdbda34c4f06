#pragma once
// Process-wide engine state: the codec lock that serialises codec set-up and the
// four source-active events (one per kind of source) that gate all engine input.
#include <array>
#include <atomic>

#include "platform/CriticalSection.h"
#include "platform/Event.h"

namespace engine {

enum class SourceKind { Qvv = 0, Avi = 1, Flv = 2, Media = 3 };
inline constexpr int kSourceKinds = 4;

// Every decoder holds it while it creates, opens, closes or frees a codec
// context, and never while it decodes or waits for a queue lock.
platform::CriticalSection& CodecLock();

// Manual-reset, all clear at start.
platform::Event& SourceActiveEvent(SourceKind kind);
// True when any of the four events is set (tested with a zero time-out).
bool AnySourceActive();
void ResetAllSourceEvents();

// The main window's per-channel display switches ("MirrorCh", "ScaleAspectFitCh",
// "OpenAlgCh" of setting.ini), read with every picture a channel shows.
struct ChannelDisplay {
  // 0 as recorded; 1 mirror left-right; 2 flip top-bottom; 3 rotate 90 degrees
  // clockwise; 4 rotate 90 degrees counter-clockwise; 5 rotate 180 degrees.
  std::atomic<int> mirror{0};
  std::atomic<bool> aspect_fit{false};  // keep the picture's shape (bands) instead of stretching
  std::atomic<bool> overlay{false};     // draw the recorder's analysis overlays
};
inline constexpr int kDisplayChannels = 12;
// Channel 0 .. 11; any other channel gets a table of its own that nothing reads.
ChannelDisplay& DisplaySettings(int channel);

}  // namespace engine
