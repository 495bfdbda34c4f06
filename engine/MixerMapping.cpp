#include "engine/MixerMapping.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace engine::mixer {

namespace {
constexpr std::array<const char*, 4> kSpeakerNames = {"Master", "Speaker", "PCM", "Headphone"};
constexpr std::array<const char*, 4> kHeadphoneNames = {"Headphone", "Master", "PCM", "Speaker"};
}  // namespace

std::span<const char* const> DestinationNames(int component_type) {
  switch (component_type) {
    case kSpeakers:
      return kSpeakerNames;
    case kHeadphones:
      return kHeadphoneNames;
    default:
      return {};
  }
}

const char* SourceName(int source_type) {
  switch (source_type) {
    case kSourceLine:
      return "Line";
    case kSourceMicrophone:
      return "Mic";
    case kSourceSynthesizer:
      return "Synth";
    case kSourceCompactDisc:
      return "CD";
    case kSourcePcSpeaker:
      return "Beep";
    case kSourceWaveOut:
      return "PCM";
    case kSourceAuxiliary:
      return "Aux";
    default:
      return nullptr;
  }
}

// Doubles hold any ALSA range a driver reports exactly enough for a 16-bit scale.
long ScaleToElement(uint32_t value, long min, long max) {
  if (max <= min) return min;
  const double fraction = static_cast<double>(std::min(value, kScaleMax)) / kScaleMax;
  return min + std::lround(fraction * (static_cast<double>(max) - static_cast<double>(min)));
}

uint32_t ElementToScale(long value, long min, long max) {
  if (max <= min) return 0;
  const double span = static_cast<double>(max) - static_cast<double>(min);
  const double fraction = (static_cast<double>(std::clamp(value, min, max)) - static_cast<double>(min)) / span;
  return static_cast<uint32_t>(std::lround(fraction * kScaleMax));
}

}  // namespace engine::mixer
