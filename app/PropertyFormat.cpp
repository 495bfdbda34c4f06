#include "app/PropertyFormat.h"

#include <cstdio>
#include <iomanip>
#include <locale>
#include <sstream>

namespace app::property {
namespace {

// "%.Nf" in the C locale (printf follows LC_NUMERIC, which the toolkit sets
// from the environment: "1,00 KB" under a German locale).
std::string Fixed(double value, int decimals) {
  std::ostringstream out;
  out.imbue(std::locale::classic());
  out << std::fixed << std::setprecision(decimals) << value;
  return out.str();
}

}  // namespace

std::string SizeText(uint64_t bytes) {
  if (bytes < 1024) return std::to_string(bytes) + " B";
  constexpr float kPerKilo = 1.0f / 1024.0f;
  const float kilo = static_cast<float>(bytes) * kPerKilo;
  if (bytes < 1048576) return Fixed(kilo, 2) + " KB";
  return Fixed(kilo * kPerKilo, 2) + " MB";
}

std::string DurationText(int64_t seconds) {
  if (seconds < 0) seconds = 0;
  char text[48];
  std::snprintf(text, sizeof text, "%02lld:%02d:%02d", static_cast<long long>(seconds / 3600),
                static_cast<int>(seconds / 60 % 60), static_cast<int>(seconds % 60));
  return text;
}

std::string BitRateText(int64_t bits_per_second) {
  return Fixed(static_cast<double>(bits_per_second) / 1000.0, 3) + " kbps";
}

std::string TotalBitRateText(const ChannelVideo* channels, size_t count) {
  // Added as doubles: eight damaged 64-bit rates must not overflow.
  double total = 0;
  for (size_t i = 0; i < count; ++i) total += static_cast<double>(channels[i].bit_rate);
  return Fixed(total / 1000.0, 3) + " kbps";
}

std::string ResolutionText(int width, int height) {
  return std::to_string(width) + " X " + std::to_string(height) + " ";
}

std::string FrameRateText(int frames_per_second) { return std::to_string(frames_per_second) + " fps"; }

}  // namespace app::property
