#pragma once
// The Surface a pane gives the engine: every presented picture goes into the
// pane's mailbox (see PictureMailbox.h), and the client size the engine scales
// to is whatever the pane last set. Present, ClientSize and Erase run on the
// play thread and never wait for the pane; SetClientSize and the mailbox's
// TakeNewest run on the GUI thread.
#include <atomic>
#include <cstdint>
#include <span>

#include "platform/PictureMailbox.h"
#include "platform/Surface.h"

namespace platform {

class MailboxSurface final : public Surface {
 public:
  explicit MailboxSurface(PictureMailbox::Notify notify = {}, int buffers = PictureMailbox::kDefaultBuffers);

  // GUI thread: the pane's size after a resize.
  void SetClientSize(Size size);
  PictureMailbox& mailbox() { return mailbox_; }

  Size ClientSize() const override;
  void Present(const Picture& picture, const Rect& dst) override;
  // Ignored: the pane paints its whole client area on every paint, the picture
  // into dst and black around it, so the bands need not travel.
  void Erase(std::span<const Rect> bands) override {}

 private:
  std::atomic<uint64_t> client_{0};  // width in the high half, height in the low
  PictureMailbox mailbox_;
};

}  // namespace platform
