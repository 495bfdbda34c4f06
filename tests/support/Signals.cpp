#include "tests/support/Signals.h"

#include <cmath>
#include <numbers>

namespace testing_support {

std::vector<int16_t> SpeechLike(size_t samples, uint32_t seed, double peak) {
  std::vector<int16_t> out(samples);
  uint32_t lcg = seed * 2654435761u + 1;
  double phase = 0.0;
  for (size_t i = 0; i < samples; ++i) {
    const double t = static_cast<double>(i) / 8000.0;
    const double f0 = 140.0 + 60.0 * std::sin(2 * std::numbers::pi * 0.9 * t + seed);
    phase += 2 * std::numbers::pi * f0 / 8000.0;
    double v = 0.0;
    for (int h = 1; h <= 8; ++h) v += std::sin(h * phase) / h;
    const double envelope = 0.55 + 0.45 * std::sin(2 * std::numbers::pi * 4.0 * t);
    lcg = lcg * 1664525u + 1013904223u;
    const double noise = (static_cast<double>(lcg >> 8) / 16777216.0 - 0.5) * 0.04;
    out[i] = static_cast<int16_t>(std::lround(peak * (envelope * v / 2.0 + noise)));
  }
  return out;
}

double SnrDb(const int16_t* reference, const int16_t* decoded, size_t count) {
  double signal = 0.0, noise = 0.0;
  for (size_t i = 0; i < count; ++i) {
    const double r = reference[i];
    const double e = r - decoded[i];
    signal += r * r;
    noise += e * e;
  }
  if (noise == 0.0) return 200.0;
  return 10.0 * std::log10(signal / noise);
}

}  // namespace testing_support
