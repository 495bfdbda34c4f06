#include "engine/ACMediaList.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace engine {

ACMediaList::ACMediaList() = default;
ACMediaList::~ACMediaList() = default;

int ACMediaList::Put(uint32_t codec_id, int64_t time, const uint8_t* data, uint32_t size,
                     uint32_t width, uint32_t height, uint32_t backward) {
  if (ring_.Full()) return 0;
  Slot& slot = slots_[static_cast<size_t>(ring_.WriteSlot())];
  if (size > slot.size_limit) {  // dropped: no decoder could take it
    ++dropped_;
    return 1;
  }
  if (slot.size != size || (size != 0 && !slot.data)) {
    slot.data.reset();
    slot.size = 0;
    if (size != 0) {
      slot.data.reset(new (std::nothrow) uint8_t[size]);
      if (!slot.data) {  // the slot stays free, without a buffer
        ++dropped_;
        return 1;
      }
    }
  }
  if (size != 0 && data) std::memcpy(slot.data.get(), data, size);
  slot.size = size;
  slot.codec_id = codec_id;
  slot.time = time;
  slot.width = width;
  slot.height = height;
  slot.backward = backward;
  ring_.AdvanceWrite();
  return 1;
}

bool ACMediaList::Get(MediaPacketInfo& info, uint8_t* out, uint32_t capacity) {
  if (ring_.Empty()) return false;
  const Slot& slot = slots_[static_cast<size_t>(ring_.ReadSlot())];
  const uint32_t n = std::min(slot.size, capacity);
  if (n != 0 && out) std::memcpy(out, slot.data.get(), n);
  info.backward = slot.backward;
  info.codec_id = slot.codec_id;
  info.time = slot.time;
  info.size = out ? n : 0;
  info.width = slot.width;
  info.height = slot.height;
  ring_.AdvanceRead();
  return true;
}

void ACMediaList::Clear() {
  for (Slot& slot : slots_) {
    if (slot.data) std::memset(slot.data.get(), 0, slot.size);
  }
  ring_.Reset();
}

}  // namespace engine
