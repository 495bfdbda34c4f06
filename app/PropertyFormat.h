#pragma once
// The texts of the file-properties dialogs: file size, duration, bit rate,
// resolution and frame rate as the recorder's players have always shown them.
// Numbers are written with '.' whatever the user's locale.
#include <cstddef>
#include <cstdint>
#include <string>

namespace app {

// A channel's video as the properties show it; a channel with no data is all zero.
struct ChannelVideo {
  int width = 0, height = 0;
  int64_t bit_rate = 0;  // bits per second
  int frame_rate = 0;
};

namespace property {

// "1023 B", "1.00 KB", "1.00 MB": kilo- and megabytes worked out in single
// precision, two decimals.
std::string SizeText(uint64_t bytes);
// "01:02:05" (hours may run past 99); a negative count shows as zero.
std::string DurationText(int64_t seconds);
// Bits per second as "%.3f kbps".
std::string BitRateText(int64_t bits_per_second);
// The channels' bit rates added up, as "%.3f kbps".
std::string TotalBitRateText(const ChannelVideo* channels, size_t count);
// "1280 X 720 " (with the trailing blank the dialogs have always shown).
std::string ResolutionText(int width, int height);
// "25 fps".
std::string FrameRateText(int frames_per_second);

}  // namespace property
}  // namespace app
