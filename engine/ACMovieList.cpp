#include "engine/ACMovieList.h"

#include <sys/mman.h>

#include <algorithm>
#include <utility>

namespace engine {

PixelBlock& PixelBlock::operator=(PixelBlock&& other) noexcept {
  if (this != &other) {
    Release();
    data_ = std::exchange(other.data_, nullptr);
    capacity_ = std::exchange(other.capacity_, 0);
  }
  return *this;
}

bool PixelBlock::Reserve(uint32_t bytes) {
  if (bytes <= capacity_ && data_) return true;
  Release();
  if (bytes == 0) return false;
  void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
  if (p == MAP_FAILED) return false;
  data_ = static_cast<uint8_t*>(p);
  capacity_ = bytes;
  return true;
}

void PixelBlock::Release() {
  if (data_) munmap(data_, capacity_);
  data_ = nullptr;
  capacity_ = 0;
}

ACMovieList::ACMovieList() { Clear(); }

ACMovieList::~ACMovieList() = default;

void ACMovieList::ReleaseBlocks() {
  Clear();
  for (FrameNode& node : nodes_) node.pixels.Release();
}

void ACMovieList::Clear() {
  for (size_t i = 0; i < nodes_.size(); ++i) {
    FrameNode& node = nodes_[i];
    node.size = node.width = node.height = 0;
    node.time = 0;
    node.next = i + 1 < nodes_.size() ? &nodes_[i + 1] : nullptr;
  }
  free_head_ = &nodes_[0];
  ready_head_ = ready_tail_ = pending_ = current_ = mark_ = nullptr;
}

void ACMovieList::PushFree(FrameNode* node) {
  node->next = free_head_;
  free_head_ = node;
}

FrameNode* ACMovieList::AppendPending(uint32_t pixel_bytes) {
  if (pending_) {
    pending_->next = nullptr;
    if (ready_tail_) {
      ready_tail_->next = pending_;
    } else {
      ready_head_ = pending_;
    }
    ready_tail_ = pending_;
    pending_ = nullptr;
  }
  if (!free_head_) return nullptr;
  FrameNode* node = free_head_;
  if (pixel_bytes != 0 && !node->pixels.Reserve(pixel_bytes)) {
    node->size = 0;
    return nullptr;
  }
  free_head_ = node->next;
  node->next = nullptr;
  node->size = pixel_bytes;
  pending_ = node;
  return node;
}

void ACMovieList::ReverseGroupAndMark() {
  if (mark_ && mark_->next) {
    // Find the mark's predecessor; the ready list holds at most 35 nodes.
    FrameNode* before = nullptr;
    for (FrameNode* n = ready_head_; n && n != mark_; n = n->next) before = n;
    FrameNode* prev = nullptr;
    FrameNode* n = mark_;
    while (n) {
      FrameNode* next = n->next;
      n->next = prev;
      prev = n;
      n = next;
    }
    // prev is the former tail, now first of the reversed group.
    if (before) {
      before->next = prev;
    } else {
      ready_head_ = prev;
    }
    ready_tail_ = mark_;
  }
  mark_ = pending_;
}

bool ACMovieList::Fetch(FrameInfo& info, PixelBlock& display) {
  if (current_) {
    PushFree(current_);
    current_ = nullptr;
  }
  if (!ready_head_ || ready_head_ == mark_) {
    if (!free_head_) Clear();
    return false;
  }
  FrameNode* node = ready_head_;
  ready_head_ = node->next;
  if (!ready_head_) ready_tail_ = nullptr;
  node->next = nullptr;
  current_ = node;
  info.time = node->time;
  info.size = node->size;
  info.width = node->width;
  info.height = node->height;
  if (node->size > 0) std::swap(node->pixels, display);
  return true;
}

int ACMovieList::ReadyCount() const {
  int count = 0;
  for (const FrameNode* n = ready_head_; n; n = n->next) ++count;
  return count;
}

int ACMovieList::FreeCount() const {
  int count = 0;
  for (const FrameNode* n = free_head_; n; n = n->next) ++count;
  return count;
}

}  // namespace engine
