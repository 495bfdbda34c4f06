#pragma once
// The ring of parsed overlay records between a channel's alg thread and its
// play thread: 15 records. A slot's item lists keep their storage across uses,
// so steady playback does not allocate. Callers hold the object lock.
#include <array>

#include "QVVReader/AlgProtocol.h"
#include "engine/ACObject.h"
#include "engine/ACRingIndex.h"

namespace engine {

class AlgProtocolList : public virtual ACObject {
 public:
  static constexpr int kCapacity = 15;

  AlgProtocolList();
  ~AlgProtocolList() override;
  const char* GetClassName() const override { return "AlgProtocolList"; }

  int Put(const qvv::AlgProtocol& record);  // 0 when full, 1 when stored
  bool Get(qvv::AlgProtocol& out);          // false when empty
  // The oldest record without taking it; nullptr when empty.
  const qvv::AlgProtocol* Peek() const;
  void Clear();

  int Count() const { return ring_.Count(); }
  bool Empty() const { return ring_.Empty(); }
  bool Full() const { return ring_.Full(); }

 private:
  std::array<qvv::AlgProtocol, kCapacity> slots_;
  ACRingIndex<kCapacity> ring_;
};

}  // namespace engine
