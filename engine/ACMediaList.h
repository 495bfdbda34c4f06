#pragma once
// The packet ring between a reader and a decode thread (one per channel, and one
// for the audio player): 15 compressed packets whose payload buffers are owned
// by the slots and reused while the packet size stays the same. Callers hold the
// object lock (ObjectLock) around every call.
#include <array>
#include <cstdint>
#include <memory>

#include "engine/ACObject.h"
#include "engine/ACRingIndex.h"

namespace engine {

// What Get hands out besides the bytes.
struct MediaPacketInfo {
  uint32_t backward = 0;
  uint32_t codec_id = 0;
  int64_t time = 0;   // milliseconds; negative = control marker
  uint32_t size = 0;  // bytes copied out
  uint32_t width = 0;
  uint32_t height = 0;
};

class ACMediaList : public virtual ACObject {
 public:
  static constexpr int kCapacity = 15;
  static constexpr uint32_t kSizeLimit = 10450944;  // 0x9F7800: larger packets are dropped

  ACMediaList();
  ~ACMediaList() override;
  const char* GetClassName() const override { return "ACMediaList"; }

  // 0: full, try again later. 1: stored, or dropped for being over the size
  // limit or for want of memory (counted in dropped()): a retry would not help.
  int Put(uint32_t codec_id, int64_t time, const uint8_t* data, uint32_t size, uint32_t width,
          uint32_t height, uint32_t backward);
  // Takes the oldest packet, copying at most `capacity` bytes into `out`.
  // False when the ring is empty.
  bool Get(MediaPacketInfo& info, uint8_t* out, uint32_t capacity);
  // Empties the ring and zeroes every slot's payload; the buffers are kept.
  void Clear();

  int Count() const { return ring_.Count(); }
  bool Empty() const { return ring_.Empty(); }
  bool Full() const { return ring_.Full(); }
  int dropped() const { return dropped_; }

 private:
  struct Slot {
    int32_t kind = -1;
    uint32_t backward = 0;
    uint32_t codec_id = 0;
    uint32_t reserved = 0;
    int64_t time = 0;
    std::unique_ptr<uint8_t[]> data;
    uint32_t size = 0;
    uint32_t size_limit = kSizeLimit;
    uint32_t width = 0;
    uint32_t height = 0;
  };

  std::array<Slot, kCapacity> slots_;
  ACRingIndex<kCapacity> ring_;
  int dropped_ = 0;
};

}  // namespace engine
