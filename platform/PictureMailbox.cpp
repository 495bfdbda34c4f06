#include "platform/PictureMailbox.h"

#include <algorithm>
#include <cstring>

namespace platform {

namespace mailbox_detail {

// A buffer of the pool. `refs` counts one for being published plus one per
// PictureRef; at 0 the buffer belongs to the producer. The consumer drops its
// counts with release and the producer reads 0 with acquire, so the consumer's
// last reads of the pixels come before the producer's next writes.
struct Slot {
  std::atomic<int> refs{0};
  std::unique_ptr<uint8_t[]> storage;
  size_t capacity = 0;
  MailboxPicture item;
};

}  // namespace mailbox_detail

using mailbox_detail::Slot;

namespace {

int BytesPerPixel(PixelFormat format) { return format == PixelFormat::BGR24 ? 3 : 2; }

}  // namespace

// ---------------------------------------------------------------- PictureRef

PictureRef::PictureRef(std::shared_ptr<Slot> adopted) : slot_(std::move(adopted)) {}

PictureRef::PictureRef(const PictureRef& other) : slot_(other.slot_) {
  if (slot_) slot_->refs.fetch_add(1, std::memory_order_relaxed);
}

PictureRef& PictureRef::operator=(PictureRef other) noexcept {
  std::swap(slot_, other.slot_);
  return *this;  // `other` releases what this held
}

PictureRef::~PictureRef() {
  if (slot_) slot_->refs.fetch_sub(1, std::memory_order_release);
}

const MailboxPicture* PictureRef::get() const { return slot_ ? &slot_->item : nullptr; }

// ---------------------------------------------------------------- PictureMailbox

PictureMailbox::PictureMailbox(Notify notify, int buffers) : notify_(std::move(notify)) {
  slots_.resize(static_cast<size_t>(std::max(buffers, 2)));
  for (auto& slot : slots_) slot = std::make_shared<Slot>();
}

int PictureMailbox::AcquireForWriting(size_t bytes) {
  // Two rounds: a take between the scan and taking back the published buffer
  // may have freed another one.
  for (int round = 0; round < 2; ++round) {
    int free_index = -1;
    for (size_t i = 0; i < slots_.size(); ++i) {
      if (slots_[i]->refs.load(std::memory_order_acquire) != 0) continue;
      if (slots_[i]->capacity >= bytes) return static_cast<int>(i);  // no allocation
      if (free_index < 0) free_index = static_cast<int>(i);
    }
    if (free_index >= 0) return free_index;
    // The consumer holds every other buffer: take back the picture it has not
    // taken yet (its count of 1 passes to us) and write over it.
    int index = published_.load(std::memory_order_relaxed);
    if (index >= 0 && published_.compare_exchange_strong(index, -1, std::memory_order_acq_rel)) {
      dropped_.fetch_add(1, std::memory_order_relaxed);
      return index;
    }
  }
  return -1;
}

bool PictureMailbox::Publish(const Picture& picture, const Rect& dst, Size client) {
  if (!picture.pixels || picture.width <= 0 || picture.height <= 0) return false;
  const size_t row_bytes = static_cast<size_t>(picture.width) * static_cast<size_t>(BytesPerPixel(picture.format));
  if (picture.stride < 0 || static_cast<size_t>(picture.stride) < row_bytes) return false;
  const size_t bytes = row_bytes * static_cast<size_t>(picture.height);

  const int index = AcquireForWriting(bytes);
  if (index < 0) {
    skipped_.fetch_add(1, std::memory_order_relaxed);
    return false;
  }
  Slot& slot = *slots_[static_cast<size_t>(index)];
  if (slot.capacity < bytes) {
    slot.storage.reset();  // the old one goes before the new one comes
    slot.storage.reset(new uint8_t[bytes]);
    slot.capacity = bytes;
    allocations_.fetch_add(1, std::memory_order_relaxed);
  }
  if (static_cast<size_t>(picture.stride) == row_bytes) {
    std::memcpy(slot.storage.get(), picture.pixels, bytes);
  } else {
    for (int y = 0; y < picture.height; ++y) {
      std::memcpy(slot.storage.get() + static_cast<size_t>(y) * row_bytes,
                  picture.pixels + static_cast<size_t>(y) * static_cast<size_t>(picture.stride), row_bytes);
    }
  }
  MailboxPicture& item = slot.item;
  item.picture = picture;
  item.picture.pixels = slot.storage.get();
  item.picture.stride = static_cast<int>(row_bytes);
  item.dst = dst;
  item.client = client;
  item.sequence = published_count_.fetch_add(1, std::memory_order_relaxed) + 1;

  // Nobody else sees this buffer until the exchange below publishes it.
  slot.refs.store(1, std::memory_order_relaxed);
  const int previous = published_.exchange(index, std::memory_order_acq_rel);
  if (previous >= 0) {
    // Never taken: its count was the mailbox's, and now it is free again.
    slots_[static_cast<size_t>(previous)]->refs.fetch_sub(1, std::memory_order_release);
    dropped_.fetch_add(1, std::memory_order_relaxed);
  }
  // TakeNewest clears the flag before it takes, so either that take got this
  // picture or the flag is clear here and the consumer hears of it.
  if (!notify_pending_.exchange(true, std::memory_order_acq_rel) && notify_) notify_();
  return true;
}

PictureRef PictureMailbox::TakeNewest() {
  // Cleared first: a publish after this point notifies again (the acq_rel
  // exchange below orders the clear before it for the producer).
  notify_pending_.store(false, std::memory_order_relaxed);
  const int index = published_.exchange(-1, std::memory_order_acq_rel);
  if (index < 0) return {};
  taken_.fetch_add(1, std::memory_order_relaxed);
  return PictureRef(slots_[static_cast<size_t>(index)]);  // the published count passes to the reference
}

MailboxCounters PictureMailbox::Counters() const {
  MailboxCounters c;
  c.published = published_count_.load(std::memory_order_relaxed);
  c.taken = taken_.load(std::memory_order_relaxed);
  c.dropped = dropped_.load(std::memory_order_relaxed);
  c.skipped = skipped_.load(std::memory_order_relaxed);
  c.allocations = allocations_.load(std::memory_order_relaxed);
  return c;
}

}  // namespace platform
