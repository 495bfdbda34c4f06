#include "app/WindowMessages.h"

#include <QThread>

namespace app {

WindowMessages::WindowMessages(Handler handler, QObject* parent)
    : QObject(parent), handler_(std::move(handler)), alive_(std::make_shared<Alive>()) {
  alive_->target = this;
}

WindowMessages::~WindowMessages() {
  std::lock_guard lock(alive_->mutex);
  alive_->target = nullptr;
}

void WindowMessages::Post(uint32_t message, platform::MsgParam first, platform::MsgParam second) {
  std::lock_guard lock(alive_->mutex);
  if (!alive_->target) return;
  // The functor runs on this object's thread; it checks again that the
  // window is still there, since the queue may outlive it.
  QMetaObject::invokeMethod(
      this,
      [alive = alive_, message, first, second] {
        WindowMessages* target = nullptr;
        {
          std::lock_guard guard(alive->mutex);
          target = alive->target;
        }
        if (target && target->handler_) target->handler_(message, first, second);
      },
      Qt::QueuedConnection);
}

platform::MsgParam WindowMessages::Send(uint32_t message, platform::MsgParam first, platform::MsgParam second) {
  if (QThread::currentThread() != thread()) {
    Post(message, first, second);
    return 0;
  }
  return handler_ ? handler_(message, first, second) : 0;
}

}  // namespace app
