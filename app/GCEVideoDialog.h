#pragma once
// One channel pane: the engine's drawing surface for a channel. A play thread
// presents into the pane's mailbox and never waits for the window; the pane
// takes the newest picture on the GUI thread (woken by a queued call) and
// paints it into the rectangle the engine chose, black around it.
#include <QImage>
#include <QWidget>
#include <memory>
#include <mutex>

#include "platform/MailboxSurface.h"

namespace app {

class GCEVideoDialog : public QWidget {
  Q_OBJECT

 public:
  explicit GCEVideoDialog(int channel, QWidget* parent = nullptr);
  ~GCEVideoDialog() override;

  int channel() const { return channel_; }
  // What the engine draws into (handed to the filter as the channel's window).
  platform::Surface* surface() { return &surface_; }
  platform::MailboxCounters counters() const { return surface_.mailbox().Counters(); }
  // The picture painted last, as an image of the pane's size.
  const QImage& current() const { return image_; }

 public slots:
  // GUI thread: takes the newest picture, if any, and repaints.
  void TakePicture();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  // Lets a play thread post to the pane only while it exists: the pane clears
  // it under the lock before it goes.
  struct Waker {
    std::mutex mutex;
    GCEVideoDialog* pane = nullptr;
  };

  const int channel_;
  std::shared_ptr<Waker> waker_;
  mutable platform::MailboxSurface surface_;
  QImage image_;  // the last picture, converted once, scaled when painted
  QRect target_;  // where it goes in the pane
};

// A picture as a Qt image (BGR24 or YUYV 4:2:2 into RGB888).
QImage ToImage(const platform::Picture& picture);

}  // namespace app
