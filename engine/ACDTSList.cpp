#include "engine/ACDTSList.h"

namespace engine {

ACDTSList::ACDTSList() { Clear(); }

void ACDTSList::Clear() {
  for (auto& n : nodes_) {
    n.in_use = 0;
    n.next = nullptr;
  }
  head_ = nullptr;
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
  node->in_use = 1;
  node->entry = {time, position, backward};
  node->next = nullptr;
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

bool ACDTSList::PeekHead(DtsEntry& out) const {
  if (!head_) return false;
  out = head_->entry;
  return true;
}

bool ACDTSList::TakeHead(DtsEntry& out) {
  if (!head_) return false;
  Node* node = head_;
  head_ = node->next;
  out = node->entry;
  node->in_use = 0;
  node->next = nullptr;
  return true;
}

}  // namespace engine
