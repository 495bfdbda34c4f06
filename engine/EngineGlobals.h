#pragma once
// Process-wide engine state: the codec lock that serialises codec set-up and the
// four source-active events (one per kind of source) that gate all engine input.
#include <array>

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

}  // namespace engine
