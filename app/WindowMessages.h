#pragma once
// The main window's message queue for the engine's and the workers' threads.
// Post from any thread queues the message for the window's thread and returns
// at once; Send on the window's thread calls the handler directly. A Send from
// another thread is not waited for (no engine thread may wait for the window):
// it is queued like a Post and answers 0. Messages that arrive after the
// window closed are dropped.
#include <QObject>
#include <functional>
#include <memory>
#include <mutex>

#include "platform/MessageSink.h"

namespace app {

class WindowMessages : public QObject, public platform::MessageSink {
  Q_OBJECT

 public:
  using Handler = std::function<platform::MsgParam(uint32_t, platform::MsgParam, platform::MsgParam)>;
  explicit WindowMessages(Handler handler, QObject* parent = nullptr);
  ~WindowMessages() override;

  void Post(uint32_t message, platform::MsgParam first, platform::MsgParam second) override;
  platform::MsgParam Send(uint32_t message, platform::MsgParam first, platform::MsgParam second) override;

 private:
  struct Alive {
    std::mutex mutex;
    WindowMessages* target = nullptr;
  };
  Handler handler_;
  std::shared_ptr<Alive> alive_;
};

}  // namespace app
