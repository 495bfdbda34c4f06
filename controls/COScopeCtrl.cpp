#include "controls/COScopeCtrl.h"

#include <QDateTime>
#include <QFontMetrics>
#include <QMouseEvent>
#include <QPainter>
#include <QPolygon>
#include <QTimeZone>
#include <QToolTip>
#include <algorithm>
#include <cmath>
#include <cstring>

namespace controls {

namespace {

constexpr int kTopMargin = 8;      // strip above the plot
constexpr int kRightMargin = 5;    // right edge of the plot from the control's
constexpr int kBottomMargin = 23;  // legend row and its margin below the plot
constexpr int kLegendFrom = 2;     // legend row: 2 .. 18 pixels below the plot
constexpr int kLegendTo = 18;
constexpr int kLegendText = 4;     // legend texts start 4 pixels below the plot

// Legend items' hover and click spans, from the plot's left.
struct Span {
  int from, to;
};
constexpr Span kItemSpan[COScopeCtrl::kLegendItems] = {{0, 60}, {80, 140}, {160, 220}, {240, 310}, {320, 370}};

QFont LabelFont() {
  QFont font(QStringLiteral("Arial"));
  font.setPixelSize(11);
  font.setWeight(QFont::Light);
  return font;
}

QFont LegendFont() {
  QFont font(QStringLiteral("Arial"));
  font.setPixelSize(13);
  return font;
}

// Digits before the point of the larger bound, less one: |trunc(log10 |v|)|.
int Magnitude(double v) {
  if (!std::isfinite(v) || v == 0) return 0;
  const double digits = std::fabs(std::trunc(std::log10(std::fabs(v))));
  return static_cast<int>(std::min(digits, 30.0));
}

QString BoundText(double value, int decimals) { return QString::asprintf("%.*fG", decimals, value); }

}  // namespace

QString AxisLegendText(char axis, double value) {
  if (value == 0) value = 0.0;  // no "-0.000"
  // Not negative: a second space stands where the minus sign would be.
  return QString::asprintf(value < 0 ? "%c: %2.3f" : "%c:  %2.3f", axis, value);
}

QString ReadoutText(double value) { return QString::asprintf("%3.1f ", value); }

double KmhToMph(double kmh) { return kmh * (1 - 0.37862882); }

double CelsiusToFahrenheit(double celsius) { return celsius * 1.8 + 32; }

COScopeCtrl::COScopeCtrl(const app::AppConfig* config, QWidget* parent)
    : QWidget(parent), ring_(kRingSize) {
  if (config) {
    config_ = *config;
    speed_unit_ = config_->ReadInt(kSection, "Speed", 0) != 0 ? kMph : kKmh;
    temperature_unit_ = config_->ReadInt(kSection, "Temperature", 0) != 0 ? kFahrenheit : kCelsius;
  }
  setMouseTracking(true);
  setAttribute(Qt::WA_OpaquePaintEvent);
  setMinimumSize(100, 60);
}

COScopeCtrl::~COScopeCtrl() = default;

void COScopeCtrl::SetRange(double lower, double upper, int decimals) {
  if (!std::isfinite(lower) || !std::isfinite(upper) || !(lower < upper) || !std::isfinite(upper - lower)) return;
  lower_ = lower;
  upper_ = upper;
  decimals_ = std::clamp(decimals, 0, 9);
  layout_dirty_ = true;
  update();
}

void COScopeCtrl::SetBackgroundColor(const QColor& color) {
  background_ = color;
  grid_dirty_ = true;
  update();
}

void COScopeCtrl::SetGridColor(const QColor& color) {
  grid_ = color;
  grid_dirty_ = true;
  update();
}

void COScopeCtrl::SetTraceColors(const QColor& x, const QColor& y, const QColor& z) {
  trace_ = {x, y, z};
  traces_dirty_ = true;
  update();
}

void COScopeCtrl::SetUnits(int speed_unit, int temperature_unit) {
  const int speed = speed_unit != 0 ? kMph : kKmh;
  const int temperature = temperature_unit != 0 ? kFahrenheit : kCelsius;
  if (speed == speed_unit_ && temperature == temperature_unit_) return;
  speed_unit_ = speed;
  temperature_unit_ = temperature;
  WriteUnits();
  update();
}

void COScopeCtrl::SetAxisHidden(int axis, bool hidden) {
  if (axis < 0 || axis > 2 || hidden_[static_cast<size_t>(axis)] == hidden) return;
  hidden_[static_cast<size_t>(axis)] = hidden;
  traces_dirty_ = true;
  update();
}

void COScopeCtrl::AddSample(int64_t time_ms, double x, double y, double z, double temperature, double speed) {
  if (count_ > 0 && time_ms < ring_[static_cast<size_t>(index_)].time_ms) Clear();
  index_ = (index_ + 1) % kRingSize;
  ring_[static_cast<size_t>(index_)] = {time_ms, x, y, z};
  count_ = std::min(count_ + 1, kRingSize);
  ++added_;
  current_x_ = x;
  current_y_ = y;
  current_z_ = z;
  temperature_ = temperature;
  speed_ = speed;
  update();
  RefreshToolTip();
}

void COScopeCtrl::Clear() {
  index_ = -1;
  count_ = 0;
  current_x_ = current_y_ = current_z_ = 0;
  temperature_ = speed_ = 0;
  traces_dirty_ = true;
  update();
  RefreshToolTip();
}

std::optional<COScopeCtrl::Sample> COScopeCtrl::sampleBack(int back) const {
  if (back < 0 || back >= count_) return std::nullopt;
  return ring_[static_cast<size_t>((index_ - back + kRingSize) % kRingSize)];
}

std::optional<int> COScopeCtrl::YFor(double value) const {
  EnsureLayout();
  const double offset = (value - lower_) * factor_;
  if (!std::isfinite(offset)) {
    if (std::isnan(offset)) return std::nullopt;
    return offset > 0 ? top_ - 1 : bottom_ + 1;  // off the plot: clipped away
  }
  // Anything far off the plot is drawn as just off it: the clip gives the same
  // picture and the integer stays in range.
  const double span = 64.0 * (bottom_ - top_ + 2);
  return bottom_ - static_cast<int>(std::trunc(std::clamp(offset, -span, span)));
}

QStringList COScopeCtrl::legendTexts() const {
  const bool mph = speed_unit_ == kMph;
  const bool fahrenheit = temperature_unit_ == kFahrenheit;
  return {AxisLegendText('X', current_x_),
          AxisLegendText('Y', current_y_),
          AxisLegendText('Z', current_z_),
          ReadoutText(mph ? KmhToMph(speed_) : speed_),
          mph ? QStringLiteral("mph") : QStringLiteral("km/h"),
          ReadoutText(fahrenheit ? CelsiusToFahrenheit(temperature_) : temperature_),
          fahrenheit ? QStringLiteral("F") : QStringLiteral("C")};
}

QColor COScopeCtrl::legendColor(int item, bool unit_part) const {
  if (item >= kLegendX && item <= kLegendZ) {
    // Hovering shows what a click would do: a shown axis greys, a hidden one lights.
    return (hover_ == item) == hidden_[static_cast<size_t>(item)] ? trace_[static_cast<size_t>(item)] : greyed_;
  }
  if (hover_ == item) return greyed_;
  return unit_part ? trace_[kAxisY] : trace_[kAxisX];
}

QString COScopeCtrl::toolTipTextAt(const QPoint& pos) const {
  EnsureLayout();
  if (!InPlot(pos) || pos.x() > right_) return {};
  const auto sample = sampleBack((right_ - pos.x()) / kShift);
  if (!sample) return {};
  // The record's time is the file name's time counted as UTC: shown as UTC,
  // it reads as the recorder's clock.
  const QDateTime when = QDateTime::fromMSecsSinceEpoch(sample->time_ms, QTimeZone::utc());
  const int64_t ms = ((sample->time_ms % 1000) + 1000) % 1000;
  const QString time = when.toString(QStringLiteral("HH:mm:ss")) + QString::asprintf(":%d", static_cast<int>(ms));
  return QString::asprintf("%s x= %2.3f, y = %2.3f, z = %2.3f", time.toUtf8().constData(), sample->x, sample->y,
                           sample->z);
}

void COScopeCtrl::EnsureLayout() const {
  if (!layout_dirty_ && layout_size_ == size()) return;
  const int m = std::max(Magnitude(upper_), Magnitude(lower_));
  int left = (decimals_ + 4 + m) * 6;
  // A font wider than 6 pixels a character still shows the whole label.
  const QFontMetrics metrics(LabelFont());
  const int label = std::max(metrics.horizontalAdvance(BoundText(upper_, decimals_)),
                             metrics.horizontalAdvance(BoundText(lower_, decimals_)));
  left_ = std::max(left, label + 2);
  top_ = kTopMargin;
  right_ = std::max(left_ + 1, width() - 1 - kRightMargin);
  bottom_ = std::max(top_ + 1, height() - 1 - kBottomMargin);
  factor_ = (bottom_ - top_) / (upper_ - lower_);
  layout_size_ = size();
  layout_dirty_ = false;
  grid_dirty_ = true;
  traces_dirty_ = true;
}

void COScopeCtrl::RebuildGrid() {
  const QSize size = this->size().expandedTo(QSize(1, 1));
  if (grid_layer_.size() != size) grid_layer_ = QImage(size, QImage::Format_RGB32);
  grid_layer_.fill(background_);
  QPainter p(&grid_layer_);
  p.setPen(QPen(grid_, 1));
  p.setBrush(Qt::NoBrush);
  p.drawRect(QRect(QPoint(left_, top_), QPoint(right_ - 1, bottom_ - 1)));
  p.end();
  // Dotted lines, a pixel every 4 pixels, at the middle and a quarter above and below.
  const QRgb dot = grid_.rgb();
  const int h = bottom_ - top_;
  for (const int y : {top_ + h / 4, top_ + h / 2, top_ + 3 * h / 4}) {
    if (y <= top_ || y >= bottom_ || y >= grid_layer_.height()) continue;
    auto* line = reinterpret_cast<QRgb*>(grid_layer_.scanLine(y));
    for (int x = left_ + 4; x < right_ && x < grid_layer_.width(); x += 4) line[x] = dot;
  }
  // Ticks along the bottom at the samples' places, every fifth one longer.
  p.begin(&grid_layer_);
  p.setPen(QPen(grid_, 1));
  for (int i = 0, x = right_ - 2; x > left_; ++i, x -= kShift) {
    const int length = i % 5 == 0 ? 8 : 4;
    p.drawLine(x, bottom_ - 1, x, std::max(top_, bottom_ - length));
  }
  p.setFont(LabelFont());
  const int label_width = left_ - 2;
  p.drawText(QRect(0, top_ - 7, label_width, 14), Qt::AlignRight | Qt::AlignVCenter, BoundText(upper_, decimals_));
  p.drawText(QRect(0, bottom_ - 7, label_width, 14), Qt::AlignRight | Qt::AlignVCenter,
             BoundText(lower_, decimals_));
  grid_dirty_ = false;
  traces_dirty_ = true;
}

void COScopeCtrl::RedrawTraces() {
  const QSize size = this->size().expandedTo(QSize(1, 1));
  if (plot_layer_.size() != size) plot_layer_ = QImage(size, QImage::Format_ARGB32_Premultiplied);
  plot_layer_.fill(Qt::transparent);
  QPainter p(&plot_layer_);
  p.setClipRect(QRect(QPoint(left_ + 1, top_), QPoint(right_ - 1, bottom_)));
  // Newest backwards, 4 pixels apart, one point past the left edge so that the
  // line reaches it; a value that is not a number breaks the line.
  const int shown = std::min(count_, (right_ - 2 - left_) / kShift + 2);
  QPolygon line;
  line.reserve(shown);
  for (int axis = 0; axis < 3; ++axis) {
    if (hidden_[static_cast<size_t>(axis)]) continue;
    p.setPen(QPen(trace_[static_cast<size_t>(axis)], 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    line.clear();
    auto flush = [&] {
      if (line.size() == 1) p.drawPoint(line[0]);
      if (line.size() > 1) p.drawPolyline(line);
      line.clear();
    };
    for (int back = 0; back < shown; ++back) {
      const Sample& s = ring_[static_cast<size_t>((index_ - back + kRingSize) % kRingSize)];
      const auto y = YFor(axis == kAxisX ? s.x : axis == kAxisY ? s.y : s.z);
      if (!y) {
        flush();
        continue;
      }
      line.append(QPoint(right_ - 2 - back * kShift, *y));
    }
    flush();
  }
  traces_dirty_ = false;
}

void COScopeCtrl::ScrollPlot(int pixels) {
  // Only the plot's inside moves; the uncovered strip at the right is cleared.
  const int from = left_ + 1;
  const int width = right_ - from;
  if (width <= 0) return;
  pixels = std::min(pixels, width);
  for (int y = std::max(top_, 0); y <= bottom_ && y < plot_layer_.height(); ++y) {
    auto* line = reinterpret_cast<QRgb*>(plot_layer_.scanLine(y)) + from;
    std::memmove(line, line + pixels, sizeof(QRgb) * static_cast<size_t>(width - pixels));
    std::memset(line + (width - pixels), 0, sizeof(QRgb) * static_cast<size_t>(pixels));
  }
}

void COScopeCtrl::DrawNewSegments(int count) {
  QPainter p(&plot_layer_);
  p.setClipRect(QRect(QPoint(left_ + 1, top_), QPoint(right_ - 1, bottom_)));
  for (int axis = 0; axis < 3; ++axis) {
    if (hidden_[static_cast<size_t>(axis)]) continue;
    p.setPen(QPen(trace_[static_cast<size_t>(axis)], 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    auto value = [axis](const Sample& s) { return axis == kAxisX ? s.x : axis == kAxisY ? s.y : s.z; };
    for (int back = count - 1; back >= 0; --back) {
      const auto current = YFor(value(*sampleBack(back)));
      if (!current) continue;
      const int x = right_ - 2 - back * kShift;
      const auto previous_sample = sampleBack(back + 1);
      const auto previous = previous_sample ? YFor(value(*previous_sample)) : std::nullopt;
      if (previous)
        p.drawLine(x - kShift, *previous, x, *current);
      else
        p.drawPoint(x, *current);
    }
  }
}

void COScopeCtrl::BringLayersUpToDate() {
  EnsureLayout();
  if (grid_dirty_ || grid_layer_.size() != size()) RebuildGrid();
  const uint64_t fresh = added_ - drawn_added_;
  const int columns = (right_ - left_) / kShift + 1;
  if (traces_dirty_ || plot_layer_.size() != size() || fresh >= static_cast<uint64_t>(columns) ||
      fresh > static_cast<uint64_t>(count_)) {
    RedrawTraces();
  } else if (fresh > 0) {
    ScrollPlot(static_cast<int>(fresh) * kShift);
    DrawNewSegments(static_cast<int>(fresh));
  }
  drawn_added_ = added_;
}

void COScopeCtrl::DrawLegend(QPainter& p) const {
  const QStringList texts = legendTexts();
  p.setFont(LegendFont());
  const int y = bottom_ + kLegendText;
  const int h = kLegendTo - kLegendText + 2;
  for (int item = kLegendX; item <= kLegendZ; ++item) {
    p.setPen(legendColor(item));
    p.drawText(QRect(left_ + kItemSpan[item].from, y, 80, h), Qt::AlignLeft | Qt::AlignTop, texts[item]);
  }
  // Read-outs: the value right-aligned before its unit.
  for (const int item : {kLegendSpeed, kLegendTemperature}) {
    const int value_at = left_ + kItemSpan[item].from;
    const int unit_at = value_at + 40;
    const int text = item == kLegendSpeed ? 3 : 5;
    p.setPen(legendColor(item));
    p.drawText(QRect(value_at - 40, y, 80, h), Qt::AlignRight | Qt::AlignTop, texts[text]);
    p.setPen(legendColor(item, true));
    p.drawText(QRect(unit_at, y, 60, h), Qt::AlignLeft | Qt::AlignTop, texts[text + 1]);
  }
}

void COScopeCtrl::paintEvent(QPaintEvent*) {
  BringLayersUpToDate();
  QPainter p(this);
  p.drawImage(0, 0, grid_layer_);
  p.drawImage(0, 0, plot_layer_);
  DrawLegend(p);
}

void COScopeCtrl::resizeEvent(QResizeEvent*) { layout_dirty_ = true; }

bool COScopeCtrl::InLegendRow(const QPoint& pos) const {
  return pos.y() >= bottom_ + kLegendFrom && pos.y() <= bottom_ + kLegendTo;
}

bool COScopeCtrl::InPlot(const QPoint& pos) const {
  EnsureLayout();
  return pos.x() > left_ && pos.x() < right_ && pos.y() >= top_ && pos.y() <= bottom_;
}

int COScopeCtrl::LegendItemAt(const QPoint& pos) const {
  EnsureLayout();
  if (!InLegendRow(pos)) return -1;
  const int x = pos.x() - left_;
  for (int item = 0; item < kLegendItems; ++item)
    if (x >= kItemSpan[item].from && x <= kItemSpan[item].to) return item;
  return -1;
}

void COScopeCtrl::SetHover(int item) {
  if (item == hover_) return;
  hover_ = item;
  update();
}

void COScopeCtrl::RefreshToolTip() {
  if (!pointer_inside_ || !isVisible() || !InPlot(pointer_)) return;
  const QString text = toolTipTextAt(pointer_);
  if (text.isEmpty())
    QToolTip::hideText();
  else
    QToolTip::showText(mapToGlobal(pointer_), text, this);
}

void COScopeCtrl::mouseMoveEvent(QMouseEvent* event) {
  pointer_ = event->position().toPoint();
  pointer_inside_ = true;
  SetHover(LegendItemAt(pointer_));
  if (InPlot(pointer_))
    RefreshToolTip();
  else
    QToolTip::hideText();
}

void COScopeCtrl::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  // The click acts on the item the hover colour speaks for.
  const int item = LegendItemAt(event->position().toPoint());
  if (item >= kLegendX && item <= kLegendZ) {
    SetAxisHidden(item, !hidden_[static_cast<size_t>(item)]);
  } else if (item == kLegendSpeed) {
    SetUnits(speed_unit_ == kKmh ? kMph : kKmh, temperature_unit_);
  } else if (item == kLegendTemperature) {
    SetUnits(speed_unit_, temperature_unit_ == kCelsius ? kFahrenheit : kCelsius);
  }
}

void COScopeCtrl::mouseDoubleClickEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && InPlot(event->position().toPoint()) && owner_)
    owner_->Post(platform::msg::kWaveHeight, 0, 0);
}

void COScopeCtrl::leaveEvent(QEvent*) {
  pointer_inside_ = false;
  SetHover(-1);
  QToolTip::hideText();
}

void COScopeCtrl::WriteUnits() const {
  if (!config_) return;
  config_->WriteInt(kSection, "Speed", speed_unit_);
  config_->WriteInt(kSection, "Temperature", temperature_unit_);
}

}  // namespace controls
