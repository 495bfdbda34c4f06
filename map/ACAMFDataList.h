#pragma once
// The map's ring of GPS records on their way from the reader threads to the
// map's record thread: 30 slots of 256 bytes, each with the caller's tag. A
// record longer than a slot is dropped (and counted as taken); a full ring
// refuses the record.
#include <array>
#include <cstdint>
#include <mutex>
#include <vector>

namespace map {

class ACAMFDataList {
 public:
  static constexpr int kSlots = 30;
  static constexpr int kSlotBytes = 256;

  ACAMFDataList();
  // 1 taken (or dropped for its length), 0 the ring is full.
  int Put(int64_t tag, const uint8_t* data, int size);
  // The oldest record into `out`; false when the ring is empty.
  bool Get(int64_t& tag, std::vector<uint8_t>& out);
  // Forgets every waiting record.
  void Reset();
  int waiting() const;

 private:
  struct Slot {
    int64_t tag = 0;
    std::array<uint8_t, kSlotBytes> data{};
    int size = 0;
  };
  mutable std::mutex lock_;
  std::array<Slot, kSlots> slots_;
  int write_ = 0, read_ = 0;
  bool full_ = false;
};

}  // namespace map
