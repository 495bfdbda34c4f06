#include "views/PositionBar.h"

#include <QHBoxLayout>
#include <QStyle>
#include <QStyleOptionSlider>
#include <algorithm>

namespace views {
namespace {

constexpr qint64 kMovedQuietMs = 100;

}  // namespace

QString PlayTimeText(int position, int total) {
  position = std::max(0, position);
  total = std::max(0, total);
  return QString::asprintf("%02d:%02d:%02d/%02d:%02d:%02d", position / 3600, position / 60 % 60, position % 60,
                           total / 3600, total / 60 % 60, total % 60);
}

PositionBar::PositionBar(QWidget* parent)
    : QWidget(parent), slider_(new QSlider(Qt::Horizontal, this)), time_(new QLabel(PlayTimeText(0, 0), this)) {
  setObjectName("positionBar");
  slider_->setObjectName("positionSlider");
  slider_->setRange(0, 1);
  slider_->setPageStep(100);
  slider_->setFocusPolicy(Qt::NoFocus);
  time_->setObjectName("playTime");
  time_->setMinimumWidth(time_->fontMetrics().horizontalAdvance("00:00:00/00:00:00") + 8);
  time_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(4, 0, 4, 0);
  row->addWidget(slider_, 1);
  row->addWidget(time_);
  // A drag asks once, at its end; a click or key asks at once.
  connect(slider_, &QSlider::sliderReleased, this, [this] {
    quiet_ms_ = kMovedQuietMs;
    moved_.start();
    emit seekRequested(slider_->value());
  });
  connect(slider_, &QSlider::actionTriggered, this, [this](int action) {
    if (action == QAbstractSlider::SliderMove) return;
    QMetaObject::invokeMethod(this, [this] {  // the value is set after the action
      quiet_ms_ = kMovedQuietMs;
      moved_.start();
      time_->setText(PlayTimeText(slider_->value(), total_));
      emit seekRequested(slider_->value());
    }, Qt::QueuedConnection);
  });
  connect(slider_, &QSlider::sliderMoved, this, [this](int value) { time_->setText(PlayTimeText(value, total_)); });
}

void PositionBar::SetPosition(int seconds, int total_seconds) {
  if (slider_->isSliderDown() || (moved_.isValid() && moved_.elapsed() < quiet_ms_)) return;
  total_ = std::max(0, total_seconds);
  QSignalBlocker block(slider_);
  slider_->setRange(0, std::max(1, total_));
  slider_->setValue(std::clamp(seconds, 0, std::max(1, total_)));
  time_->setText(PlayTimeText(seconds, total_));
}

void PositionBar::HoldFor(int ms) {
  quiet_ms_ = ms;
  moved_.start();
}

int PositionBar::PixelOf(int value) const {
  QStyleOptionSlider option;
  option.initFrom(slider_);
  option.orientation = Qt::Horizontal;
  const int handle = slider_->style()->pixelMetric(QStyle::PM_SliderLength, &option, slider_);
  const int span = std::max(0, slider_->width() - handle);
  return slider_->x() + handle / 2 +
         QStyle::sliderPositionFromValue(slider_->minimum(), slider_->maximum(), value, span);
}

void PositionBar::Clear() {
  total_ = 0;
  QSignalBlocker block(slider_);
  slider_->setRange(0, 1);
  slider_->setValue(0);
  time_->setText(PlayTimeText(0, 0));
}

}  // namespace views
