#pragma once
// Deterministic test signals shared by tests and benchmarks.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace testing_support {

// Speech-like 8 kHz signal: a gliding fundamental with falling harmonics, a
// syllable-rate envelope and a little noise; `peak` is the largest amplitude.
std::vector<int16_t> SpeechLike(size_t samples, uint32_t seed, double peak = 12000.0);

// Signal-to-noise ratio of `decoded` against `reference`, in dB.
double SnrDb(const int16_t* reference, const int16_t* decoded, size_t count);

}  // namespace testing_support
