// Sync-mark beeps found in a channel's tone, where they begin, at the rates a
// sound device runs at.
#include "cli/play/BeepDetector.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

constexpr double kPi = 3.14159265358979323846;

// `seconds` of a 500 Hz tone with a 40 ms 1 kHz beep at every whole second
// plus `offset_ms`, fed in blocks of 10 ms whose ticks start at 1000.
std::vector<double> Onsets(int rate, double offset_ms, int seconds) {
  cli::BeepDetector detector(rate);
  const int block = rate / 100;
  std::vector<int16_t> samples(static_cast<size_t>(block));
  for (int b = 0; b < seconds * 100; ++b) {
    for (int i = 0; i < block; ++i) {
      const double t = (b * block + i) / static_cast<double>(rate);  // seconds
      const double in_second = std::fmod(t * 1000 - offset_ms + 1000, 1000.0);
      const double hz = in_second < 40 ? 1000 : 500;
      samples[static_cast<size_t>(i)] = static_cast<int16_t>(6000 * std::sin(2 * kPi * hz * t));
    }
    detector.Feed(samples.data(), block, static_cast<uint32_t>(1000 + b * 10));
  }
  return detector.onsets();
}

TEST(BeepDetector, FindsEachBeepWhereItBegins) {
  for (const int rate : {8000, 44100, 48000}) {
    const auto onsets = Onsets(rate, 250, 3);
    ASSERT_EQ(onsets.size(), 3u) << rate;
    for (size_t i = 0; i < onsets.size(); ++i)
      EXPECT_NEAR(onsets[i], 1000 + 250 + 1000.0 * static_cast<double>(i), 1.5) << rate;
  }
}

TEST(BeepDetector, AToneWithoutBeepsHasNone) {
  cli::BeepDetector detector(48000);
  std::vector<int16_t> samples(48000);
  for (size_t i = 0; i < samples.size(); ++i)
    samples[i] = static_cast<int16_t>(6000 * std::sin(2 * kPi * 700 * static_cast<double>(i) / 48000));
  detector.Feed(samples.data(), static_cast<int>(samples.size()), 0);
  EXPECT_TRUE(detector.onsets().empty());
}

}  // namespace
