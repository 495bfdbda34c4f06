#pragma once
// What the folder scan does with one file and with a folder, free of any
// window: a file is a recording when its extension is one of the four, its
// name follows the recorder's naming rules and its reader accepts its header;
// the name gives start, record type, channel and identifier, the header the
// length and every channel's picture size, bit rate and frame rate.
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <limits>
#include <optional>
#include <string>

#include "app/RecordingRow.h"

namespace app {

// Which recordings a search keeps (an open folder keeps every one).
struct ScanFilter {
  static constexpr uint32_t kAllTypes = 0xFFFFFFFF;
  uint32_t types = kAllTypes;  // record-type bytes, as in the mask
  int64_t from = std::numeric_limits<int64_t>::min();  // UTC seconds, as the list counts them
  int64_t to = std::numeric_limits<int64_t>::max();
  std::string car_number;  // empty: any
  bool Accepts(const RecordingRow& row) const;
};

// The row of a recording file, or nothing when it is not one.
std::optional<RecordingRow> ProbeRecording(const std::filesystem::path& path);

// Walks `folder` and (when `recursive`) every folder below it (symbolic
// links to folders are not followed, folders that cannot be read are passed
// over), probing every file with one of the four extensions. `found` gets
// each recording, `seen` the count of files looked at so far (every 64
// files). Ends early when `cancel` is set. The count of files looked at.
int WalkRecordings(const std::filesystem::path& folder, const std::atomic<bool>& cancel,
                   const std::function<void(RecordingRow)>& found, const std::function<void(int)>& seen = {},
                   bool recursive = true);

}  // namespace app
