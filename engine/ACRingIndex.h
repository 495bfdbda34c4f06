#pragma once
// The index arithmetic shared by the engine's ring queues: a write index, a
// read index and a full flag. Equal indices mean empty when the flag is clear
// and full when it is set.
#include <cstdint>

namespace engine {

template <int Capacity>
class ACRingIndex {
 public:
  static constexpr int kCapacity = Capacity;

  bool Empty() const { return write_ == read_ && !full_; }
  bool Full() const { return write_ == read_ && full_; }
  // The flag stays set after a Get from a full ring until the reader catches
  // up, so it alone does not mean full.
  int Count() const { return Full() ? Capacity : (write_ - read_ + Capacity) % Capacity; }
  int WriteSlot() const { return write_; }
  int ReadSlot() const { return read_; }
  // Call only when not full / not empty.
  void AdvanceWrite() {
    write_ = (write_ + 1) % Capacity;
    if (write_ == read_) full_ = 1;
  }
  void AdvanceRead() {
    read_ = (read_ + 1) % Capacity;
    if (read_ == write_) full_ = 0;
  }
  void Reset() { write_ = read_ = 0, full_ = 0; }

 private:
  int32_t write_ = 0;
  int32_t read_ = 0;
  uint32_t full_ = 0;  // read == write means full when set, empty when clear
};

}  // namespace engine
