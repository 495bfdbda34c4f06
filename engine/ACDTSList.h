#pragma once
// The playback clock's time stamps: 150 entries in a fixed array, linked in
// the order the clock hands them out. Markers (-1, -2, -3) go to the tail;
// other times are placed in order from the first -1 marker on, so that the
// falling times of a group read for backward play come out rising.
// A backward group is handed out only once it is complete (the next group's
// first time or a marker has come): taken as it arrives, its highest time
// would go first and the clock would pass the group's last picture before
// the decoder has turned the group around. A full list hands it out anyway.
// Callers hold the object lock.
#include <array>
#include <cstdint>

#include "engine/ACObject.h"

namespace engine {

struct DtsEntry {
  int64_t time = 0;      // ms; -1, -2, -3 are markers
  int64_t position = 0;  // as the reader gives it
  uint32_t backward = 0;
};

class ACDTSList : public virtual ACObject {
 public:
  static constexpr int kCapacity = 150;

  ACDTSList();
  const char* GetClassName() const override { return "ACDTSList"; }

  // False when all 150 entries are in use.
  bool Insert(int64_t time, int64_t position, uint32_t backward);
  // Takes the head; false when the list is empty or the head belongs to a
  // backward group still being read.
  bool TakeHead(DtsEntry& out);
  // The head without taking it; false as for TakeHead.
  bool PeekHead(DtsEntry& out) const;
  void Clear();
  int Count() const;

 private:
  struct Node {
    uint32_t in_use = 0;
    DtsEntry entry;
    Node* next = nullptr;
    uint32_t group = 0;  // the backward group it belongs to; 0 for none
  };
  static bool IsMarker(int64_t time) { return time == -1 || time == -2 || time == -3; }

  std::array<Node, kCapacity> nodes_;
  bool HeadReady() const;

  Node* head_ = nullptr;
  uint32_t open_group_ = 0;  // the backward group still being read; 0 for none
  uint32_t last_group_ = 0;
  int64_t last_backward_time_ = 0;
};

}  // namespace engine
