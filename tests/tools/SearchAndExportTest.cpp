// The search panel's criteria, the cut points on the bottom panel and the
// clip save dialog, each on its own (offscreen).
#include <QDateTime>
#include <QTemporaryDir>
#include <QtTest>
#include <vector>

#include "app/AppConfig.h"
#include "playback/PlaybackControl.h"
#include "tools/CRecTpyeSearch.h"
#include "tools/CSaveVideoFileDlg.h"
#include "views/CWaveDlg.h"

namespace {

struct Posted {
  uint32_t message;
  platform::MsgParam first, second;
};

struct RecordingSink : platform::MessageSink {
  void Post(uint32_t message, platform::MsgParam first, platform::MsgParam second) override {
    posted.push_back({message, first, second});
  }
  platform::MsgParam Send(uint32_t message, platform::MsgParam, platform::MsgParam) override {
    return message == platform::msg::kSelectedChannel ? selected : 0;
  }
  int Count(uint32_t message) const {
    int n = 0;
    for (const Posted& p : posted) n += p.message == message;
    return n;
  }
  const Posted* Last(uint32_t message) const {
    for (auto it = posted.rbegin(); it != posted.rend(); ++it)
      if (it->message == message) return &*it;
    return nullptr;
  }
  std::vector<Posted> posted;
  int selected = 0;
};

using tools::CRecTpyeSearch;
using tools::CSaveVideoFileDlg;

}  // namespace

class SearchAndExportTest : public QObject {
  Q_OBJECT

 private slots:
  void theTypeMaskHasAByteForEachTickedType() {
    CRecTpyeSearch panel(nullptr);
    QCOMPARE(panel.GetCriteria().types, 0xFFFFFFFFu);
    for (int i = 0; i < 3; ++i) panel.typeButton(i)->setChecked(false);
    QCOMPARE(panel.GetCriteria().types, 0x000000FFu);  // alarm only
    // A mask's non-zero bytes tick their types: 0x00010000 is timing.
    panel.SetCriteria(0x00010000, 0, 0);
    QVERIFY(!panel.typeButton(0)->isChecked());
    QVERIFY(panel.typeButton(1)->isChecked());
    QVERIFY(!panel.typeButton(2)->isChecked());
    QVERIFY(!panel.typeButton(3)->isChecked());
    QCOMPARE(panel.GetCriteria().types, 0x00FF0000u);
  }

  void theDaysAreWholeAndATimeWithoutValueIsAnHourMinuteAndSecondBeforeMidnight() {
    CRecTpyeSearch panel(nullptr);
    const int64_t day = CRecTpyeSearch::SecondsOf(2021, 3, 15, 0, 0, 0);
    QCOMPARE(day, int64_t{1615766400});
    panel.SetCriteria(0xFF000000, day + 8 * 3600, day + 86400 * 2 + 600);
    CRecTpyeSearch::Criteria c = panel.GetCriteria();
    QCOMPARE(c.start, day);
    QCOMPARE(c.end, day + 2 * 86400 + 86399);
    panel.startTimeSet()->setChecked(false);
    c = panel.GetCriteria();
    QCOMPARE(c.start, day - 3661);
    // Fields carry over across months and years.
    QCOMPARE(CRecTpyeSearch::SecondsOf(2021, 1, 1, -1, -1, -1), CRecTpyeSearch::SecondsOf(2020, 12, 31, 22, 58, 59));
    QCOMPARE(CRecTpyeSearch::SecondsOf(2020, 13, 1, 0, 0, 0), CRecTpyeSearch::SecondsOf(2021, 1, 1, 0, 0, 0));
    QCOMPARE(CRecTpyeSearch::SecondsOf(1969, 12, 31, 23, 59, 59), int64_t{-1});
  }

  void allGivesNoPlateFilterAndAnyOtherItemItsText() {
    RecordingSink sink;
    CRecTpyeSearch panel(&sink);
    panel.AddPlate("ABC123");
    panel.AddPlate(QString::fromUtf8("粤B12345"));
    QCOMPARE(panel.plates()->count(), 3);
    QVERIFY(panel.GetCriteria().plate.empty());
    panel.plates()->setCurrentIndex(2);
    QCOMPARE(QString::fromStdString(panel.GetCriteria().plate), QString::fromUtf8("粤B12345"));
    // Reset: "All" alone again.
    panel.Reset();
    QCOMPARE(panel.plates()->count(), 1);
    QVERIFY(panel.GetCriteria().plate.empty());

    // Space plays or pauses, also on a focused type button (which it does not
    // toggle); Enter closes nothing; the buttons are commands 1031 and 1032.
    panel.show();
    panel.typeButton(0)->setFocus();
    QTest::keyClick(panel.typeButton(0), Qt::Key_Space);
    QCOMPARE(sink.Count(platform::msg::kPlayPause), 1);
    QVERIFY(panel.typeButton(0)->isChecked());
    QTest::keyClick(&panel, Qt::Key_Return);
    QVERIFY(panel.isVisible());
    QSignalSpy commands(&panel, &CRecTpyeSearch::command);
    QTest::mouseClick(panel.button(CRecTpyeSearch::kSearchId), Qt::LeftButton);
    QTest::mouseClick(panel.button(CRecTpyeSearch::kBackUpId), Qt::LeftButton);
    QCOMPARE(commands.size(), 2);
    QCOMPARE(commands[0][0].toInt(), 1031);
    QCOMPARE(commands[1][0].toInt(), 1032);
  }

  void theSaveDialogNamesOneFilePerTickedChannelAndKeepsItsChoice() {
    const QString name = "20240315080002_1000_02";
    CSaveVideoFileDlg::Options options;
    options.selected_window = false;
    options.channels = {false, true, false, true};
    QCOMPARE(CSaveVideoFileDlg::NameText(name, options),
             QString("\"20240315080002_1000_0202\" \"20240315080002_1000_0204\" "));
    options.channels = {false, false, true, false};
    QCOMPARE(CSaveVideoFileDlg::NameText("clip.avi", options), QString("clip03.avi"));
    options.channels = {};
    QCOMPARE(CSaveVideoFileDlg::NameText(name, options), QString());
    QCOMPARE(options.Pack(), 0);
    options.remember = true;
    options.channels = {true, false, false, true};
    QCOMPARE(options.Pack(), 1 | 4 | 32);

    QTemporaryDir dir;
    CSaveVideoFileDlg dialog(name, dir.path(), 0, nullptr);
    // Without a remembered choice: the selected pane alone.
    QVERIFY(dialog.selectedWindow()->isChecked());
    QCOMPARE(dialog.name_text(), name);
    QCOMPARE(dialog.OutputPaths(), std::vector<std::string>{(dir.path() + "/" + name + ".avi").toStdString()});
    dialog.channel(1)->click();
    dialog.channel(3)->click();
    QVERIFY(!dialog.selectedWindow()->isChecked());
    QCOMPARE(dialog.name_text(), "\"" + name + "02\" \"" + name + "04\" ");
    QCOMPARE(dialog.OutputPaths(), (std::vector<std::string>{(dir.path() + "/" + name + "02.avi").toStdString(),
                                                             (dir.path() + "/" + name + "04.avi").toStdString()}));
    // "Selected window" clears the channels and "Remember my choice".
    dialog.remember()->click();
    dialog.selectedWindow()->click();
    QVERIFY(!dialog.remember()->isChecked());
    QVERIFY(!dialog.channel(1)->isChecked());
    dialog.remember()->click();
    QCOMPARE(dialog.options_word(), 1 | 2);
    // The remembered word comes back whole; one without "remember" does not.
    CSaveVideoFileDlg again(name, dir.path(), 1 | 8 | 32, nullptr);
    QVERIFY(!again.selectedWindow()->isChecked());
    QVERIFY(again.channel(1)->isChecked() && again.channel(3)->isChecked());
    CSaveVideoFileDlg forgotten(name, dir.path(), 8 | 32, nullptr);
    QVERIFY(forgotten.selectedWindow()->isChecked());
    QVERIFY(!forgotten.channel(1)->isChecked());

    // Nothing ticked: a message, the dialog stays.
    QStringList told;
    dialog.tell = [&](const QString& text) { told << text; };
    dialog.selectedWindow()->click();
    QVERIFY(!dialog.selectedWindow()->isChecked());
    dialog.accept();
    QCOMPARE(told, QStringList{"Please select the channel(s)"});
    QCOMPARE(dialog.result(), int(QDialog::Rejected));
    // An existing clip is replaced only when the user says so.
    dialog.channel(0)->click();
    QFile existing(QString::fromStdString(dialog.OutputPaths().front()));
    QVERIFY(existing.open(QIODevice::WriteOnly));
    existing.close();
    dialog.confirm_replace = [](const QStringList&) { return false; };
    dialog.accept();
    QCOMPARE(dialog.result(), int(QDialog::Rejected));
    dialog.confirm_replace = [](const QStringList&) { return true; };
    dialog.accept();
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
  }

  void cutPointsOrderThemselvesAndTheExportGoesToTheTickedChannelsSlots() {
    QTemporaryDir dir;
    const app::AppConfig config((dir.path() + "/setting.ini").toStdString());
    RecordingSink sink;
    sink.selected = 2;
    views::CWaveDlg panel(&config, &sink);
    panel.resize(1208, 200);
    panel.show();
    QStringList told;
    panel.tell = [&](const QString& text) { told << text; };
    const int64_t start = QDateTime(QDate(2024, 3, 15), QTime(8, 0, 0), Qt::UTC).toSecsSinceEpoch();
    panel.SetStartTime(start);
    panel.Drain();
    views::CWaveDlg::CutRecording recording;
    recording.types[1] = 0x00FF0000;  // the third (selected) channel has no file: the fourth names the clip
    recording.types[3] = 0xFF0000FF;
    panel.SetCutRecording(recording);
    panel.SetPosition(40, 60);

    // Not a range yet: "CutVideo" says so.
    panel.CutVideo();
    QCOMPARE(told.size(), 1);
    // Right to left: 40 s, then 10 s; the range is 10 .. 40 and the window is told.
    panel.SetCutPoint();
    QCOMPARE(panel.cut_points().state(), views::CutPoints::kOne);
    panel.SetCutPoint();  // the same place: no range
    QCOMPARE(panel.cut_points().state(), views::CutPoints::kOne);
    panel.SetPosition(10, 60);
    panel.SetCutPoint();
    QCOMPARE(panel.cut_points().state(), views::CutPoints::kRange);
    QCOMPARE(panel.cut_points().start().seconds, 10);
    QCOMPARE(panel.cut_points().end().seconds, 40);
    QVERIFY(panel.cut_points().start().pixel < panel.cut_points().end().pixel);
    QCOMPARE(sink.Count(platform::msg::kPauseRequest), 1);
    // "DelCutPoit" drops the later point; 40 s again completes the range.
    panel.DeleteCutPoint();
    QCOMPARE(panel.cut_points().state(), views::CutPoints::kOne);
    panel.SetCutPoint();
    QCOMPARE(panel.cut_points().state(), views::CutPoints::kOne);
    panel.SetPosition(40, 60);
    panel.SetCutPoint();
    QCOMPARE(panel.cut_points().state(), views::CutPoints::kRange);
    QCOMPARE(panel.cut_points().start().seconds, 10);

    // Cancelled: the options are kept all the same, nothing is exported.
    QString default_name;
    panel.run_dialog = [&](QDialog& d) {
      auto& save = static_cast<CSaveVideoFileDlg&>(d);
      save.channel(1)->click();
      save.remember()->click();
      default_name = QFileInfo(QString::fromStdString(save.OutputPaths().front())).fileName();
      return int(QDialog::Rejected);
    };
    panel.CutVideo();
    QCOMPARE(config.ReadInt("WaveConfig", "SaveParam", 0), 1 | 8);
    QCOMPARE(sink.Count(platform::msg::kExportClip), 0);
    // The name: the cut's start, channel 4's types and number (the next
    // channel with a file after the selected third).
    QCOMPARE(default_name, QString("20240315080010_1001_0402.avi"));

    // Accepted with channels 2 and 4: their slots, then 1157 with 10 and 40.
    panel.run_dialog = [&](QDialog& d) {
      auto& save = static_cast<CSaveVideoFileDlg&>(d);
      save.folderBox()->setText(dir.path());
      if (!save.channel(3)->isChecked()) save.channel(3)->click();
      return int(QDialog::Accepted);
    };
    playback::Control().set_names({});
    panel.CutVideo();
    const auto names = playback::Control().names();
    QCOMPARE(QString::fromStdString(names.exports[1]), dir.path() + "/20240315080010_1001_0402.avi");
    QCOMPARE(QString::fromStdString(names.exports[3]), dir.path() + "/20240315080010_1001_0404.avi");
    for (int c : {0, 2, 4, 11}) QVERIFY(names.exports[static_cast<size_t>(c)].empty());
    const Posted* exported = sink.Last(platform::msg::kExportClip);
    QVERIFY(exported);
    QCOMPARE(exported->first, platform::MsgParam{10});
    QCOMPARE(exported->second, platform::MsgParam{40});
    QCOMPARE(panel.cut_points().state(), views::CutPoints::kNone);
    QCOMPARE(QString::fromStdString(config.ReadString("Lumivex", "SaveName", "")), dir.path());
    QCOMPARE(config.ReadInt("WaveConfig", "SaveParam", 0), 1 | 8 | 32);

    // "Selected window" on the third pane, which has no recording: the
    // fourth channel, which named the clip, is the one saved.
    // (The slider takes no position reports for a while after an export.)
    panel.position_bar()->slider()->setValue(10);
    panel.SetCutPoint();
    panel.position_bar()->slider()->setValue(20);
    panel.SetCutPoint();
    QCOMPARE(panel.cut_points().state(), views::CutPoints::kRange);
    panel.run_dialog = [&](QDialog& d) {
      auto& save = static_cast<CSaveVideoFileDlg&>(d);
      save.folderBox()->setText(dir.path());
      if (!save.selectedWindow()->isChecked()) save.selectedWindow()->click();
      return int(QDialog::Accepted);
    };
    panel.CutVideo();
    QCOMPARE(QString::fromStdString(playback::Control().names().exports[3]), dir.path() + "/20240315080010_1001_04.avi");
    QVERIFY(playback::Control().names().exports[2].empty());
    // A new recording forgets the points set on the old one.
    panel.SetCutPoint();
    QCOMPARE(panel.cut_points().state(), views::CutPoints::kOne);
    panel.SetCutRecording(recording);
    QCOMPARE(panel.cut_points().state(), views::CutPoints::kNone);
    playback::Control().set_names({});

    // An MP4 recording cannot be cut.
    recording.mp4 = true;
    panel.SetCutRecording(recording);
    panel.SetCutPoint();
    QCOMPARE(panel.cut_points().state(), views::CutPoints::kNone);
    QCOMPARE(told.back(), QString("MP4 file could't support cut"));
  }
};

QTEST_MAIN(SearchAndExportTest)
#include "SearchAndExportTest.moc"
