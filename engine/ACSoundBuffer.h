#pragma once
// The audio player's PCM ring between its decode thread and its output thread.
// A writer asks for one contiguous free region (the data end moves back to
// where the last write stopped when the region does not fit before the end of
// the storage), fills it and commits it; a reader copies out into up to two
// parts. Callers hold the object lock around every call.
#include <cstdint>
#include <vector>

#include "engine/ACObject.h"

namespace engine {

class ACSoundBuffer : public virtual ACObject {
 public:
  const char* GetClassName() const override { return "ACSoundBuffer"; }

  bool Init(uint32_t capacity);
  void ResetRing();
  uint32_t FillLevel() const;
  // A free region of `wanted` bytes at the write offset when one is there;
  // otherwise what is free up to the read offset (possibly fewer bytes, or 0
  // when full). `region` points at it.
  uint32_t GetWriteRegion(uint32_t wanted, uint8_t** region);
  void Commit(uint32_t bytes);
  // Copies up to first_bytes + second_bytes of the oldest data; returns the
  // bytes copied.
  uint32_t Read(uint8_t* first, uint32_t first_bytes, uint8_t* second, uint32_t second_bytes);
  // Drops up to `bytes` of the oldest data; returns the bytes dropped.
  uint32_t Skip(uint32_t bytes);

  uint32_t capacity() const { return static_cast<uint32_t>(data_.size()); }

 private:
  uint32_t ReadInto(uint8_t* out, uint32_t bytes);  // out may be null: skip

  std::vector<uint8_t> data_;
  uint32_t read_ = 0, write_ = 0;
  uint32_t end_ = 0;  // valid data wraps here
  bool full_ = false;
};

}  // namespace engine
