#pragma once
// The ring of raw alg-data blocks between a reader and a channel's alg thread:
// 30 blocks whose buffers only grow. Callers hold the object lock.
#include <array>
#include <cstdint>
#include <memory>

#include "engine/ACObject.h"
#include "engine/ACRingIndex.h"

namespace engine {

class ACRAWDataList : public virtual ACObject {
 public:
  static constexpr int kCapacity = 30;

  ACRAWDataList();
  ~ACRAWDataList() override;
  const char* GetClassName() const override { return "ACRAWDataList"; }

  // 0 when full (try again later); 1 when stored, or dropped because its
  // buffer could not grow (counted in dropped()); -1 for a negative size.
  int Put(const uint8_t* data, int32_t size);
  // Copies at most `capacity` bytes of the oldest block into `out`, sets that
  // slot's size to 0 and returns the bytes copied; -1 when the ring is empty.
  int32_t Get(uint8_t* out, int32_t capacity);
  // Empties the ring; every slot's size becomes 0 (buffers kept).
  void Clear();

  int Count() const { return ring_.Count(); }
  bool Empty() const { return ring_.Empty(); }
  bool Full() const { return ring_.Full(); }
  int dropped() const { return dropped_; }

 private:
  struct Slot {
    std::unique_ptr<uint8_t[]> data;
    int32_t size = 0;
    int32_t capacity = 0;
  };

  std::array<Slot, kCapacity> slots_;
  ACRingIndex<kCapacity> ring_;
  int dropped_ = 0;
};

}  // namespace engine
