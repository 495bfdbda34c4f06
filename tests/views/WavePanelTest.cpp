// The bottom panel: sensor records from the readers become waveform samples
// on the window's thread; a seek or a step back in time starts the waveform
// again; a full ring drops and counts; the panel's buttons and keys ask the
// window what they should.
#include <QSignalSpy>
#include <QtTest>

#include "QVVReader/Amf0Writer.h"
#include "views/CWaveDlg.h"

namespace {

std::vector<uint8_t> GSensor(double x, double y, double z) {
  qvv::Amf0Writer amf;
  amf.String("GSensor");
  amf.BeginArray(5);
  amf.Field("x", x);
  amf.Field("y", y);
  amf.Field("z", z);
  amf.Field("temperature", 36.5);
  amf.Field("speed", 50.0);
  amf.EndArray();
  return amf.bytes();
}

std::vector<uint8_t> Gps() {
  qvv::Amf0Writer amf;
  amf.String("GPS");
  amf.BeginArray(1);
  amf.Field("lat", 22.5);
  amf.EndArray();
  return amf.bytes();
}

struct RecordedSink : platform::MessageSink {
  void Post(uint32_t message, platform::MsgParam first, platform::MsgParam) override { posted.push_back({message, first}); }
  platform::MsgParam Send(uint32_t, platform::MsgParam, platform::MsgParam) override { return 0; }
  std::vector<std::pair<uint32_t, platform::MsgParam>> posted;
};

}  // namespace

class WavePanelTest : public QObject {
  Q_OBJECT

 private slots:
  void recordsBecomeSamplesAndASeekStartsAgain() {
    RecordedSink sink;
    views::CWaveDlg panel(nullptr, &sink);
    panel.resize(1208, 160);
    for (int i = 0; i < 10; ++i) {
      const auto r = GSensor(0.1 * i, 0, 1);
      panel.PushRecord(r.data(), int(r.size()), 1000 + 100 * i);
    }
    const auto gps = Gps();
    panel.PushRecord(gps.data(), int(gps.size()), 2000);  // not a G-sensor record
    panel.Drain();
    QCOMPARE(panel.scope()->sampleCount(), 10);
    static const uint8_t kClear[] = "Clear";
    panel.PushRecord(kClear, 6, 0);
    const auto r = GSensor(0.5, 0, 1);
    panel.PushRecord(r.data(), int(r.size()), 3000);
    panel.Drain();
    QCOMPARE(panel.scope()->sampleCount(), 1);
    panel.PushRecord(r.data(), int(r.size()), 2500);  // play went back
    panel.Drain();
    QCOMPARE(panel.scope()->sampleCount(), 1);
    // A full ring (the window's thread did not come by) refuses, and counts.
    for (int i = 0; i < 31; ++i) panel.PushRecord(r.data(), int(r.size()), 4000 + i);
    QCOMPARE(panel.records_dropped(), 1);
    panel.Drain();
    QCOMPARE(panel.scope()->sampleCount(), 31);
  }

  void theButtonsAndKeysAskTheWindow() {
    RecordedSink sink;
    views::CWaveDlg panel(nullptr, &sink);
    panel.resize(1208, 200);
    panel.show();
    QTest::mouseClick(panel.button(views::CWaveDlg::kCalendarId), Qt::LeftButton);
    QCOMPARE(panel.mode(), views::CWaveDlg::kCalendar);
    QVERIFY(panel.calendar()->isVisible());
    QVERIFY(!panel.scope()->isVisible());
    QCOMPARE(sink.posted.back(), std::make_pair(platform::msg::kWaveHeight, platform::MsgParam{1}));
    QTest::mouseClick(panel.button(views::CWaveDlg::kGSensorId), Qt::LeftButton);
    QCOMPARE(panel.mode(), views::CWaveDlg::kWaveform);
    panel.setFocus();
    QTest::keyClick(&panel, Qt::Key_Space);
    QCOMPARE(sink.posted.back().first, platform::msg::kPlayPause);
    // The calendar gets the list's recordings.
    static const int row = 0;
    panel.FillCalendar({{1615795200, 600, 0xF, 0xFF000000, &row}});  // 2021-03-15
    QCOMPARE(int(panel.calendar()->segments().size()), 1);
    panel.SetPosition(5, 60);
    QCOMPARE(panel.position_bar()->text(), QString("00:00:05/00:01:00"));
  }
};

QTEST_MAIN(WavePanelTest)
#include "WavePanelTest.moc"
