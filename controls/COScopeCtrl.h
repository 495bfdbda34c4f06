#pragma once
// The G-sensor oscilloscope of the bottom panel. Every G-sensor record adds one
// sample of the three acceleration axes (X, Y, Z, in g) and refreshes the speed
// and temperature read-outs; the plot scrolls from right to left, 4 pixels a
// sample, the newest sample's segment ending 2 pixels left of the plot's right
// edge. Below the plot a legend row shows the current values; a click on an
// axis legend hides or shows that trace, a click on the speed or temperature
// read-out switches its unit (km/h or mph, Celsius or Fahrenheit). The units
// live in "WaveConfig" of setting.ini: read when the control is made, written
// as soon as they change.
//
// Drawing: the grid layer (frame, grid lines, ticks, bound labels) is built on
// size, colour and range changes; the plot layer holds the traces and is
// brought up to date when painted: it is scrolled once by 4 pixels for every
// sample added since the last paint and only the new segments are drawn, or it
// is redrawn from the ring when that is cheaper or the layers changed. The
// legend is painted over both.
//
// Threads: the window's thread only (the panel's worker hands samples over).
#include <QColor>
#include <QImage>
#include <QPoint>
#include <QRect>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "app/AppConfig.h"
#include "platform/MessageSink.h"

namespace controls {

// The legend's texts. "X:  0.000" (two spaces when the value is not negative),
// "X: -0.500"; read-outs "%3.1f " with their unit apart.
QString AxisLegendText(char axis, double value);
QString ReadoutText(double value);
// km/h to mph, Celsius to Fahrenheit, as the recorder's software converts them.
double KmhToMph(double kmh);
double CelsiusToFahrenheit(double celsius);

class COScopeCtrl : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kRingSize = 22501;  // enough for a full redraw of any plot width
  static constexpr int kShift = 4;         // pixels a sample
  static constexpr const char* kSection = "WaveConfig";

  enum Axis { kAxisX = 0, kAxisY = 1, kAxisZ = 2 };
  enum LegendItem { kLegendX = 0, kLegendY, kLegendZ, kLegendSpeed, kLegendTemperature, kLegendItems };
  enum SpeedUnit { kKmh = 0, kMph = 1 };
  enum TemperatureUnit { kCelsius = 0, kFahrenheit = 1 };

  struct Sample {
    int64_t time_ms = 0;  // the record's time (the file name's time counted as UTC, plus the offset)
    double x = 0, y = 0, z = 0;
  };

  // `config` (may be null: units are then not kept) is copied; its "WaveConfig"
  // section gives the units ("Speed", "Temperature").
  explicit COScopeCtrl(const app::AppConfig* config = nullptr, QWidget* parent = nullptr);
  ~COScopeCtrl() override;

  // The window that gets the double-click message (kWaveHeight, first 0).
  void SetOwner(platform::MessageSink* owner) { owner_ = owner; }

  // Y range and decimals of its labels. Ignored unless lower < upper, both
  // finite; decimals are kept within 0 .. 9.
  void SetRange(double lower, double upper, int decimals);
  void SetBackgroundColor(const QColor& color);
  void SetGridColor(const QColor& color);
  void SetTraceColors(const QColor& x, const QColor& y, const QColor& z);
  // 0 km/h, 1 mph; 0 Celsius, 1 Fahrenheit. Written to "WaveConfig" when changed.
  void SetUnits(int speed_unit, int temperature_unit);
  int speedUnit() const { return speed_unit_; }
  int temperatureUnit() const { return temperature_unit_; }
  void SetAxisHidden(int axis, bool hidden);
  bool axisHidden(int axis) const { return hidden_.at(static_cast<size_t>(axis)); }

  // One G-sensor record. A time earlier than the newest sample's (play went
  // backwards) clears the plot first.
  void AddSample(int64_t time_ms, double x, double y, double z, double temperature, double speed);
  void Clear();

  // What is stored and shown (the painting reads the same).
  int sampleCount() const { return count_; }
  int currentIndex() const { return index_; }  // -1 when empty
  const Sample& slot(int i) const { return ring_.at(static_cast<size_t>(i)); }
  // `back` samples before the newest (0 = newest); none when not stored.
  std::optional<Sample> sampleBack(int back) const;
  double lower() const { return lower_; }
  double upper() const { return upper_; }
  int decimals() const { return decimals_; }
  // The plot's frame: the traces run from left() + 1 to right() - 1 and from
  // top() (the upper bound) to bottom() (the lower bound).
  QRect plotRect() const {
    EnsureLayout();
    return QRect(QPoint(left_, top_), QPoint(right_, bottom_));
  }
  // The plot's y for a value (the upper bound on top(), the lower on bottom());
  // none for a value that is not a number.
  std::optional<int> YFor(double value) const;
  // X, Y, Z, speed value, speed unit, temperature value, temperature unit.
  QStringList legendTexts() const;
  QColor legendColor(int item, bool unit_part = false) const;
  // The tool tip over the plot: the time of the sample under `pos` and its
  // values; empty where no stored sample is drawn.
  QString toolTipTextAt(const QPoint& pos) const;
  QColor backgroundColor() const { return background_; }
  QColor traceColor(int axis) const { return trace_.at(static_cast<size_t>(axis)); }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void leaveEvent(QEvent* event) override;

 private:
  // The plot's place follows the control's size and the range.
  void EnsureLayout() const;
  void RebuildGrid();
  void RedrawTraces();
  void DrawNewSegments(int count);
  void ScrollPlot(int pixels);
  void BringLayersUpToDate();
  void DrawLegend(class QPainter& painter) const;
  int LegendItemAt(const QPoint& pos) const;
  bool InLegendRow(const QPoint& pos) const;
  bool InPlot(const QPoint& pos) const;
  void SetHover(int item);
  void RefreshToolTip();
  void WriteUnits() const;

  std::optional<app::AppConfig> config_;
  platform::MessageSink* owner_ = nullptr;

  std::vector<Sample> ring_;
  int index_ = -1;  // newest slot; -1 when empty
  int count_ = 0;   // stored samples, at most kRingSize
  uint64_t added_ = 0;        // samples added since the control was made
  uint64_t drawn_added_ = 0;  // `added_` when the plot layer was last brought up to date

  double temperature_ = 0, speed_ = 0;  // current read-outs (Celsius, km/h)
  double current_x_ = 0, current_y_ = 0, current_z_ = 0;

  double lower_ = -10.0, upper_ = 10.0;
  int decimals_ = 3;

  QColor background_{0, 0, 0};
  QColor grid_{0, 255, 255};
  std::array<QColor, 3> trace_{QColor(255, 255, 255), QColor(255, 0, 0), QColor(0x1C, 0x7C, 0x32)};
  QColor greyed_{44, 44, 44};

  std::array<bool, 3> hidden_{};
  int speed_unit_ = kKmh;
  int temperature_unit_ = kCelsius;
  int hover_ = -1;  // legend item under the pointer

  // Layout, worked out again when the size or the range changed.
  mutable QSize layout_size_;
  mutable bool layout_dirty_ = true;
  mutable int left_ = 0, top_ = 0, right_ = 0, bottom_ = 0;
  mutable double factor_ = 0;  // pixels per unit of the range
  mutable bool grid_dirty_ = true;
  mutable bool traces_dirty_ = true;
  QImage grid_layer_;  // background, frame, grid, ticks, bound labels
  QImage plot_layer_;  // the traces, transparent elsewhere
  QPoint pointer_{-1, -1};  // last pointer position over the control
  bool pointer_inside_ = false;
};

}  // namespace controls
