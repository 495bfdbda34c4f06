#pragma once
// How the Windows mixer model the player was written against maps onto the ALSA
// simple mixer: the Windows component and control numbers it passes, the simple
// elements that stand for a destination or source line, the 0..65535 volume
// scale and the mute switch. Pure functions, so they are tested without a card.
#include <cstdint>
#include <span>

namespace engine::mixer {

// Destination component types (the main window asks for speakers, then
// headphones).
inline constexpr int kSpeakers = 4;
inline constexpr int kHeadphones = 5;
// Source component types the player may ask for; -1 = no source line.
inline constexpr int kNoSource = -1;
inline constexpr int kSourceLine = 0x1002;
inline constexpr int kSourceMicrophone = 0x1003;
inline constexpr int kSourceSynthesizer = 0x1004;
inline constexpr int kSourceCompactDisc = 0x1005;
inline constexpr int kSourcePcSpeaker = 0x1007;
inline constexpr int kSourceWaveOut = 0x1008;
inline constexpr int kSourceAuxiliary = 0x1009;
// Control types: the volume fader and the mute switch.
inline constexpr uint32_t kVolumeControl = 0x50030001;
inline constexpr uint32_t kMuteControl = 0x20010002;

// The volume scale callers speak, as the Windows volume fader has it.
inline constexpr uint32_t kScaleMax = 65535;

// The simple elements that can carry a destination, most wanted first: for the
// speakers the master output, for the headphones the headphone output, each
// falling back to the other outputs a card may have. Empty for other types.
std::span<const char* const> DestinationNames(int component_type);

// The simple element of a source component type, or nullptr for types without
// one (the lookup then finds nothing).
const char* SourceName(int source_type);

// 0..kScaleMax (larger values count as kScaleMax) onto [min, max], rounded to
// the nearest step.
long ScaleToElement(uint32_t value, long min, long max);
// An element value in [min, max] (clamped) onto 0..kScaleMax, rounded. An
// element with a single step reads as 0.
uint32_t ElementToScale(long value, long min, long max);

// ALSA's playback switch is 1 when sound plays; mute is the opposite.
inline int MuteFromSwitch(int switch_on) { return switch_on != 0 ? 0 : 1; }
inline int SwitchFromMute(int mute) { return mute != 0 ? 0 : 1; }

}  // namespace engine::mixer
