#pragma once
// Hands pictures from a play thread to a pane that paints on the GUI thread,
// newest first, without either side waiting for the other.
//
// A pane owns a MailboxSurface and gives it to the engine as the channel's
// Surface. A play thread's Present copies the picture into a free buffer of the
// surface's mailbox and publishes it, replacing the picture published before if
// the pane has not taken it yet (it counts as dropped). After publishing it calls
// the notify callback, at most once until the pane takes: the pane's callback
// posts a queued event (QMetaObject::invokeMethod with Qt::QueuedConnection) and
// returns at once. On the GUI thread the pane calls TakeNewest(), keeps the
// PictureRef as its current picture, calls update() and paints from it in
// paintEvent: the picture scaled into dst (the client area the engine saw is in
// `client`), black around it. When the next picture replaces it, the pane drops
// the old reference and the buffer goes back to the play thread.
//
// The buffers (three by default: one the pane holds, one published, one being
// written) are reused and grow only for a larger picture. A buffer is never
// written while a reference to it exists. If the pane holds every buffer but the
// published one, the play thread rewrites the published picture; if it holds all
// of them, the picture is skipped. No lock is taken on either side.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "platform/Surface.h"

namespace platform {

// One handed-over picture: its own copy of the pixels (rows packed, stride =
// width x bytes a pixel) and the time stamp, with where it was to be drawn.
struct MailboxPicture {
  Picture picture;
  Rect dst;              // in client coordinates of `client`
  Size client;           // the client size the producer drew for
  uint64_t sequence = 0; // 1 for the mailbox's first picture, then counting up
};

namespace mailbox_detail {
struct Slot;
}

// A counted reference to a picture taken from a mailbox: read-only, valid while
// any copy of it exists (also after the mailbox is gone). Copies and releases may
// happen on any thread.
class PictureRef {
 public:
  PictureRef() = default;
  PictureRef(const PictureRef& other);
  PictureRef(PictureRef&& other) noexcept = default;
  PictureRef& operator=(PictureRef other) noexcept;
  ~PictureRef();

  explicit operator bool() const { return slot_ != nullptr; }
  const MailboxPicture* get() const;
  const MailboxPicture& operator*() const { return *get(); }
  const MailboxPicture* operator->() const { return get(); }
  void reset() { *this = PictureRef(); }

 private:
  friend class PictureMailbox;
  explicit PictureRef(std::shared_ptr<mailbox_detail::Slot> adopted);  // takes over one count
  std::shared_ptr<mailbox_detail::Slot> slot_;
};

struct MailboxCounters {
  uint64_t published = 0;    // pictures published
  uint64_t taken = 0;        // pictures the consumer took
  uint64_t dropped = 0;      // published pictures replaced before they were taken
  uint64_t skipped = 0;      // pictures not published: the consumer held every buffer
  uint64_t allocations = 0;  // buffer allocations (a buffer's first picture, or a larger one)
};

// One producer thread and one consumer thread (each side on one thread at a
// time); counters may be read anywhere.
class PictureMailbox {
 public:
  // Called on the producer's thread after a publish while no notification is
  // outstanding; it must return at once. Set here, never changed.
  using Notify = std::function<void()>;
  static constexpr int kDefaultBuffers = 3;

  explicit PictureMailbox(Notify notify = {}, int buffers = kDefaultBuffers);  // at least 2 buffers
  PictureMailbox(const PictureMailbox&) = delete;
  PictureMailbox& operator=(const PictureMailbox&) = delete;

  // Producer: copies the picture (BGR24 or YUYV, any stride at least a row's
  // bytes) and publishes it. False when the picture is empty or was skipped.
  bool Publish(const Picture& picture, const Rect& dst = {}, Size client = {});

  // Consumer: the picture published last, or an empty reference when nothing
  // was published since the last take. Ends the outstanding notification.
  PictureRef TakeNewest();

  MailboxCounters Counters() const;

 private:
  int AcquireForWriting(size_t bytes);

  const Notify notify_;
  std::vector<std::shared_ptr<mailbox_detail::Slot>> slots_;  // fixed after construction
  std::atomic<int> published_{-1};  // index of the slot published and not yet taken
  std::atomic<bool> notify_pending_{false};
  std::atomic<uint64_t> published_count_{0}, taken_{0}, dropped_{0}, skipped_{0}, allocations_{0};
};

}  // namespace platform
