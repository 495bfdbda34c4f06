#pragma once
// The recording calendar of the bottom panel: for one day, when recordings
// exist, as bars on a time line with a row per channel. Arrows pick the year
// and the month, the day strip the day; the zoom strip narrows the time line
// from the whole day to two hours and to twelve minutes and back. A click on a
// bar asks the owner to play that recording's group from the moment clicked
// (kPlayRowAt: the row record and the offset in seconds). A marker follows
// the play position.
//
// Layout over a grid of 40 columns and 6 rows: the first row holds the year
// and month with their arrows (columns 0 to 8) and the day strip (8 to 40);
// the second the play time (0 to 4) and the zoom strip (4 to 40), its ticks
// along its bottom; the last four the channel rows, labels in columns 0 to 4
// and the time line in 4 to 40. The time line's twelve blocks of three columns
// are the zoom strip's blocks.
//
// Times are seconds, the file name's time counted as UTC, as in the list.
// Threads: the window's thread only.
#include <QColor>
#include <QCursor>
#include <QRect>
#include <QWidget>
#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "platform/MessageSink.h"

namespace controls {

class CDVRCalendarCtrl : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kMaxChannels = 12;
  static constexpr int kMinRows = 4;  // CH-01 .. CH-04 are always there
  static constexpr int kBlocks = 12;
  static constexpr int64_t kZoomSpan[3] = {86400, 7200, 720};
  // Play marker: redrawn when the position moved this far (seconds) at zoom 0, 1, 2.
  static constexpr int64_t kMarkerStep[3] = {301, 31, 0};
  static constexpr int kMarkerWidth = 25;
  static constexpr int kMarkerLeft = 12;  // the marker's left edge, left of the position
  // Wide enough to show beside the marker's 1-pixel line.
  static constexpr int kMinimumBar = 4;

  struct Segment {
    int64_t start = 0;         // seconds
    int64_t duration = 0;      // seconds; 0 or less: unknown (a bar of the least width)
    uint32_t channel_mask = 0; // bit i = channel i; none of the 12 channels: the bar spans every row
    uint32_t type_mask = 0;    // manual, timing, motion, alarm bytes, most significant first
    const void* row = nullptr; // the list's row record, handed back with kPlayRowAt
    int64_t end() const { return start + (duration > 0 ? duration : 0); }
  };

  enum class Area { kNone, kPrevYear, kPrevMonth, kDate, kNextMonth, kNextYear, kDayStrip, kPlayTime, kZoomStrip,
                    kTimeLine };
  enum class Language { kEnglish, kChinese };

  struct YearMonth {
    int year = 0, month = 0;
    friend bool operator==(const YearMonth&, const YearMonth&) = default;
  };

  // Starts on the current date.
  explicit CDVRCalendarCtrl(QWidget* parent = nullptr);

  // Gets kPlayRowAt when a bar is clicked.
  void SetOwner(platform::MessageSink* owner) { owner_ = owner; }
  // Prepares for `count` segments (the list's rows): the segments and the
  // bounds go, the added count restarts.
  void SetCapacity(int count);
  // 0 when `count` segments are already there, else 1. The first sets the
  // shown day and the lower bounds; the last the upper bounds.
  int AddSegment(int64_t start, int64_t duration, uint32_t channel_mask, uint32_t type_mask, const void* row);
  void Clear();
  // The open file's start (seconds); the play position is that plus the offset.
  void SetFileStartTime(int64_t seconds);
  void SetPlayPosition(int64_t offset_seconds);
  void SetBackgroundColor(const QColor& color);
  // Grid and ticks, texts, the play marker.
  void SetPenColors(const QColor& grid, const QColor& text, const QColor& marker);
  void SetLanguage(Language language) { language_ = language; }
  // Shows a day (kept within the bounds).
  void SetDate(int year, int month, int day);

  // The state the painting and the mouse use.
  int year() const { return year_; }
  int month() const { return month_; }
  int day() const { return day_; }
  YearMonth lowerBound() const { return lower_; }
  YearMonth upperBound() const { return upper_; }
  int zoomLevel() const { return zoom_; }
  int blockIndex() const { return block_; }
  int64_t viewStart() const { return view_start_; }
  int64_t viewSpan() const { return kZoomSpan[zoom_]; }
  const std::vector<Segment>& segments() const { return segments_; }
  int expectedCount() const { return expected_; }
  // The play position the marker shows; none while it is outside the view or unknown.
  std::optional<int64_t> markerPosition() const { return marker_; }
  // Channel rows of the shown day: one per channel up to the highest channel
  // recorded that day, at least kMinRows.
  int channelRows() const;
  // Days (1 .. 31) of the shown month that hold a recording, bit d - 1.
  uint32_t daysWithRecordings() const;
  QRect areaRect(Area area) const;
  QRect channelRowRect(int row) const;
  Area areaAt(const QPoint& pos) const;
  // The time under x in the time line.
  int64_t TimeAt(int x) const;
  static QColor BarColor(uint32_t type_mask);
  static int DaysInMonth(int year, int month);
  // Seconds of 00:00 on a date, and the date of a time (UTC).
  static int64_t DayStart(int year, int month, int day);
  static void DateOf(int64_t seconds, int* year, int* month, int* day);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void leaveEvent(QEvent* event) override;
  bool event(QEvent* event) override;

 private:
  struct Layout {
    QRect prev_year, prev_month, date, next_month, next_year, day_strip, play_time, zoom_strip, labels, time_line;
  };
  Layout ComputeLayout() const;
  static QRect RowRect(int row, int rows, const Layout& layout);
  void ResetBounds();
  void ClampDate();
  void UpdateViewStart();
  void MoveMarker(bool force);
  int XOf(int64_t t, const Layout& layout) const;
  void UpdateCursor(const QPoint& pos);
  QString ToolTipFor(Area area) const;

  platform::MessageSink* owner_ = nullptr;
  std::vector<Segment> segments_;
  int expected_ = 0;
  int64_t min_start_ = 0, last_second_ = 0;  // of the segments added

  int year_ = 1981, month_ = 1, day_ = 1;
  YearMonth lower_, upper_;
  int zoom_ = 0;
  int block_ = 0, previous_block_ = 0;
  int64_t view_start_ = 0;

  std::optional<int64_t> file_start_;
  int64_t offset_ = 0;
  std::optional<int64_t> marker_;  // the position last drawn

  QColor background_{0x18, 0x40, 0x44};
  QColor grid_{0x5A, 0x8C, 0x8C};
  QColor text_{0xE8, 0xE8, 0xE8};
  QColor marker_color_{0xFF, 0xD2, 0x00};
  Language language_ = Language::kEnglish;
  QCursor zoom_in_, zoom_out_;
  bool press_in_time_line_ = false;
};

}  // namespace controls
