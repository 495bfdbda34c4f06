#include "platform/MailboxSurface.h"

namespace platform {

MailboxSurface::MailboxSurface(PictureMailbox::Notify notify, int buffers) : mailbox_(std::move(notify), buffers) {}

// One word, so that the play thread reads a width and a height set together.
void MailboxSurface::SetClientSize(Size size) {
  client_.store(static_cast<uint64_t>(static_cast<uint32_t>(size.width)) << 32 | static_cast<uint32_t>(size.height),
                std::memory_order_relaxed);
}

Size MailboxSurface::ClientSize() const {
  const uint64_t packed = client_.load(std::memory_order_relaxed);
  return {static_cast<int>(static_cast<uint32_t>(packed >> 32)), static_cast<int>(static_cast<uint32_t>(packed))};
}

void MailboxSurface::Present(const Picture& picture, const Rect& dst) { mailbox_.Publish(picture, dst, ClientSize()); }

}  // namespace platform
