#pragma once
// A per-stream seek index (entries sorted by timestamp) and the group-by-group
// stepping of reverse play, shared by the AVI and FLV readers: both read
// packets forwards from a byte position, and both find groups of pictures
// through the index of the channel's video stream.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace qvv {

struct IndexEntry {
  int64_t pos = 0;        // byte position of the chunk or tag
  int64_t timestamp = 0;  // in the stream's time base
  uint32_t size = 0;
  bool key = false;
};

class StreamIndex {
 public:
  static constexpr size_t kMaxEntries = 0x0AAAAAAA - 1;

  // Keeps timestamps strictly increasing; an existing timestamp is replaced.
  void Add(const IndexEntry& entry);
  const std::vector<IndexEntry>& entries() const { return entries_; }
  bool empty() const { return entries_.empty(); }
  void clear() { entries_.clear(); }

  // Key-frame entries at or before / at or after `timestamp`; -1 when none.
  int KeyAtOrBefore(int64_t timestamp) const;
  int KeyAtOrAfter(int64_t timestamp) const;
  // The nearer of the two; on a tie the later one.
  int NearestKey(int64_t timestamp) const;
  // First entry at or after `timestamp` / at or after byte `pos`; -1 when none.
  int FirstAtOrAfter(int64_t timestamp) const;
  int FirstAtOrAfterPosition(int64_t pos) const;
  // The entry at byte `pos`, or nullptr.
  const IndexEntry* AtPosition(int64_t pos) const;

 private:
  std::vector<IndexEntry> entries_;
};

// Reverse play of one channel: the byte range [group_start, previous_start)
// holds the current group of pictures of the channel's video stream, whose
// timestamps run over [key_time, previous_key_time).
class GroupStepper {
 public:
  // Starts behind the last group: `end` is where the stream data ends. Or
  // behind the group before the key frame at `end` whose time is `end_key_time`.
  void Reset(int64_t end, int64_t end_key_time = INT64_MAX);
  // Moves to the group before the current one; false at the start of the file.
  bool StepBack(const StreamIndex& video);
  bool Contains(int64_t pos) const { return pos >= group_start_ && pos < previous_start_; }
  bool InGroup(int64_t timestamp) const { return timestamp >= key_time_ && timestamp < previous_key_time_; }
  int64_t group_start() const { return group_start_; }
  int64_t key_time() const { return key_time_; }

 private:
  int entry_ = -1;  // the current key frame in the video index
  int64_t group_start_ = 0;
  int64_t previous_start_ = 0;
  int64_t key_time_ = 0;
  int64_t previous_key_time_ = INT64_MAX;
};

}  // namespace qvv
