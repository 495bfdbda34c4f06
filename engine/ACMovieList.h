#pragma once
// A channel's decoded-frame queue: 35 nodes moving between a free list, a
// "pending" node the decoder is filling, the ready list the play thread shows
// from, and the "current" node the play thread took last. For backward play a
// group mark splits the ready list: nodes from the mark on belong to the group
// of pictures still being decoded and are not shown until the group is reversed.
// Callers hold the object lock around every call.
#include <array>
#include <cstddef>
#include <cstdint>
#include <utility>

#include "engine/ACObject.h"

namespace engine {

// A picture's memory. Blocks move between the queue and the play thread by
// swapping (a 720p picture is 1.4 MB: copying and re-allocating it per frame
// cost more than decoding it), and are reused while they are big enough.
// They are mapped with their pages present: touching 35 x 12 fresh blocks a
// page fault at a time cost more than a second of processor at 720p.
class PixelBlock {
 public:
  PixelBlock() = default;
  ~PixelBlock() { Release(); }
  PixelBlock(PixelBlock&& other) noexcept { *this = std::move(other); }
  PixelBlock& operator=(PixelBlock&& other) noexcept;
  PixelBlock(const PixelBlock&) = delete;
  PixelBlock& operator=(const PixelBlock&) = delete;

  // Makes room for `bytes` (keeps the block when it is big enough); false when
  // memory runs out (the block is then empty).
  bool Reserve(uint32_t bytes);
  void Release();
  uint8_t* get() const { return data_; }
  uint8_t& operator[](size_t i) const { return data_[i]; }
  uint32_t capacity() const { return capacity_; }

 private:
  uint8_t* data_ = nullptr;
  uint32_t capacity_ = 0;
};

struct FrameNode {
  int64_t time = 0;     // milliseconds; -1 / -2 / -3 for a marker node
  uint32_t size = 0;    // bytes of planar YUV 4:2:0 (width * height * 3 / 2)
  uint32_t width = 0;
  uint32_t height = 0;
  PixelBlock pixels;    // at least `size` bytes when size > 0
  FrameNode* next = nullptr;
};

struct FrameInfo {
  int64_t time = 0;
  uint32_t size = 0;
  uint32_t width = 0;
  uint32_t height = 0;
};

class ACMovieList : public virtual ACObject {
 public:
  static constexpr int kNodes = 35;

  ACMovieList();
  ~ACMovieList() override;
  const char* GetClassName() const override { return "ACMovieList"; }

  // Publishes the pending node (appends it to the ready list), then takes a
  // free node as the new pending node with a pixel block of exactly
  // `pixel_bytes` (none for 0). Returns it for the caller to fill, or nullptr
  // when no node is free (the caller waits and calls again).
  FrameNode* AppendPending(uint32_t pixel_bytes);
  FrameNode* Pending() { return pending_; }

  // For backward play, on a key frame: reverses the chain from the group mark to
  // the ready tail in place (when the mark has a successor), then makes the
  // pending node the new mark.
  void ReverseGroupAndMark();

  // Returns the previously taken node to the free list, then takes the ready
  // head unless the list is empty or its head is the group mark. The picture
  // changes hands without a copy: the node's block and `display` (the play
  // thread's own) are swapped, so the decoder reuses the block shown before.
  // False when nothing could be taken; if then no node is free either, the
  // whole queue is cleared so that decoding cannot dead-lock.
  bool Fetch(FrameInfo& info, PixelBlock& display);

  // Puts all nodes back on the free list in order. Their pixel blocks stay
  // for the pictures after a seek or a file change (mapping and faulting in
  // 35 fresh blocks a channel at every seek cost more than the seek).
  void Clear();
  // Clear, and the blocks' memory goes back to the system.
  void ReleaseBlocks();

  int ReadyCount() const;
  int FreeCount() const;
  bool HasGroupMark() const { return mark_ != nullptr; }

 private:
  void PushFree(FrameNode* node);

  std::array<FrameNode, kNodes> nodes_;
  FrameNode* ready_head_ = nullptr;
  FrameNode* ready_tail_ = nullptr;
  FrameNode* pending_ = nullptr;
  FrameNode* current_ = nullptr;
  FrameNode* free_head_ = nullptr;
  FrameNode* mark_ = nullptr;
};

}  // namespace engine
