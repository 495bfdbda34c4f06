#pragma once
// A row of the recording list: what the scan found about one file, and the
// texts its columns show. Rows are ordered by start time, then channel; rows
// with the same start time are a group (the channels recorded together).
#include <array>
#include <cstdint>
#include <string>

#include <QString>

#include "app/PropertyFormat.h"

namespace app {

inline constexpr int kRowChannels = 12;

struct RecordingRow {
  int file_type = 0;       // 0 ".qvv", 1 ".avi", 2 ".flv", 3 ".mp4"
  std::string path;
  int64_t start = 0;       // the name's date and time, counted as UTC seconds
  int64_t duration = 0;    // seconds; 0 or less: unknown
  uint32_t channel = 0;    // the channel (0 .. 11); a ".qvv" file's channel mask
  uint32_t type_mask = 0;  // manual, timing, motion, alarm bytes, most significant first
  uint64_t file_size = 0;
  std::string car_number;  // the name's identifier
  std::array<ChannelVideo, kRowChannels> video{};  // by channel

  // The channels the row feeds: bit i = channel i.
  uint32_t channel_mask() const { return file_type == 0 ? channel : (channel < 32 ? 1u << channel : 0u); }
  // The channel the row stands for: a ".qvv" file's lowest.
  int first_channel() const;
};

// "2024-03-15", "08:00:00", "01:02:05" ("--:--:--" when 0 or less).
QString DateText(int64_t start);
QString TimeText(int64_t start);
QString DurationText(int64_t seconds);
// "CH01"; a ".qvv" file's channels, "CH01-04" when they follow each other, else "1,3,5".
QString ChannelText(const RecordingRow& row);
// Which of the 16 type icons: 8 manual, 4 timing, 2 motion, 1 alarm.
int TypeIconIndex(uint32_t type_mask);

// The list's order: start time, then channel.
inline bool RowBefore(const RecordingRow& a, const RecordingRow& b) {
  return a.start != b.start ? a.start < b.start : a.channel < b.channel;
}

}  // namespace app
