#include "engine/ACRAWDataList.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace engine {

ACRAWDataList::ACRAWDataList() = default;
ACRAWDataList::~ACRAWDataList() = default;

int ACRAWDataList::Put(const uint8_t* data, int32_t size) {
  if (size < 0) return -1;
  if (ring_.Full()) return 0;
  Slot& slot = slots_[static_cast<size_t>(ring_.WriteSlot())];
  if (slot.capacity < size) {
    std::unique_ptr<uint8_t[]> grown(new (std::nothrow) uint8_t[static_cast<size_t>(size)]);
    if (!grown) {
      ++dropped_;
      return 1;
    }
    slot.data = std::move(grown);
    slot.capacity = size;
  }
  if (size > 0 && data) std::memcpy(slot.data.get(), data, static_cast<size_t>(size));
  slot.size = size;
  ring_.AdvanceWrite();
  return 1;
}

int32_t ACRAWDataList::Get(uint8_t* out, int32_t capacity) {
  if (ring_.Empty()) return -1;
  Slot& slot = slots_[static_cast<size_t>(ring_.ReadSlot())];
  const int32_t n = std::max(0, std::min(slot.size, capacity));
  if (n > 0 && out) std::memcpy(out, slot.data.get(), static_cast<size_t>(n));
  slot.size = 0;
  ring_.AdvanceRead();
  return out ? n : 0;
}

void ACRAWDataList::Clear() {
  for (Slot& slot : slots_) slot.size = 0;
  ring_.Reset();
}

}  // namespace engine
