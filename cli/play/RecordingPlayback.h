#pragma once
// A recording played the way the player plays it: the reader thread of its
// container feeds the filter, the clock and the audio player on the real
// clock, to the end; with statistics of every channel's pictures, the records
// handed on, the played sound against its pictures, and optionally a picture
// a second per channel saved as BMP.
#include <string>
#include <vector>

#include "cli/play/QvvPlayback.h"

namespace cli {

struct RecordingRun {
  // A ".qvv" file, or the per-channel files (".avi", ".flv") of one group.
  std::vector<std::string> paths;
  PlayOptions options;
  int seek_seconds = -1;   // start there (seconds into the recording)
  std::string frames_dir;  // a picture a second per channel, as snapshots
  // Clips of every channel from export_from to export_to (seconds) into
  // export_dir, written while playing ("<recording>-chNN.avi").
  std::string export_dir;
  int export_from = 0, export_to = -1;
};

std::vector<ChannelReport> PlayRecording(const RecordingRun& run, PlaySummary* summary);

}  // namespace cli
