#include "map/ACAMFDataList.h"

#include <cstring>

namespace map {

ACAMFDataList::ACAMFDataList() = default;

int ACAMFDataList::Put(int64_t tag, const uint8_t* data, int size) {
  std::lock_guard lock(lock_);
  if (full_) return 0;
  if (size < 0 || size > kSlotBytes || (size > 0 && !data)) return 1;  // dropped: it cannot be a GPS record
  Slot& slot = slots_[static_cast<size_t>(write_)];
  slot.tag = tag;
  slot.size = size;
  if (size > 0) std::memcpy(slot.data.data(), data, static_cast<size_t>(size));
  write_ = (write_ + 1) % kSlots;
  full_ = write_ == read_;
  return 1;
}

bool ACAMFDataList::Get(int64_t& tag, std::vector<uint8_t>& out) {
  std::lock_guard lock(lock_);
  if (read_ == write_ && !full_) return false;
  const Slot& slot = slots_[static_cast<size_t>(read_)];
  tag = slot.tag;
  out.assign(slot.data.begin(), slot.data.begin() + slot.size);
  read_ = (read_ + 1) % kSlots;
  full_ = false;
  return true;
}

void ACAMFDataList::Reset() {
  std::lock_guard lock(lock_);
  write_ = read_ = 0;
  full_ = false;
}

int ACAMFDataList::waiting() const {
  std::lock_guard lock(lock_);
  if (full_) return kSlots;
  return (write_ - read_ + kSlots) % kSlots;
}

}  // namespace map
