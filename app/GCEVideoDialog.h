#pragma once
// One channel pane: the engine's drawing surface for a channel. A play thread
// presents into the pane's mailbox and never waits for the window; the pane
// takes the newest picture on the GUI thread (woken by a queued call) and
// paints it into the rectangle the engine chose, black around it. The
// drawing surface is inset 2 pixels on every side; the inset shows whether the
// pane is selected. Mouse and keys become intents for the pane container.
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

  static constexpr int kInset = 2;

  int channel() const { return channel_; }
  // "Channel %d": the stream name every pane is given when the window starts.
  QString stream_name() const { return stream_name_; }
  void set_stream_name(const QString& name) { stream_name_ = name.left(100); }
  bool selected() const { return selected_; }
  void set_selected(bool selected);
  // 0 when muted, else the audio channel + 1 (drawn in the corner when this
  // pane's channel is the one heard).
  int audio_indicator() const { return audio_indicator_; }
  void set_audio_indicator(int indicator);
  // Where the engine draws, in pane coordinates.
  QRect surface_rect() const { return rect().adjusted(kInset, kInset, -kInset, -kInset); }
  // What the engine draws into (handed to the filter as the channel's window).
  platform::Surface* surface() { return &surface_; }
  platform::MailboxCounters counters() const { return surface_.mailbox().Counters(); }
  // The picture painted last, as an image of the pane's size.
  const QImage& current() const { return image_; }

 signals:
  void pressed(int channel);
  // Released after the mouse moved: swap with the pane under `global`.
  void dropped(int channel, QPoint global);
  void doubleClicked(int channel);
  void menuRequested(int channel, QPoint global);
  void escapePressed();
  void spacePressed();

 public slots:
  // GUI thread: takes the newest picture, if any, and repaints.
  void TakePicture();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

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
  QString stream_name_;
  bool selected_ = false;
  int audio_indicator_ = 0;
  bool captured_ = false, moved_ = false;
  QPoint press_at_;
};

// A picture as a Qt image (BGR24 or YUYV 4:2:2 into RGB888).
QImage ToImage(const platform::Picture& picture);

}  // namespace app
