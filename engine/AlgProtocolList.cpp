#include "engine/AlgProtocolList.h"

namespace engine {

AlgProtocolList::AlgProtocolList() = default;
AlgProtocolList::~AlgProtocolList() = default;

int AlgProtocolList::Put(const qvv::AlgProtocol& record) {
  if (ring_.Full()) return 0;
  slots_[static_cast<size_t>(ring_.WriteSlot())] = record;  // vector assignment reuses capacity
  ring_.AdvanceWrite();
  return 1;
}

bool AlgProtocolList::Get(qvv::AlgProtocol& out) {
  if (ring_.Empty()) return false;
  out = slots_[static_cast<size_t>(ring_.ReadSlot())];
  ring_.AdvanceRead();
  return true;
}

const qvv::AlgProtocol* AlgProtocolList::Peek() const {
  return ring_.Empty() ? nullptr : &slots_[static_cast<size_t>(ring_.ReadSlot())];
}

void AlgProtocolList::Clear() { ring_.Reset(); }

}  // namespace engine
