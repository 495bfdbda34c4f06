// The bottom panel's two controls, painted offscreen: the G-sensor scope (its
// ring, legend, units kept in "WaveConfig", the plot's scrolling and clipping,
// tool tip, double click) and the recording calendar (bounds, month and day
// navigation, zoom, play marker, click-to-play, one row per channel).
#include <QDateTime>
#include <QImage>
#include <QTemporaryDir>
#include <QtTest>
#include <vector>

#include "app/AppConfig.h"
#include "controls/CDVRCalendarCtrl.h"
#include "controls/COScopeCtrl.h"
#include "platform/MessageSink.h"

using controls::CDVRCalendarCtrl;
using controls::COScopeCtrl;

namespace {

struct RecordingSink : platform::MessageSink {
  struct Message {
    uint32_t message;
    platform::MsgParam first, second;
  };
  void Post(uint32_t message, platform::MsgParam first, platform::MsgParam second) override {
    posted.push_back({message, first, second});
  }
  platform::MsgParam Send(uint32_t message, platform::MsgParam first, platform::MsgParam second) override {
    posted.push_back({message, first, second});
    return 0;
  }
  std::vector<Message> posted;
};

bool Is(const QImage& image, int x, int y, const QColor& colour) {
  return (image.pixel(x, y) & 0xFFFFFF) == (colour.rgb() & 0xFFFFFF);
}

int CountPixels(const QImage& image, const QRect& area, const QColor& colour) {
  int n = 0;
  for (int y = area.top(); y <= area.bottom(); ++y)
    for (int x = area.left(); x <= area.right(); ++x) n += Is(image, x, y, colour);
  return n;
}

// Whether `colour` appears in column x within two pixels of row y.
bool NearRow(const QImage& image, int x, int y, const QColor& colour) {
  for (int dy = -2; dy <= 2; ++dy)
    if (y + dy >= 0 && y + dy < image.height() && Is(image, x, y + dy, colour)) return true;
  return false;
}

// Runs of `colour` down column x between rows top and bottom.
int RunsDown(const QImage& image, int x, int top, int bottom, const QColor& colour) {
  int runs = 0;
  bool in = false;
  for (int y = top; y <= bottom; ++y) {
    const bool here = Is(image, x, y, colour);
    if (here && !in) ++runs;
    in = here;
  }
  return runs;
}

int64_t Utc(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
  return QDateTime(QDate(y, mo, d), QTime(h, mi, s), QTimeZone::utc()).toSecsSinceEpoch();
}

// The panel's look: range -2 .. 2 with one decimal, a white X trace alone.
void PanelLook(COScopeCtrl& scope) {
  scope.SetRange(-2.0, 2.0, 1);
  scope.SetBackgroundColor(QColor(0x18, 0x40, 0x44));
  scope.SetGridColor(QColor(0xC0, 0xC0, 0xFF));
  scope.SetTraceColors(Qt::white, Qt::red, Qt::green);
  scope.SetAxisHidden(COScopeCtrl::kAxisY, true);
  scope.SetAxisHidden(COScopeCtrl::kAxisZ, true);
}

// The time line's x of a moment in the calendar's view.
int XAt(const CDVRCalendarCtrl& calendar, int64_t t) {
  const QRect line = calendar.areaRect(CDVRCalendarCtrl::Area::kTimeLine);
  return line.left() + static_cast<int>((t - calendar.viewStart()) * line.width() / calendar.viewSpan());
}

// A click in the zoom strip's block.
void ClickBlock(CDVRCalendarCtrl& calendar, int block) {
  const QRect strip = calendar.areaRect(CDVRCalendarCtrl::Area::kZoomStrip);
  QTest::mouseClick(&calendar, Qt::LeftButton, {},
                    QPoint(strip.left() + (2 * block + 1) * strip.width() / 24, strip.center().y()));
}

void Click(CDVRCalendarCtrl& calendar, CDVRCalendarCtrl::Area area) {
  QTest::mouseClick(&calendar, Qt::LeftButton, {}, calendar.areaRect(area).center());
}

}  // namespace

class ViewsTest : public QObject {
  Q_OBJECT

 private slots:
  // ---- the G-sensor scope ----

  void theLegendReadsTheValuesInTheChosenUnits() {
    COScopeCtrl scope;
    scope.AddSample(1000, 0.0, -0.5, 1.25, 20.0, 100.0);
    QCOMPARE(scope.legendTexts(),
             QStringList({"X:  0.000", "Y: -0.500", "Z:  1.250", "100.0 ", "km/h", "20.0 ", "C"}));
    scope.SetUnits(COScopeCtrl::kMph, COScopeCtrl::kFahrenheit);
    QCOMPARE(scope.legendTexts().mid(3), QStringList({"62.1 ", "mph", "68.0 ", "F"}));
    // A negative zero is not negative; a small negative value is.
    scope.AddSample(2000, -0.0, -0.0001, -2.0, -40.0, 0.0);
    QCOMPARE(scope.legendTexts(),
             QStringList({"X:  0.000", "Y: -0.000", "Z: -2.000", "0.0 ", "mph", "-40.0 ", "F"}));
  }

  void legendClicksToggleTracesAndUnitsKeptInWaveConfig() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const app::AppConfig config(std::filesystem::path(dir.path().toStdString()) / "setting.ini");
    QVERIFY(config.WriteInt("WaveConfig", "Speed", 1));
    COScopeCtrl scope(&config);
    QCOMPARE(scope.speedUnit(), int(COScopeCtrl::kMph));
    QCOMPARE(scope.temperatureUnit(), int(COScopeCtrl::kCelsius));
    scope.resize(600, 160);
    scope.show();
    QVERIFY(QTest::qWaitForWindowExposed(&scope));
    PanelLook(scope);
    scope.SetAxisHidden(COScopeCtrl::kAxisY, false);
    scope.SetAxisHidden(COScopeCtrl::kAxisZ, false);
    for (int i = 0; i < 20; ++i) scope.AddSample(i * 100, 0.5, -1.0, 0, 25, 50);

    const QRect plot = scope.plotRect();
    const int legend_y = plot.bottom() + 10;
    auto click = [&](int from_left) {
      QTest::mouseClick(&scope, Qt::LeftButton, {}, QPoint(plot.left() + from_left, legend_y));
    };
    click(250);  // speed read-out
    QCOMPARE(scope.speedUnit(), int(COScopeCtrl::kKmh));
    QCOMPARE(config.ReadInt("WaveConfig", "Speed", -1), 0);
    click(330);  // temperature read-out
    QCOMPARE(scope.temperatureUnit(), int(COScopeCtrl::kFahrenheit));
    QCOMPARE(config.ReadInt("WaveConfig", "Temperature", -1), 1);

    // On the Y legend's text (80 .. 140 from the plot's left), not on Z's.
    QVERIFY(CountPixels(scope.grab().toImage(), plot, Qt::red) > 0);
    click(120);
    QVERIFY(scope.axisHidden(COScopeCtrl::kAxisY));
    QVERIFY(!scope.axisHidden(COScopeCtrl::kAxisZ));
    QCOMPARE(CountPixels(scope.grab().toImage(), plot, Qt::red), 0);
    QVERIFY(CountPixels(scope.grab().toImage(), plot, Qt::white) > 0);

    // Hovering shows what a click would do: a shown axis greys, a hidden one lights.
    const QColor grey(44, 44, 44);
    QCOMPARE(scope.legendColor(COScopeCtrl::kLegendY), grey);
    QTest::mouseMove(&scope, QPoint(plot.left() + 100, legend_y));
    QCOMPARE(scope.legendColor(COScopeCtrl::kLegendY), QColor(Qt::red));
    QTest::mouseMove(&scope, QPoint(plot.left() + 20, legend_y));
    QCOMPARE(scope.legendColor(COScopeCtrl::kLegendX), grey);
    QCOMPARE(scope.legendColor(COScopeCtrl::kLegendY), grey);

    const COScopeCtrl again(&config);
    QCOMPARE(again.speedUnit(), int(COScopeCtrl::kKmh));
    QCOMPARE(again.temperatureUnit(), int(COScopeCtrl::kFahrenheit));
  }

  void samplesGoingBackInTimeClearThePlot() {
    COScopeCtrl scope;
    scope.resize(400, 160);
    PanelLook(scope);
    for (int i = 1; i <= 5; ++i) scope.AddSample(i * 1000, 1.0, 0, 0, 0, 0);
    const QRect plot = scope.plotRect();
    const int oldest_x = plot.right() - 2 - 4 * 4;
    QVERIFY(NearRow(scope.grab().toImage(), oldest_x, *scope.YFor(1.0), Qt::white));

    scope.AddSample(2500, -1.0, 0, 0, 0, 0);
    QCOMPARE(scope.sampleCount(), 1);
    QCOMPARE(scope.sampleBack(0)->time_ms, int64_t{2500});
    QVERIFY(!scope.sampleBack(1));
    const QImage after = scope.grab().toImage();
    QCOMPARE(CountPixels(after, QRect(plot.left() + 1, plot.top(), plot.width() - 8, plot.height()), Qt::white), 0);
    QVERIFY(NearRow(after, plot.right() - 2, *scope.YFor(-1.0), Qt::white));

    scope.Clear();
    QCOMPARE(scope.sampleCount(), 0);
    QCOMPARE(scope.currentIndex(), -1);
    QCOMPARE(CountPixels(scope.grab().toImage(), plot.adjusted(1, 0, -1, 0), Qt::white), 0);
  }

  void theRingKeeps22501SamplesAndThe22502ndOverwritesTheFirst() {
    COScopeCtrl scope;
    for (int i = 0; i < COScopeCtrl::kRingSize; ++i) scope.AddSample(i, 0, 0, 0, 0, 0);
    QCOMPARE(scope.currentIndex(), COScopeCtrl::kRingSize - 1);
    QCOMPARE(scope.slot(0).time_ms, int64_t{0});
    scope.AddSample(COScopeCtrl::kRingSize, 0, 0, 0, 0, 0);
    QCOMPARE(scope.sampleCount(), COScopeCtrl::kRingSize);
    QCOMPARE(scope.currentIndex(), 0);
    QCOMPARE(scope.slot(0).time_ms, int64_t{COScopeCtrl::kRingSize});
    QCOMPARE(scope.sampleBack(COScopeCtrl::kRingSize - 1)->time_ms, int64_t{1});
    QVERIFY(!scope.sampleBack(COScopeCtrl::kRingSize));
  }

  void thePlotScrollsFourPixelsASampleAndKeepsItsLinesInside() {
    COScopeCtrl scope;
    scope.resize(400, 160);
    PanelLook(scope);
    // Plot left: (decimals + 4 + digits) * 6.
    QCOMPARE(scope.plotRect().left(), 30);
    scope.SetRange(-20, 20, 1);
    QCOMPARE(scope.plotRect().left(), 36);
    scope.SetRange(3, 3, 1);  // no range: kept
    scope.SetRange(-2, 2, 1);
    QCOMPARE(scope.plotRect().left(), 30);

    const QRect plot = scope.plotRect();
    const int newest = plot.right() - 2;
    scope.AddSample(0, 0.0, 0, 0, 0, 0);
    scope.AddSample(1, 1.0, 0, 0, 0, 0);
    QCOMPARE(*scope.YFor(1.0), plot.bottom() - (plot.bottom() - plot.top()) * 3 / 4);
    QImage shot = scope.grab().toImage();
    QVERIFY(NearRow(shot, newest, *scope.YFor(1.0), Qt::white));
    QVERIFY(!NearRow(shot, newest - 4, *scope.YFor(1.0), Qt::white));
    scope.AddSample(2, 0.0, 0, 0, 0, 0);
    shot = scope.grab().toImage();
    QVERIFY(NearRow(shot, newest - 4, *scope.YFor(1.0), Qt::white));
    QVERIFY(NearRow(shot, newest, *scope.YFor(0.0), Qt::white));

    // Above the upper bound the line runs into the plot's top and no further;
    // below the lower bound it stops at the bottom, above the legend.
    scope.AddSample(3, 5.0, 0, 0, 0, 0);
    scope.AddSample(4, -7.0, 0, 0, 0, 0);
    shot = scope.grab().toImage();
    QVERIFY(CountPixels(shot, QRect(newest - 8, plot.top(), 10, 1), Qt::white) > 0);
    QVERIFY(CountPixels(shot, QRect(newest - 4, plot.bottom(), 6, 1), Qt::white) > 0);
    const QRect above(plot.left() + 1, 0, plot.width() - 2, plot.top());
    const QRect below(plot.left() + 1, plot.bottom() + 1, plot.width() - 2, 3);
    QCOMPARE(CountPixels(shot, above, Qt::white), 0);
    QCOMPARE(CountPixels(shot, below, Qt::white), 0);
    // A value that is not a number leaves a gap and no garbage.
    scope.AddSample(5, std::nan(""), 0, 0, 0, 0);
    QVERIFY(!scope.YFor(std::nan("")));
    shot = scope.grab().toImage();
    QCOMPARE(CountPixels(shot, QRect(newest, plot.top(), 2, plot.height()), Qt::white), 0);
  }

  void theToolTipNamesTheSampleUnderThePointer() {
    COScopeCtrl scope;
    scope.resize(400, 160);
    PanelLook(scope);
    const int64_t base = Utc(2021, 3, 10, 8, 0, 1) * 1000;
    scope.AddSample(base + 250, 0.1, 0.2, 0.3, 0, 0);
    scope.AddSample(base + 1250, -0.1, -0.2, -0.3, 0, 0);
    scope.AddSample(base + 2005, 1.5, 0, -1, 0, 0);
    const QRect plot = scope.plotRect();
    const int y = plot.center().y();
    QCOMPARE(scope.toolTipTextAt(QPoint(plot.right() - 2, y)),
             QString("08:00:03:5 x= 1.500, y = 0.000, z = -1.000"));
    QCOMPARE(scope.toolTipTextAt(QPoint(plot.right() - 6, y)),
             QString("08:00:02:250 x= -0.100, y = -0.200, z = -0.300"));
    QCOMPARE(scope.toolTipTextAt(QPoint(plot.right() - 10, y)),
             QString("08:00:01:250 x= 0.100, y = 0.200, z = 0.300"));
    QVERIFY(scope.toolTipTextAt(QPoint(plot.right() - 14, y)).isEmpty());  // nothing stored that far back
    QVERIFY(scope.toolTipTextAt(QPoint(plot.right() - 2, plot.bottom() + 10)).isEmpty());
  }

  void aDoubleClickInThePlotTellsTheOwner() {
    RecordingSink owner;
    COScopeCtrl scope;
    scope.SetOwner(&owner);
    scope.resize(400, 160);
    scope.show();
    QVERIFY(QTest::qWaitForWindowExposed(&scope));
    QTest::mouseDClick(&scope, Qt::LeftButton, {}, QPoint(scope.width() - 4, 2));  // outside the plot
    QVERIFY(owner.posted.empty());
    QTest::mouseDClick(&scope, Qt::LeftButton, {}, scope.plotRect().center());
    QCOMPARE(owner.posted.size(), size_t{1});
    QCOMPARE(owner.posted[0].message, platform::msg::kWaveHeight);
    QCOMPARE(owner.posted[0].first, platform::MsgParam{0});
  }

  // ---- the recording calendar ----

  void monthNavigationStaysWithinTheRecordings() {
    CDVRCalendarCtrl calendar;
    calendar.resize(1208, 180);
    calendar.SetCapacity(3);
    QCOMPARE(calendar.AddSegment(Utc(2021, 3, 10, 8), 600, 1, 0x00010000, nullptr), 1);
    QCOMPARE(calendar.year(), 2021);
    QCOMPARE(calendar.month(), 3);
    QCOMPARE(calendar.day(), 10);
    QCOMPARE(calendar.AddSegment(Utc(2021, 4, 2, 12), 600, 1, 0x00010000, nullptr), 1);
    // Ends at midnight: nothing of it in June.
    QCOMPARE(calendar.AddSegment(Utc(2021, 5, 31, 23, 30), 1800, 1, 0x00010000, nullptr), 1);
    QCOMPARE(calendar.AddSegment(Utc(2021, 5, 21, 23), 1800, 1, 0x00010000, nullptr), 0);  // all there
    QCOMPARE(calendar.lowerBound(), (CDVRCalendarCtrl::YearMonth{2021, 3}));
    QCOMPARE(calendar.upperBound(), (CDVRCalendarCtrl::YearMonth{2021, 5}));
    QCOMPARE(calendar.daysWithRecordings(), 1u << 9);

    using Area = CDVRCalendarCtrl::Area;
    Click(calendar, Area::kPrevMonth);
    QCOMPARE(calendar.month(), 3);
    Click(calendar, Area::kNextMonth);
    QCOMPARE(calendar.month(), 4);
    QCOMPARE(calendar.daysWithRecordings(), 1u << 1);
    Click(calendar, Area::kNextMonth);
    QCOMPARE(calendar.month(), 5);
    QCOMPARE(calendar.daysWithRecordings(), 1u << 30);
    Click(calendar, Area::kNextMonth);
    QCOMPARE(calendar.month(), 5);
    Click(calendar, Area::kNextYear);
    Click(calendar, Area::kPrevYear);
    QCOMPARE(calendar.year(), 2021);
    QCOMPARE(calendar.month(), 5);
    Click(calendar, Area::kPrevMonth);
    QCOMPARE(calendar.month(), 4);

    // A new list starts over.
    calendar.SetCapacity(1);
    QCOMPARE(calendar.AddSegment(Utc(2022, 7, 1), 60, 1, 0, nullptr), 1);
    QCOMPARE(calendar.lowerBound(), (CDVRCalendarCtrl::YearMonth{2022, 7}));
    QCOMPARE(calendar.upperBound(), (CDVRCalendarCtrl::YearMonth{2022, 7}));
    QCOMPARE(calendar.segments().size(), size_t{1});
  }

  void theMonthTurnsWithinTheYear() {
    using Area = CDVRCalendarCtrl::Area;
    CDVRCalendarCtrl calendar;
    calendar.resize(1208, 180);
    calendar.SetCapacity(2);
    calendar.AddSegment(Utc(2020, 1, 5, 8), 600, 1, 0, nullptr);
    calendar.AddSegment(Utc(2022, 1, 20, 8), 600, 1, 0, nullptr);
    calendar.SetDate(2021, 12, 31);
    Click(calendar, Area::kNextMonth);
    QCOMPARE(calendar.year(), 2021);
    QCOMPARE(calendar.month(), 1);
    QCOMPARE(calendar.day(), 31);
    Click(calendar, Area::kPrevMonth);
    QCOMPARE(calendar.month(), 12);
    QCOMPARE(calendar.year(), 2021);
    // A day the new month lacks becomes its last.
    calendar.SetDate(2021, 1, 31);
    Click(calendar, Area::kNextMonth);
    QCOMPARE(calendar.month(), 2);
    QCOMPARE(calendar.day(), 28);
    // The day strip picks the day under the pointer.
    const QRect strip = calendar.areaRect(Area::kDayStrip);
    QTest::mouseClick(&calendar, Qt::LeftButton, {}, QPoint(strip.left() + strip.width() * 39 / 56, strip.center().y()));
    QCOMPARE(calendar.day(), 20);

    // Over two years the turn of the month does not leave the recordings,
    // nor does a change of year.
    calendar.SetCapacity(2);
    calendar.AddSegment(Utc(2020, 11, 3), 600, 1, 0, nullptr);
    calendar.AddSegment(Utc(2021, 2, 3), 600, 1, 0, nullptr);
    calendar.SetDate(2020, 12, 1);
    Click(calendar, Area::kNextMonth);
    QCOMPARE(calendar.month(), 12);
    Click(calendar, Area::kNextYear);
    QCOMPARE(calendar.year(), 2021);
    QCOMPARE(calendar.month(), 2);
  }

  void theZoomStripNarrowsTheDayAndComesBack() {
    CDVRCalendarCtrl calendar;
    calendar.resize(1208, 180);
    calendar.SetCapacity(1);
    calendar.AddSegment(Utc(2021, 3, 10, 8), 600, 1, 0, nullptr);
    const int64_t day = Utc(2021, 3, 10);
    QCOMPARE(calendar.viewStart(), day);
    QCOMPARE(calendar.viewSpan(), int64_t{86400});
    ClickBlock(calendar, 4);
    QCOMPARE(calendar.zoomLevel(), 1);
    QCOMPARE(calendar.viewStart(), day + 8 * 3600);
    QCOMPARE(calendar.viewSpan(), int64_t{7200});
    ClickBlock(calendar, 9);
    QCOMPARE(calendar.zoomLevel(), 2);
    QCOMPARE(calendar.viewStart(), day + 9 * 3600 + 30 * 60);
    QCOMPARE(calendar.viewSpan(), int64_t{720});
    ClickBlock(calendar, 2);
    QCOMPARE(calendar.zoomLevel(), 0);
    QCOMPARE(calendar.viewStart(), day);
  }

  void thePlayMarkerMovesEveryFiveMinutesAtTheWholeDay() {
    CDVRCalendarCtrl calendar;
    calendar.resize(1208, 180);
    calendar.SetCapacity(1);
    calendar.AddSegment(Utc(2021, 3, 10, 8), 3600, 1, 0, nullptr);
    const int64_t start = Utc(2021, 3, 10, 8);
    QVERIFY(!calendar.markerPosition());
    calendar.SetFileStartTime(start);
    calendar.SetPlayPosition(0);
    QCOMPARE(calendar.markerPosition(), std::optional<int64_t>(start));
    for (const int64_t offset : {1, 120, 300}) {
      calendar.SetPlayPosition(offset);
      QCOMPARE(calendar.markerPosition(), std::optional<int64_t>(start));
    }
    calendar.SetPlayPosition(301);
    QCOMPARE(calendar.markerPosition(), std::optional<int64_t>(start + 301));
    calendar.SetPlayPosition(400);
    QCOMPARE(calendar.markerPosition(), std::optional<int64_t>(start + 301));
    calendar.SetPlayPosition(50);  // backwards counts the same
    QCOMPARE(calendar.markerPosition(), std::optional<int64_t>(start + 301));
    calendar.SetPlayPosition(602);
    QCOMPARE(calendar.markerPosition(), std::optional<int64_t>(start + 602));

    // Two hours: every 31 seconds; the view's change puts the marker at once.
    calendar.SetPlayPosition(610);
    ClickBlock(calendar, 4);
    QCOMPARE(calendar.markerPosition(), std::optional<int64_t>(start + 610));
    calendar.SetPlayPosition(640);
    QCOMPARE(calendar.markerPosition(), std::optional<int64_t>(start + 610));
    calendar.SetPlayPosition(641);
    QCOMPARE(calendar.markerPosition(), std::optional<int64_t>(start + 641));
    // Twelve minutes (08:10 .. 08:22): every move; none outside the view.
    ClickBlock(calendar, 1);
    QCOMPARE(calendar.viewStart(), start + 600);
    calendar.SetPlayPosition(642);
    QCOMPARE(calendar.markerPosition(), std::optional<int64_t>(start + 642));
    calendar.SetPlayPosition(1320);
    QVERIFY(!calendar.markerPosition());
  }

  void aClickOnABarPlaysItsRowFromThatMoment() {
    RecordingSink owner;
    CDVRCalendarCtrl calendar;
    calendar.SetOwner(&owner);
    calendar.resize(1208, 180);
    calendar.show();
    QVERIFY(QTest::qWaitForWindowExposed(&calendar));
    const int row_a = 0, row_b = 0;  // stand-ins for the list's row records
    calendar.SetCapacity(2);
    calendar.AddSegment(Utc(2021, 3, 10, 8), 600, 1u << 0, 0x01000000, &row_a);
    calendar.AddSegment(Utc(2021, 3, 10, 9), 1200, 1u << 1, 0x000000FF, &row_b);

    const int row_y = calendar.channelRowRect(1).center().y();
    QTest::mouseClick(&calendar, Qt::LeftButton, {}, QPoint(XAt(calendar, Utc(2021, 3, 10, 8, 30)), row_y));
    QVERIFY(owner.posted.empty());

    const int x = XAt(calendar, Utc(2021, 3, 10, 9, 5));
    const QRect line = calendar.areaRect(CDVRCalendarCtrl::Area::kTimeLine);
    const int64_t t = Utc(2021, 3, 10) + int64_t{x - line.left()} * 86400 / line.width();
    QTest::mouseClick(&calendar, Qt::LeftButton, {}, QPoint(x, row_y));
    QCOMPARE(owner.posted.size(), size_t{1});
    QCOMPARE(owner.posted[0].message, platform::msg::kPlayRowAt);
    QCOMPARE(owner.posted[0].first, reinterpret_cast<platform::MsgParam>(&row_b));
    QCOMPARE(owner.posted[0].second, platform::MsgParam(t - Utc(2021, 3, 10, 9)));

    // Twelve minutes from 09:00: the second under the pointer.
    ClickBlock(calendar, 4);
    ClickBlock(calendar, 6);
    QCOMPARE(calendar.viewStart(), Utc(2021, 3, 10, 9));
    QTest::mouseClick(&calendar, Qt::LeftButton, {}, QPoint(XAt(calendar, Utc(2021, 3, 10, 9, 5)) + 1, row_y));
    QCOMPARE(owner.posted.size(), size_t{2});
    QCOMPARE(owner.posted[1].first, reinterpret_cast<platform::MsgParam>(&row_b));
    QCOMPARE(owner.posted[1].second, platform::MsgParam{300});
    // A press in the zoom strip that ends in the time line is no click on a bar.
    QTest::mousePress(&calendar, Qt::LeftButton, {}, calendar.areaRect(CDVRCalendarCtrl::Area::kZoomStrip).center());
    QTest::mouseRelease(&calendar, Qt::LeftButton, {}, QPoint(XAt(calendar, Utc(2021, 3, 10, 9, 5)), row_y));
    QCOMPARE(owner.posted.size(), size_t{2});
  }

  void aDayOnTwelveChannelsDrawsTwelveRows() {
    CDVRCalendarCtrl calendar;
    calendar.resize(1208, 180);
    const uint32_t timing = 0x00010000;
    const QColor bar = CDVRCalendarCtrl::BarColor(timing);
    calendar.SetCapacity(3);
    calendar.AddSegment(Utc(2021, 3, 10, 8), 3600, 0xFFF, timing, nullptr);       // twelve channels
    calendar.AddSegment(Utc(2021, 3, 11, 8), 3600, 0x5, timing, nullptr);         // CH-01 and CH-03
    calendar.AddSegment(Utc(2021, 3, 12, 8), 3600, 0, timing, nullptr);           // channel unknown
    const QRect line = calendar.areaRect(CDVRCalendarCtrl::Area::kTimeLine);
    auto runs = [&] {
      const int x = XAt(calendar, calendar.viewStart() + 8 * 3600 + 1800);
      return RunsDown(calendar.grab().toImage(), x, line.top(), line.bottom(), bar);
    };
    QCOMPARE(calendar.channelRows(), 12);
    QCOMPARE(runs(), 12);
    calendar.SetDate(2021, 3, 11);
    QCOMPARE(calendar.channelRows(), 4);
    QCOMPARE(runs(), 2);
    calendar.SetDate(2021, 3, 12);
    QCOMPARE(calendar.channelRows(), 4);
    QCOMPARE(runs(), 1);
    const QImage shot = calendar.grab().toImage();
    const int x = XAt(calendar, Utc(2021, 3, 12, 8, 30));
    QVERIFY(Is(shot, x, calendar.channelRowRect(0).center().y(), bar));
    QVERIFY(Is(shot, x, calendar.channelRowRect(3).center().y(), bar));
  }
};

QTEST_MAIN(ViewsTest)
#include "ViewsTest.moc"
