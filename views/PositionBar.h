#pragma once
// The play position under the panes: a slider over the recording's length and
// the play time "00:01:05/00:10:00". A move by the user asks for a seek; the
// position reports do not move the slider for 100 ms after that, so that the
// slider does not jump back while the seek is on its way.
#include <QElapsedTimer>
#include <QLabel>
#include <QSlider>
#include <QWidget>

namespace views {

// "%02d:%02d:%02d/%02d:%02d:%02d".
QString PlayTimeText(int position_seconds, int total_seconds);

class PositionBar : public QWidget {
  Q_OBJECT

 public:
  explicit PositionBar(QWidget* parent = nullptr);
  void SetPosition(int seconds, int total_seconds);
  void Clear();
  // Position reports leave the slider alone for `ms` (an export's seek is on its way).
  void HoldFor(int ms);
  // The x of the handle's middle for `value`, in this bar's coordinates.
  int PixelOf(int value) const;
  int total() const { return total_; }
  QSlider* slider() const { return slider_; }
  QString text() const { return time_->text(); }

 signals:
  void seekRequested(int seconds);

 private:
  QSlider* slider_;
  QLabel* time_;
  QElapsedTimer moved_;
  qint64 quiet_ms_ = 100;
  int total_ = 0;
};

}  // namespace views
