#include "controls/CDVRCalendarCtrl.h"

#include <QDate>
#include <QHelpEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QToolTip>
#include <algorithm>
#include <chrono>
#include <cstdlib>

namespace controls {

namespace {

constexpr int kColumns = 40;
constexpr int kRows = 6;
constexpr int kTimeLineColumn = 4;
constexpr int kDayStripColumn = 8;
constexpr uint32_t kChannelBits = (1u << CDVRCalendarCtrl::kMaxChannels) - 1;

// Times are kept within the years 1900 .. 9999 so that dates stay dates.
const int64_t kMinTime = CDVRCalendarCtrl::DayStart(1900, 1, 1);
const int64_t kMaxTime = CDVRCalendarCtrl::DayStart(9999, 12, 31) + 86399;

int64_t ClampTime(int64_t t) { return std::clamp(t, kMinTime, kMaxTime); }

int64_t FloorDiv(int64_t a, int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

bool Before(const CDVRCalendarCtrl::YearMonth& a, const CDVRCalendarCtrl::YearMonth& b) {
  return a.year != b.year ? a.year < b.year : a.month < b.month;
}

// The last second a segment covers; one of unknown length is a moment.
int64_t LastSecond(const CDVRCalendarCtrl::Segment& s) { return std::max(s.start, s.end() - 1); }

// [from, to) holds some of the segment.
bool Overlaps(const CDVRCalendarCtrl::Segment& s, int64_t from, int64_t to) {
  return s.start < to && (s.end() > from || s.start >= from);
}

QFont ArialPixels(int pixels) {
  QFont font(QStringLiteral("Arial"));
  font.setPixelSize(std::max(pixels, 1));
  return font;
}

// A magnifier with "+" or "-", hot spot in the lens.
QCursor MagnifierCursor(bool zoom_in) {
  QPixmap pixmap(32, 32);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  for (const auto& [colour, width] : {std::pair{QColor(Qt::white), 5.0}, std::pair{QColor(Qt::black), 2.5}}) {
    p.setPen(QPen(colour, width, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(18, 18), QPointF(28, 28));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QPointF(12, 12), 8, 8);
  }
  p.setBrush(QColor(255, 255, 255, 200));
  p.setPen(Qt::NoPen);
  p.drawEllipse(QPointF(12, 12), 6.5, 6.5);
  p.setPen(QPen(Qt::black, 2));
  p.drawLine(QPointF(8, 12), QPointF(16, 12));
  if (zoom_in) p.drawLine(QPointF(12, 8), QPointF(12, 16));
  p.end();
  return QCursor(pixmap, 12, 12);
}

}  // namespace

int CDVRCalendarCtrl::DaysInMonth(int year, int month) {
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12) return 31;
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return kDays[month - 1] + (month == 2 && leap ? 1 : 0);
}

int64_t CDVRCalendarCtrl::DayStart(int year, int month, int day) {
  using namespace std::chrono;
  const sys_days date{std::chrono::year{year} / month / day};
  return static_cast<int64_t>(date.time_since_epoch().count()) * 86400;
}

void CDVRCalendarCtrl::DateOf(int64_t seconds, int* year, int* month, int* day) {
  using namespace std::chrono;
  const year_month_day date{sys_days{days{FloorDiv(ClampTime(seconds), 86400)}}};
  *year = static_cast<int>(date.year());
  *month = static_cast<int>(static_cast<unsigned>(date.month()));
  *day = static_cast<int>(static_cast<unsigned>(date.day()));
}

QColor CDVRCalendarCtrl::BarColor(uint32_t type_mask) {
  if (type_mask & 0x000000FF) return QColor(0xE6, 0x3C, 0x32);  // alarm
  if (type_mask & 0x0000FF00) return QColor(0xFF, 0xAA, 0x00);  // motion
  if (type_mask & 0xFF000000) return QColor(0x46, 0x96, 0xFF);  // manual
  if (type_mask & 0x00FF0000) return QColor(0x50, 0xC8, 0x5A);  // timing
  return QColor(0xAA, 0xAA, 0xAA);
}

CDVRCalendarCtrl::CDVRCalendarCtrl(QWidget* parent)
    : QWidget(parent), zoom_in_(MagnifierCursor(true)), zoom_out_(MagnifierCursor(false)) {
  setWindowTitle(QStringLiteral("Calendar Ctrl"));
  setMouseTracking(true);
  setAttribute(Qt::WA_OpaquePaintEvent);
  setMinimumSize(200, 60);
  const QDate today = QDate::currentDate();
  year_ = today.year();
  month_ = today.month();
  day_ = today.day();
  ResetBounds();
  ClampDate();
  UpdateViewStart();
}

void CDVRCalendarCtrl::ResetBounds() {
  // Before any recording: from 1981 to this year at least.
  lower_ = {1981, 1};
  upper_ = {std::max(2023, QDate::currentDate().year()), 12};
}

void CDVRCalendarCtrl::SetCapacity(int count) {
  segments_.clear();
  segments_.shrink_to_fit();
  expected_ = std::max(count, 0);
  segments_.reserve(static_cast<size_t>(std::min(expected_, 1 << 16)));  // grows past that if it must
  ResetBounds();
  ClampDate();
  UpdateViewStart();
  MoveMarker(true);
  update();
}

int CDVRCalendarCtrl::AddSegment(int64_t start, int64_t duration, uint32_t channel_mask, uint32_t type_mask,
                                 const void* row) {
  if (static_cast<int>(segments_.size()) >= expected_) return 0;
  Segment s;
  s.start = ClampTime(start);
  s.duration = std::min(duration, kMaxTime - s.start);
  s.channel_mask = channel_mask;
  s.type_mask = type_mask;
  s.row = row;
  segments_.push_back(s);
  if (segments_.size() == 1) {
    DateOf(s.start, &year_, &month_, &day_);
    lower_ = {year_, month_};
    min_start_ = s.start;
    last_second_ = LastSecond(s);
  } else {
    min_start_ = std::min(min_start_, s.start);
    last_second_ = std::max(last_second_, LastSecond(s));
  }
  if (static_cast<int>(segments_.size()) == expected_) {
    // The list comes sorted by start; the earliest start and the latest end
    // still hold when it does not. A recording that ends at midnight on the
    // first of a month has nothing in that month.
    YearMonth lower, upper;
    int day = 0;
    DateOf(min_start_, &lower.year, &lower.month, &day);
    DateOf(last_second_, &upper.year, &upper.month, &day);
    lower_ = lower;
    upper_ = upper;
  }
  ClampDate();
  UpdateViewStart();
  MoveMarker(true);
  update();
  return 1;
}

void CDVRCalendarCtrl::Clear() {
  segments_.clear();
  segments_.shrink_to_fit();
  expected_ = 0;
  ResetBounds();
  ClampDate();
  UpdateViewStart();
  MoveMarker(true);
  update();
}

void CDVRCalendarCtrl::SetFileStartTime(int64_t seconds) { file_start_ = ClampTime(seconds); }

void CDVRCalendarCtrl::SetPlayPosition(int64_t offset_seconds) {
  offset_ = std::clamp<int64_t>(offset_seconds, -kMaxTime, kMaxTime);
  MoveMarker(false);
}

void CDVRCalendarCtrl::SetBackgroundColor(const QColor& color) {
  background_ = color;
  update();
}

void CDVRCalendarCtrl::SetPenColors(const QColor& grid, const QColor& text, const QColor& marker) {
  grid_ = grid;
  text_ = text;
  marker_color_ = marker;
  update();
}

void CDVRCalendarCtrl::SetDate(int year, int month, int day) {
  year_ = year;
  month_ = month;
  day_ = day;
  ClampDate();
  UpdateViewStart();
  MoveMarker(true);
  update();
}

void CDVRCalendarCtrl::ClampDate() {
  year_ = std::clamp(year_, lower_.year, upper_.year);
  const int first = year_ == lower_.year ? lower_.month : 1;
  const int last = year_ == upper_.year ? upper_.month : 12;
  month_ = std::clamp(month_, first, std::max(first, last));
  day_ = std::clamp(day_, 1, DaysInMonth(year_, month_));
}

void CDVRCalendarCtrl::UpdateViewStart() {
  int64_t t = DayStart(year_, month_, day_);
  if (zoom_ == 1) t += 2 * block_ * 3600;
  if (zoom_ == 2) t += ((block_ * 10 / 60 + 2 * previous_block_) % 24) * 3600 + ((block_ * 10) % 60) * 60;
  view_start_ = t;
}

void CDVRCalendarCtrl::MoveMarker(bool force) {
  std::optional<int64_t> shown = marker_;
  if (!file_start_) {
    shown.reset();
  } else {
    const int64_t position = *file_start_ + offset_;
    if (position < view_start_ || position >= view_start_ + viewSpan()) {
      shown.reset();  // a marker is never left standing where play is not
    } else if (force || !marker_ || std::abs(position - *marker_) >= kMarkerStep[zoom_]) {
      shown = position;
    }
  }
  if (shown == marker_) return;
  marker_ = shown;
  update();
}

int CDVRCalendarCtrl::channelRows() const {
  const int64_t from = DayStart(year_, month_, day_);
  uint32_t channels = 0;
  for (const Segment& s : segments_)
    if (Overlaps(s, from, from + 86400)) channels |= s.channel_mask & kChannelBits;
  int rows = kMinRows;
  for (int c = kMaxChannels - 1; c >= kMinRows; --c) {
    if (channels & (1u << c)) {
      rows = c + 1;
      break;
    }
  }
  return rows;
}

uint32_t CDVRCalendarCtrl::daysWithRecordings() const {
  const int days = DaysInMonth(year_, month_);
  const int64_t from = DayStart(year_, month_, 1);
  const int64_t to = from + int64_t{days} * 86400;
  uint32_t marks = 0;
  for (const Segment& s : segments_) {
    if (!Overlaps(s, from, to)) continue;
    const int64_t first = (std::max(s.start, from) - from) / 86400;
    const int64_t last = (std::min(LastSecond(s), to - 1) - from) / 86400;
    for (int64_t d = first; d <= last; ++d) marks |= 1u << d;
  }
  return marks;
}

CDVRCalendarCtrl::Layout CDVRCalendarCtrl::ComputeLayout() const {
  const int w = width(), h = height();
  auto cells = [w, h](int c0, int r0, int c1, int r1) {
    return QRect(QPoint(c0 * w / kColumns, r0 * h / kRows), QPoint(c1 * w / kColumns - 1, r1 * h / kRows - 1));
  };
  Layout l;
  l.prev_year = cells(0, 0, 1, 1);
  l.prev_month = cells(1, 0, 2, 1);
  l.date = cells(2, 0, 6, 1);
  l.next_month = cells(6, 0, 7, 1);
  l.next_year = cells(7, 0, 8, 1);
  l.day_strip = cells(kDayStripColumn, 0, kColumns, 1);
  l.play_time = cells(0, 1, kTimeLineColumn, 2);
  l.zoom_strip = cells(kTimeLineColumn, 1, kColumns, 2);
  l.labels = cells(0, 2, kTimeLineColumn, kRows);
  l.time_line = cells(kTimeLineColumn, 2, kColumns, kRows);
  return l;
}

QRect CDVRCalendarCtrl::areaRect(Area area) const {
  const Layout l = ComputeLayout();
  switch (area) {
    case Area::kPrevYear: return l.prev_year;
    case Area::kPrevMonth: return l.prev_month;
    case Area::kDate: return l.date;
    case Area::kNextMonth: return l.next_month;
    case Area::kNextYear: return l.next_year;
    case Area::kDayStrip: return l.day_strip;
    case Area::kPlayTime: return l.play_time;
    case Area::kZoomStrip: return l.zoom_strip;
    case Area::kTimeLine: return l.time_line;
    case Area::kNone: break;
  }
  return {};
}

CDVRCalendarCtrl::Area CDVRCalendarCtrl::areaAt(const QPoint& pos) const {
  const Layout l = ComputeLayout();
  const std::pair<Area, QRect> areas[] = {
      {Area::kPrevYear, l.prev_year},   {Area::kPrevMonth, l.prev_month}, {Area::kDate, l.date},
      {Area::kNextMonth, l.next_month}, {Area::kNextYear, l.next_year},   {Area::kDayStrip, l.day_strip},
      {Area::kPlayTime, l.play_time},   {Area::kZoomStrip, l.zoom_strip}, {Area::kTimeLine, l.time_line}};
  for (const auto& [area, r] : areas)
    if (r.contains(pos)) return area;
  return Area::kNone;
}

QRect CDVRCalendarCtrl::channelRowRect(int row) const { return RowRect(row, channelRows(), ComputeLayout()); }

QRect CDVRCalendarCtrl::RowRect(int row, int rows, const Layout& l) {
  const int top = l.time_line.top(), h = l.time_line.height();
  return QRect(QPoint(l.labels.left(), top + row * h / rows),
               QPoint(l.time_line.right(), top + (row + 1) * h / rows - 1));
}

int64_t CDVRCalendarCtrl::TimeAt(int x) const {
  const QRect line = ComputeLayout().time_line;
  const int64_t along = std::clamp(x - line.left(), 0, std::max(line.width() - 1, 0));
  return view_start_ + along * viewSpan() / std::max(line.width(), 1);
}

int CDVRCalendarCtrl::XOf(int64_t t, const Layout& layout) const {
  const int64_t along = std::clamp<int64_t>(t - view_start_, 0, viewSpan());
  return layout.time_line.left() + static_cast<int>(along * layout.time_line.width() / viewSpan());
}

void CDVRCalendarCtrl::paintEvent(QPaintEvent*) {
  const Layout l = ComputeLayout();
  QPainter p(this);
  p.fillRect(rect(), background_);
  const int cell_h = std::max(height() / kRows, 1);
  const QFont small = ArialPixels(std::min(14, cell_h - 4));

  // Year and month with their arrows; an arrow that cannot move is dimmed.
  auto arrow = [&](const QRect& r, bool forward, bool twice, bool enabled) {
    p.setPen(Qt::NoPen);
    p.setBrush(enabled ? text_ : grid_);
    const int size = std::max(3, std::min(r.width() / 4, r.height() / 4));
    const QPoint c = r.center();
    const int n = twice ? 2 : 1;
    for (int i = 0; i < n; ++i) {
      const int dx = (twice ? (i == 0 ? -size / 2 : size / 2) : 0) + (forward ? -size / 2 : size / 2);
      const int tip = forward ? c.x() + dx + size : c.x() + dx - size;
      const QPoint tri[3] = {QPoint(c.x() + dx, c.y() - size), QPoint(c.x() + dx, c.y() + size), QPoint(tip, c.y())};
      p.drawPolygon(tri, 3);
    }
  };
  const bool at_lower = year_ == lower_.year && month_ == lower_.month;
  const bool at_upper = year_ == upper_.year && month_ == upper_.month;
  const YearMonth previous{year_, month_ == 1 ? 12 : month_ - 1}, next{year_, month_ % 12 + 1};
  arrow(l.prev_year, false, true, year_ > lower_.year);
  arrow(l.prev_month, false, false, !at_lower && !Before(previous, lower_) && !Before(upper_, previous));
  arrow(l.next_month, true, false, !at_upper && !Before(next, lower_) && !Before(upper_, next));
  arrow(l.next_year, true, true, year_ < upper_.year);
  p.setPen(text_);
  p.setFont(ArialPixels(std::min(24, cell_h - 4)));
  p.drawText(l.date, Qt::AlignCenter, QString::asprintf("%d/%02d", year_, month_));

  // Day strip: days with recordings underlined, the shown day filled.
  const int days = DaysInMonth(year_, month_);
  const uint32_t marked = daysWithRecordings();
  p.setFont(small);
  for (int d = 1; d <= days; ++d) {
    const int x0 = l.day_strip.left() + (d - 1) * l.day_strip.width() / days;
    const int x1 = l.day_strip.left() + d * l.day_strip.width() / days;
    const QRect cell(x0 + 1, l.day_strip.top() + 2, x1 - x0 - 2, l.day_strip.height() - 4);
    const bool has = marked & (1u << (d - 1));
    if (d == day_) {
      p.setPen(Qt::NoPen);
      p.setBrush(marker_color_);
      p.drawRoundedRect(cell, 3, 3);
    }
    if (has) p.fillRect(QRect(cell.left() + 2, cell.bottom() - 2, cell.width() - 4, 3), BarColor(0x00010000));
    p.setPen(d == day_ ? background_ : has ? text_ : grid_);
    p.drawText(cell, Qt::AlignCenter, QString::asprintf("%02d", d));
  }

  // Zoom strip: the twelve blocks' start times, the ticks along its bottom.
  const QRect& zs = l.zoom_strip;
  const int64_t span = viewSpan();
  p.setFont(small);
  p.setPen(text_);
  for (int i = 0; i < kBlocks; ++i) {
    const int64_t t = view_start_ + i * span / kBlocks;
    const int64_t of_day = t - FloorDiv(t, 86400) * 86400;
    const QRect label(zs.left() + i * zs.width() / kBlocks + 3, zs.top(), zs.width() / kBlocks - 3, zs.height() / 2);
    p.drawText(label, Qt::AlignLeft | Qt::AlignVCenter,
               QString::asprintf("%02d:%02d", static_cast<int>(of_day / 3600), static_cast<int>(of_day / 60 % 60)));
  }
  p.setPen(QPen(grid_, 1));
  const int bottom = zs.bottom();
  p.drawLine(zs.left(), bottom, zs.right(), bottom);
  for (int i = 0; i <= kBlocks * 10; ++i) {
    const int x = std::min(zs.left() + i * zs.width() / (kBlocks * 10), zs.right());
    const int length = i % 10 == 0 ? zs.height() * 45 / 100 : i % 5 == 0 ? zs.height() * 28 / 100 : zs.height() * 15 / 100;
    p.drawLine(x, bottom, x, bottom - std::max(length, 1));
  }

  // Channel rows: grid lines, labels, bars.
  const int rows = channelRows();
  const QRect& tl = l.time_line;
  QColor faint = grid_;
  faint.setAlpha(110);
  p.setPen(QPen(faint, 1));
  for (int i = 1; i < kBlocks; ++i) {
    const int x = tl.left() + i * tl.width() / kBlocks;
    p.drawLine(x, tl.top(), x, tl.bottom());
  }
  const int row_h = tl.height() / rows;
  const QFont label_font = ArialPixels(std::min(14, row_h - 1));
  p.setFont(label_font);
  for (int r = 0; r < rows; ++r) {
    const QRect row = RowRect(r, rows, l);
    p.setPen(QPen(grid_, 1));
    if (r > 0) p.drawLine(row.left(), row.top(), row.right(), row.top());
    if (row_h >= 7) {
      p.setPen(text_);
      p.drawText(QRect(row.left() + 2, row.top(), l.labels.width() - 4, row.height()), Qt::AlignLeft | Qt::AlignVCenter,
                 QString::asprintf("CH-%02d", r + 1));
    }
  }
  // The marker's band goes under the bars: a recording of a few seconds is a
  // bar of a few pixels at a whole day's zoom, exactly where the marker is.
  if (marker_) {
    QColor band = marker_color_;
    band.setAlpha(60);
    p.fillRect(QRect(XOf(*marker_, l) - kMarkerLeft, tl.top(), kMarkerWidth, tl.height()), band);
  }
  p.setPen(Qt::NoPen);
  const int inset = std::max(1, row_h / 6);
  for (const Segment& s : segments_) {
    if (!Overlaps(s, view_start_, view_start_ + span)) continue;
    const int x0 = XOf(std::max(s.start, view_start_), l);
    const int x1 = std::max(XOf(std::min(s.end(), view_start_ + span), l), x0 + kMinimumBar);
    p.setBrush(BarColor(s.type_mask));
    const uint32_t channels = s.channel_mask & kChannelBits;
    if (channels == 0) {
      const QRect first = RowRect(0, rows, l), last = RowRect(rows - 1, rows, l);
      p.drawRect(QRect(QPoint(x0, first.top() + inset), QPoint(x1 - 1, last.bottom() - inset)));
      continue;
    }
    for (int c = 0; c < rows; ++c) {
      if (!(channels & (1u << c))) continue;
      const QRect row = RowRect(c, rows, l);
      p.drawRect(QRect(QPoint(x0, row.top() + inset), QPoint(x1 - 1, row.bottom() - inset)));
    }
  }

  // Play marker: 25 pixels wide, its left edge 12 pixels left of the position.
  if (marker_) {
    const int x = XOf(*marker_, l);
    p.setPen(QPen(marker_color_, 1));
    p.drawLine(x, zs.top() + zs.height() / 2, x, tl.bottom());
    p.setPen(Qt::NoPen);
    p.setBrush(marker_color_);
    const int t = std::max(3, zs.height() / 6);
    const QPoint tri[3] = {QPoint(x - t, bottom - t * 2), QPoint(x + t, bottom - t * 2), QPoint(x, bottom)};
    p.drawPolygon(tri, 3);
    const int64_t of_day = *marker_ - FloorDiv(*marker_, 86400) * 86400;
    p.setPen(marker_color_);
    p.setFont(small);
    p.drawText(l.play_time, Qt::AlignCenter,
               QString::asprintf("%02d:%02d:%02d", static_cast<int>(of_day / 3600), static_cast<int>(of_day / 60 % 60),
                                 static_cast<int>(of_day % 60)));
  }
}

void CDVRCalendarCtrl::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  const QPoint pos = event->position().toPoint();
  const Area area = areaAt(pos);
  press_in_time_line_ = area == Area::kTimeLine;
  const Layout l = ComputeLayout();
  switch (area) {
    case Area::kPrevYear:
      if (year_ <= lower_.year) return;
      --year_;
      break;
    case Area::kNextYear:
      if (year_ >= upper_.year) return;
      ++year_;
      break;
    case Area::kNextMonth: {
      // The month turns within the year: December goes to January of the same year.
      const YearMonth next{year_, month_ % 12 + 1};
      if ((year_ == upper_.year && month_ == upper_.month) || Before(next, lower_) || Before(upper_, next)) return;
      month_ = next.month;
      break;
    }
    case Area::kPrevMonth: {
      const YearMonth previous{year_, month_ == 1 ? 12 : month_ - 1};
      if ((year_ == lower_.year && month_ == lower_.month) || Before(previous, lower_) || Before(upper_, previous))
        return;
      month_ = previous.month;
      break;
    }
    case Area::kDayStrip: {
      const int days = DaysInMonth(year_, month_);
      day_ = std::clamp((pos.x() - l.day_strip.left()) * days / std::max(l.day_strip.width(), 1) + 1, 1, days);
      break;
    }
    case Area::kZoomStrip:
      previous_block_ = block_;
      zoom_ = (zoom_ + 1) % 3;
      block_ = std::clamp((pos.x() - l.zoom_strip.left()) * kBlocks / std::max(l.zoom_strip.width(), 1), 0,
                          kBlocks - 1);
      UpdateCursor(pos);
      break;
    default:
      return;
  }
  ClampDate();
  UpdateViewStart();
  MoveMarker(true);
  update();
}

void CDVRCalendarCtrl::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  const bool pressed_here = press_in_time_line_;
  press_in_time_line_ = false;
  const QPoint pos = event->position().toPoint();
  if (!pressed_here || areaAt(pos) != Area::kTimeLine) return;
  const int64_t t = TimeAt(pos.x());
  const auto hit = std::find_if(segments_.begin(), segments_.end(),
                                [t](const Segment& s) { return s.start <= t && t <= s.end(); });
  if (hit == segments_.end() || !owner_) return;
  owner_->Post(platform::msg::kPlayRowAt, reinterpret_cast<platform::MsgParam>(hit->row),
               static_cast<platform::MsgParam>(t - hit->start));
}

void CDVRCalendarCtrl::UpdateCursor(const QPoint& pos) {
  if (areaAt(pos) == Area::kZoomStrip)
    setCursor(zoom_ == 2 ? zoom_out_ : zoom_in_);
  else
    unsetCursor();
}

void CDVRCalendarCtrl::mouseMoveEvent(QMouseEvent* event) { UpdateCursor(event->position().toPoint()); }

void CDVRCalendarCtrl::leaveEvent(QEvent*) { unsetCursor(); }

QString CDVRCalendarCtrl::ToolTipFor(Area area) const {
  const bool zh = language_ == Language::kChinese;
  switch (area) {
    case Area::kPrevYear: return zh ? QStringLiteral("上一年") : QStringLiteral("Previous year");
    case Area::kNextYear: return zh ? QStringLiteral("下一年") : QStringLiteral("Next year");
    case Area::kPrevMonth: return zh ? QStringLiteral("上个月") : QStringLiteral("Previous month");
    case Area::kNextMonth: return zh ? QStringLiteral("下个月") : QStringLiteral("Next month");
    case Area::kZoomStrip:
      if (zoom_ == 2) return zh ? QStringLiteral("显示全天") : QStringLiteral("Show the whole day");
      return zh ? QStringLiteral("放大") : QStringLiteral("Zoom in");
    default: return {};
  }
}

bool CDVRCalendarCtrl::event(QEvent* event) {
  if (event->type() == QEvent::ToolTip) {
    auto* help = static_cast<QHelpEvent*>(event);
    const Area area = areaAt(help->pos());
    QString text = ToolTipFor(area);
    if (area == Area::kTimeLine) {
      const int64_t t = TimeAt(help->pos().x());
      const int64_t of_day = t - FloorDiv(t, 86400) * 86400;
      text = QString::asprintf("%02d:%02d:%02d", static_cast<int>(of_day / 3600), static_cast<int>(of_day / 60 % 60),
                               static_cast<int>(of_day % 60));
    }
    if (text.isEmpty()) {
      QToolTip::hideText();
      event->ignore();
    } else {
      QToolTip::showText(help->globalPos(), text, this);
    }
    return true;
  }
  return QWidget::event(event);
}

}  // namespace controls
