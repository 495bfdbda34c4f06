#include "QVVReader/StreamIndex.h"

#include <algorithm>

namespace qvv {

void StreamIndex::Add(const IndexEntry& entry) {
  if (entries_.empty() || entry.timestamp > entries_.back().timestamp) {
    if (entries_.size() < kMaxEntries) entries_.push_back(entry);
    return;
  }
  auto it = std::lower_bound(entries_.begin(), entries_.end(), entry.timestamp,
                             [](const IndexEntry& e, int64_t t) { return e.timestamp < t; });
  if (it != entries_.end() && it->timestamp == entry.timestamp) {
    *it = entry;
  } else if (entries_.size() < kMaxEntries) {
    entries_.insert(it, entry);
  }
}

int StreamIndex::KeyAtOrBefore(int64_t timestamp) const {
  auto it = std::upper_bound(entries_.begin(), entries_.end(), timestamp,
                             [](int64_t t, const IndexEntry& e) { return t < e.timestamp; });
  while (it != entries_.begin()) {
    --it;
    if (it->key) return static_cast<int>(it - entries_.begin());
  }
  return -1;
}

int StreamIndex::KeyAtOrAfter(int64_t timestamp) const {
  for (int i = FirstAtOrAfter(timestamp); i >= 0 && i < static_cast<int>(entries_.size()); ++i) {
    if (entries_[static_cast<size_t>(i)].key) return i;
  }
  return -1;
}

int StreamIndex::NearestKey(int64_t timestamp) const {
  const int before = KeyAtOrBefore(timestamp);
  const int after = KeyAtOrAfter(timestamp);
  if (before < 0) return after;
  if (after < 0) return before;
  const int64_t to_before = timestamp - entries_[static_cast<size_t>(before)].timestamp;
  const int64_t to_after = entries_[static_cast<size_t>(after)].timestamp - timestamp;
  return to_after <= to_before ? after : before;
}

int StreamIndex::FirstAtOrAfter(int64_t timestamp) const {
  auto it = std::lower_bound(entries_.begin(), entries_.end(), timestamp,
                             [](const IndexEntry& e, int64_t t) { return e.timestamp < t; });
  return it == entries_.end() ? -1 : static_cast<int>(it - entries_.begin());
}

int StreamIndex::FirstAtOrAfterPosition(int64_t pos) const {
  // Positions grow with timestamps in an interleaved file; a linear search
  // keeps this right for the others too.
  int best = -1;
  for (size_t i = 0; i < entries_.size(); ++i) {
    if (entries_[i].pos >= pos && (best < 0 || entries_[i].pos < entries_[static_cast<size_t>(best)].pos))
      best = static_cast<int>(i);
  }
  return best;
}

const IndexEntry* StreamIndex::AtPosition(int64_t pos) const {
  // Entries are in file order for every file the recorder or a muxer writes.
  auto it = std::lower_bound(entries_.begin(), entries_.end(), pos,
                             [](const IndexEntry& e, int64_t p) { return e.pos < p; });
  if (it != entries_.end() && it->pos == pos) return &*it;
  for (const auto& e : entries_) {
    if (e.pos == pos) return &e;
  }
  return nullptr;
}

void GroupStepper::Reset(int64_t end, int64_t end_key_time) {
  entry_ = -1;
  group_start_ = end;
  previous_start_ = end;
  key_time_ = end_key_time;
  previous_key_time_ = INT64_MAX;
}

bool GroupStepper::StepBack(const StreamIndex& video) {
  previous_start_ = group_start_;
  previous_key_time_ = key_time_;
  int entry = -1;
  if (entry_ < 0) {
    entry = video.KeyAtOrBefore(previous_key_time_ == INT64_MAX ? INT64_MAX - 1 : previous_key_time_ - 1);
  } else {
    for (int i = entry_ - 1; i >= 0; --i) {
      if (video.entries()[static_cast<size_t>(i)].key) {
        entry = i;
        break;
      }
    }
  }
  if (entry < 0) return false;
  entry_ = entry;
  group_start_ = video.entries()[static_cast<size_t>(entry)].pos;
  key_time_ = video.entries()[static_cast<size_t>(entry)].timestamp;
  return true;
}

}  // namespace qvv
