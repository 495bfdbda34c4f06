#include "platform/MailboxSurface.h"

namespace platform {

MailboxSurface::MailboxSurface(PictureMailbox::Notify notify, int buffers) : mailbox_(std::move(notify), buffers) {}

void MailboxSurface::Present(const Picture& picture, const Rect& dst) { mailbox_.Publish(picture, dst, ClientSize()); }

}  // namespace platform
