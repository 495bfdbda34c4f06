#include "engine/ACDTSList.h"

namespace engine {

ACDTSList::ACDTSList() { Clear(); }

void ACDTSList::Clear() {
  for (auto& n : nodes_) {
    n.in_use = 0;
    n.next = nullptr;
  }
  head_ = nullptr;
  open_group_ = 0;
}

int ACDTSList::Count() const {
  int count = 0;
  for (const Node* n = head_; n; n = n->next) ++count;
  return count;
}

bool ACDTSList::Insert(int64_t time, int64_t position, uint32_t backward) {
  Node* node = nullptr;
  for (auto& n : nodes_) {
    if (!n.in_use) {
      node = &n;
      break;
    }
  }
  if (!node) return false;
  // Times of a backward group fall; a rise starts the next group, and a
  // marker or a forward time ends the one being read.
  if (IsMarker(time) || !backward) {
    open_group_ = 0;
  } else {
    if (open_group_ == 0 || time > last_backward_time_) {
      open_group_ = ++last_group_;
      if (open_group_ == 0) open_group_ = ++last_group_;  // 0 stands for none
    }
    last_backward_time_ = time;
  }
  node->in_use = 1;
  node->entry = {time, position, backward};
  node->next = nullptr;
  node->group = IsMarker(time) ? 0 : open_group_;
  if (!head_) {
    head_ = node;
    return true;
  }
  if (IsMarker(time)) {
    Node* tail = head_;
    while (tail->next) tail = tail->next;
    tail->next = node;
    return true;
  }
  // Ordered from the first "new file" marker on (or from the head).
  Node* start = head_;
  Node* before_start = nullptr;
  for (Node* n = head_, *prev = nullptr; n; prev = n, n = n->next) {
    if (n->entry.time == -1) {
      start = n;
      before_start = prev;
      break;
    }
  }
  if (start->entry.time <= time) {
    Node* at = start;
    while (at->next && at->next->entry.time <= time) at = at->next;
    node->next = at->next;
    at->next = node;
  } else {
    node->next = start;
    if (before_start) {
      before_start->next = node;
    } else {
      head_ = node;
    }
  }
  return true;
}

bool ACDTSList::HeadReady() const {
  if (!head_) return false;
  if (open_group_ == 0 || head_->group != open_group_) return true;
  return Count() == kCapacity;  // a group longer than the list: no waiting for its end
}

bool ACDTSList::PeekHead(DtsEntry& out) const {
  if (!HeadReady()) return false;
  out = head_->entry;
  return true;
}

bool ACDTSList::TakeHead(DtsEntry& out) {
  if (!HeadReady()) return false;
  Node* node = head_;
  head_ = node->next;
  out = node->entry;
  node->in_use = 0;
  node->next = nullptr;
  return true;
}

}  // namespace engine
