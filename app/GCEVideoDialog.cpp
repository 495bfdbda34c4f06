#include "app/GCEVideoDialog.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QResizeEvent>
#include <algorithm>

namespace app {
namespace {

uint8_t Clamp(int v) { return static_cast<uint8_t>(std::clamp(v, 0, 255)); }

}  // namespace

QImage ToImage(const platform::Picture& p) {
  if (!p.pixels || p.width <= 0 || p.height <= 0) return {};
  if (p.format == platform::PixelFormat::BGR24) {
    // Wraps the pixels, then copies: the mailbox buffer goes back to the engine.
    return QImage(p.pixels, p.width, p.height, p.stride, QImage::Format_BGR888).copy();
  }
  QImage out(p.width, p.height, QImage::Format_RGB888);
  for (int y = 0; y < p.height; ++y) {
    const uint8_t* in = p.pixels + static_cast<ptrdiff_t>(y) * p.stride;
    uint8_t* o = out.scanLine(y);
    for (int x = 0; x + 1 < p.width; x += 2, in += 4) {
      // BT.601, studio range, as the decoder's pictures are.
      const int u = in[1] - 128, v = in[3] - 128;
      for (int k = 0; k < 2; ++k) {
        const int c = 298 * (in[k * 2] - 16);
        *o++ = Clamp((c + 409 * v + 128) >> 8);
        *o++ = Clamp((c - 100 * u - 208 * v + 128) >> 8);
        *o++ = Clamp((c + 516 * u + 128) >> 8);
      }
    }
  }
  return out;
}

GCEVideoDialog::GCEVideoDialog(int channel, QWidget* parent)
    : QWidget(parent),
      channel_(channel),
      waker_(std::make_shared<Waker>()),
      surface_([waker = waker_] {
        std::lock_guard lock(waker->mutex);
        if (waker->pane) QMetaObject::invokeMethod(waker->pane, "TakePicture", Qt::QueuedConnection);
      }) {
  waker_->pane = this;
  setAttribute(Qt::WA_OpaquePaintEvent);  // every pixel is painted
  setObjectName(QString("pane%1").arg(channel + 1));
  setFocusPolicy(Qt::ClickFocus);
  stream_name_ = QString("Channel %1").arg(channel + 1);
}

void GCEVideoDialog::set_selected(bool selected) {
  if (selected_ == selected) return;
  selected_ = selected;
  update();
}

void GCEVideoDialog::set_audio_indicator(int indicator) {
  if (audio_indicator_ == indicator) return;
  audio_indicator_ = indicator;
  update();
}

GCEVideoDialog::~GCEVideoDialog() {
  std::lock_guard lock(waker_->mutex);
  waker_->pane = nullptr;
}

void GCEVideoDialog::TakePicture() {
  platform::PictureRef newest = surface_.mailbox().TakeNewest();
  if (!newest) return;
  image_ = ToImage(newest->picture);
  // The rectangle was worked out for the client size the engine saw; a
  // resize since then scales it.
  const platform::Rect& d = newest->dst;
  const platform::Size& c = newest->client;
  if (d.Empty() || c.width <= 0 || c.height <= 0) {
    target_ = surface_rect();
  } else {
    double sx = 1, sy = 1;
    const QRect inside = surface_rect();
    sx = static_cast<double>(inside.width()) / c.width;
    sy = static_cast<double>(inside.height()) / c.height;
    target_ = QRect(kInset + static_cast<int>(d.x * sx), kInset + static_cast<int>(d.y * sy),
                    static_cast<int>(d.width * sx + 0.5), static_cast<int>(d.height * sy + 0.5));
  }
  update();
}

void GCEVideoDialog::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), Qt::black);
  if (!image_.isNull()) painter.drawImage(target_, image_);
  if (selected_) {
    painter.setPen(QPen(QColor(255, 160, 0), kInset));
    painter.drawRect(rect().adjusted(1, 1, -1, -1));
  }
  if (audio_indicator_ > 0 && audio_indicator_ - 1 == channel_) {
    painter.setPen(QColor(120, 220, 120));
    painter.drawText(surface_rect().adjusted(4, 2, -4, -2), Qt::AlignRight | Qt::AlignTop, QString::fromUtf8("\u266a"));
  }
}

void GCEVideoDialog::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return QWidget::mousePressEvent(event);
  captured_ = true;
  moved_ = false;
  press_at_ = event->position().toPoint();
  emit pressed(channel_);
}

void GCEVideoDialog::mouseMoveEvent(QMouseEvent* event) {
  if (!captured_) return;
  if (!moved_ && (event->position().toPoint() - press_at_).manhattanLength() >= QApplication::startDragDistance()) {
    moved_ = true;
    setCursor(Qt::ClosedHandCursor);
  }
}

void GCEVideoDialog::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::RightButton) {
    emit menuRequested(channel_, event->globalPosition().toPoint());
    return;
  }
  if (event->button() != Qt::LeftButton || !captured_) return;
  captured_ = false;
  unsetCursor();
  if (moved_) emit dropped(channel_, event->globalPosition().toPoint());
  moved_ = false;
}

void GCEVideoDialog::mouseDoubleClickEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) emit doubleClicked(channel_);
}

void GCEVideoDialog::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Escape: emit escapePressed(); return;
    case Qt::Key_Space: emit spacePressed(); return;
    default: QWidget::keyPressEvent(event);
  }
}

void GCEVideoDialog::resizeEvent(QResizeEvent* event) {
  const QSize inside = event->size() - QSize(2 * kInset, 2 * kInset);
  surface_.SetClientSize({std::max(0, inside.width()), std::max(0, inside.height())});
  QWidget::resizeEvent(event);
}

}  // namespace app
