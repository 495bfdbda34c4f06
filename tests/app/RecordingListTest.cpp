// The recording list and the play commands on the offscreen platform: a
// folder of mixed recordings (and things that are not recordings) scanned
// into the list, groups chosen by double click, the play state through every
// command, the next group after the end, the command line's file.
#include <QLabel>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "app/CSetting.h"
#include "app/FileProperty.h"
#include "app/SingleProperty.h"
#include "map/ScriptCalls.h"

#include <QWebEnginePage>
#include <QWebEngineView>
#include "app/PlayCommands.h"
#include "app/RecordingScan.h"
#include "controls/CDVRCalendarCtrl.h"
#include "views/CWaveDlg.h"
#include "playback/PlaybackControl.h"
#include "tests/app/WindowFixture.h"
#include "tests/support/Process.h"

using window_fixture::MakeSamples;
using window_fixture::MoveRenamed;
using window_fixture::Player;
using window_fixture::WaitPlaying;
using window_fixture::WaitScanned;
namespace fs = std::filesystem;

namespace {

app::RecordingRow Row(int type, int64_t start, uint32_t channel, int64_t duration, const std::string& path = "x") {
  app::RecordingRow r;
  r.file_type = type;
  r.start = start;
  r.channel = channel;
  r.duration = duration;
  r.path = path;
  r.type_mask = 0xFF000000;
  return r;
}

}  // namespace

class RecordingListTest : public QObject {
  Q_OBJECT

  QTemporaryDir dir_;
  fs::path folder_;  // the mixed folder
  std::vector<std::string> expected_;  // its recordings in list order
  std::string avi_ch2_;                // the 09:00:00 group's second channel
  std::string mp4_ch1_;

  int RowOf(const app::CQVShowDlg& window, const std::string& path) {
    return window.recordings()->model_rows().Find(path);
  }

  void DoubleClick(app::CQVShowDlg& window, int row) {
    app::RecordingList* list = window.recordings();
    const QModelIndex index = list->model()->index(row, app::RecordingListModel::kTime);
    list->scrollTo(index);
    const QPoint at = list->visualRect(index).center();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
  }

 private slots:
  void initTestCase() {
    window_fixture::UseNoMixer(dir_.path());
    folder_ = fs::path(dir_.path().toStdString()) / "recordings";
    const std::string work = dir_.path().toStdString() + "/work";
    // Two ".qvv" recordings of four channels, three seconds apart.
    const QStringList qvv = MakeSamples(work + "/qvv", "--channels 4 --seconds 3 --groups 2");
    QCOMPARE(qvv.size(), 2);
    expected_.push_back(MoveRenamed(qvv[0], folder_ / "day1", "20240315080000"));
    expected_.push_back(MoveRenamed(qvv[1], folder_ / "day1", "20240315080003"));
    // Two ".avi" channels at 09:00:00, one more a second later (a group of its own), a folder deeper.
    const QStringList avi = MakeSamples(work + "/avi", "--format avi --channels 2 --seconds 2 --groups 1");
    QCOMPARE(avi.size(), 2);
    fs::copy_file(avi[0].toStdString(), work + "/avi/copy.avi");
    expected_.push_back(MoveRenamed(avi[0], folder_ / "day2" / "sub", "20240315090000"));
    avi_ch2_ = MoveRenamed(avi[1], folder_ / "day2" / "sub", "20240315090000");
    expected_.push_back(avi_ch2_);
    fs::rename(work + "/avi/copy.avi", work + "/avi/20240315080000_1000_01.avi");
    expected_.push_back(MoveRenamed(QString::fromStdString(work + "/avi/20240315080000_1000_01.avi"),
                                    folder_ / "day2" / "sub", "20240315090001"));
    // ".flv" at 10:00:00, one of them with its extension in capitals.
    const QStringList flv = MakeSamples(work + "/flv", "--format flv --channels 2 --seconds 2 --groups 1");
    QCOMPARE(flv.size(), 2);
    expected_.push_back(MoveRenamed(flv[0], folder_ / "day2", "20240315100000", ".FLV"));
    expected_.push_back(MoveRenamed(flv[1], folder_ / "day2", "20240315100000"));
    // ".mp4" at 11:00:00.
    const QStringList mp4 = MakeSamples(work + "/mp4", "--format mp4 --channels 2 --seconds 2 --groups 1");
    QCOMPARE(mp4.size(), 2);
    mp4_ch1_ = MoveRenamed(mp4[0], folder_ / "day3", "20240315110000");
    expected_.push_back(mp4_ch1_);
    expected_.push_back(MoveRenamed(mp4[1], folder_ / "day3", "20240315110000"));

    // What is not a recording: other files, a name without a time, an empty
    // file, a recording's name over bytes that are none, a pipe (opening it
    // would wait for a writer), a folder nobody may read.
    std::ofstream(folder_ / "notes.txt") << "not a recording";
    std::ofstream(folder_ / "day1" / "holiday.qvv") << "not a recording either";
    std::ofstream(folder_ / "day1" / "20240315120000_1000.qvv");
    std::ofstream(folder_ / "day1" / "20240315130000_1000.qvv") << std::string(4096, '\x5a');
    QCOMPARE(mkfifo((folder_ / "day1" / "20240315140000_1000.qvv").c_str(), 0600), 0);
    fs::create_directories(folder_ / "locked");
    std::ofstream(folder_ / "locked" / "20240315150000_1000.qvv") << "x";
    fs::permissions(folder_ / "locked", fs::perms::none);
  }

  void cleanupTestCase() { fs::permissions(folder_ / "locked", fs::perms::owner_all); }

  void rowsTextsAndOrder() {
    QCOMPARE(app::DurationText(3725), QString("01:02:05"));
    QCOMPARE(app::DurationText(0), QString("--:--:--"));
    QCOMPARE(app::DateText(1710489600), QString("2024-03-15"));
    QCOMPARE(app::TimeText(1710460800 + 3 * 3600 + 4 * 60 + 5), QString("03:04:05"));
    QCOMPARE(app::ChannelText(Row(1, 0, 2, 1)), QString("CH03"));
    QCOMPARE(app::ChannelText(Row(0, 0, 0xF, 1)), QString("CH01-04"));
    QCOMPARE(app::ChannelText(Row(0, 0, 0x5, 1)), QString("1,3"));
    // The icon: 8 manual (any value above 0xFFFFFF), 4 timing, 2 motion, 1 alarm.
    QCOMPARE(app::TypeIconIndex(0xFF000000), 8);
    QCOMPARE(app::TypeIconIndex(0x01000000), 8);
    QCOMPARE(app::TypeIconIndex(0x00FF00FF), 5);
    QCOMPARE(app::TypeIconIndex(0x0000FF00), 2);
    QCOMPARE(app::TypeIconIndex(0), 0);

    // Rows arriving in any order are kept by start, then channel.
    app::RecordingListModel model;
    for (const auto& r : {Row(1, 20, 1, 5, "b"), Row(1, 10, 0, 5, "a"), Row(1, 20, 0, 5, "c"), Row(0, 30, 3, 5, "d")})
      model.Add(r);
    QCOMPARE(model.size(), 4);
    QCOMPARE(model.row(0).path, std::string("a"));
    QCOMPARE(model.row(1).path, std::string("c"));
    QCOMPARE(model.row(2).path, std::string("b"));
    QCOMPARE(model.GroupOf(2), std::make_pair(1, 3));
    QCOMPARE(model.IndexOf(model.record(3).get()), 3);
    const auto kept = model.record(3);
    model.Clear();
    QCOMPARE(model.IndexOf(kept.get()), -1);  // a record held after the list changed finds no row
    QCOMPARE(model.data(QModelIndex(), Qt::DisplayRole), QVariant());
  }

  void theGroupChoiceTakesTheMainChannelByTheRules() {
    app::RecordingListModel model;
    // An ".avi" group whose first channel has no length: the second leads,
    // unless the chosen row is asked for; an ".flv" group follows the chosen row.
    model.Add(Row(1, 100, 0, 0, "/a0"));
    model.Add(Row(1, 100, 1, 5, "/a1"));
    model.Add(Row(1, 100, 4, 5, "/a4"));
    model.Add(Row(0, 100, 0x3, 5, "/q"));  // another kind at the same second (its mask sorts it third)
    model.Add(Row(2, 200, 0, 5, "/f0"));
    model.Add(Row(2, 200, 2, 5, "/f2"));
    QCOMPARE(model.row(3).path, std::string("/a4"));
    auto request = app::RequestForRow(model, 3, app::MainChannelRule::kGroupChoice);
    QCOMPARE(int(request.group.type), int(playback::Container::Avi));
    QCOMPARE(request.group.main_channel, 1);
    QCOMPARE(request.group.channel[4], std::string("/a4"));
    QCOMPARE(request.rows[4], 3);
    QCOMPARE(request.rows[2], -1);
    QCOMPARE(request.members(), (std::vector<int>{0, 1, 3}));  // not the ".qvv" row
    QCOMPARE(app::RequestForRow(model, 3, app::MainChannelRule::kChosenRow).group.main_channel, 4);
    QCOMPARE(app::RequestForRow(model, 5, app::MainChannelRule::kGroupChoice).group.main_channel, 2);
    request = app::RequestForRow(model, 2, app::MainChannelRule::kGroupChoice);
    QCOMPARE(request.group.qvv, std::string("/q"));
    QCOMPARE(request.members(), std::vector<int>{2});
    QCOMPARE(request.rows[1], 2);
    QCOMPARE(request.rows[2], -1);
  }

  void theFilterKeepsTypesTimesAndCarNumbers() {
    app::RecordingRow row = Row(1, 1000, 0, 60);
    row.type_mask = 0x0000FF00;
    row.car_number = "AB123";
    app::ScanFilter filter;
    QVERIFY(filter.Accepts(row));
    filter.types = 0xFF000000;
    QVERIFY(!filter.Accepts(row));
    filter.types = 0x0000FF00;
    filter.from = 1060;  // the recording ends as the range begins
    QVERIFY(filter.Accepts(row));
    filter.from = 1061;
    QVERIFY(!filter.Accepts(row));
    filter.from = 0;
    filter.to = 999;
    QVERIFY(!filter.Accepts(row));
    filter.to = 1000;
    QVERIFY(filter.Accepts(row));
    filter.car_number = "AB12";
    QVERIFY(!filter.Accepts(row));
    filter.car_number = "AB123";
    QVERIFY(filter.Accepts(row));
    // A name that gives no type: listed when every type is asked for, not by a search for one.
    row.type_mask = 0;
    QVERIFY(app::ScanFilter{}.Accepts(row));
    QVERIFY(!filter.Accepts(row));
  }

  void aMixedFolderListsEveryRecordingOnceInOrderAndGrouped() {
    Player player(dir_.path() + "/list");
    app::CQVShowDlg& window = *player.window;
    QSignalSpy progress(&window.scan(), &app::ScanWorker::progress);
    QVERIFY(window.OpenFolderPath(QString::fromStdString(folder_.string())));
    QVERIFY(window.scan_status()->isVisible());
    QVERIFY(WaitScanned(window));
    QVERIFY(progress.count() >= 1);
    // Every file looked at (not the pipe): 9 recordings, 4 others, and the
    // file in the locked folder where the user may read it (root may).
    QCOMPARE(progress.last().at(0).toInt(), geteuid() == 0 ? 14 : 13);
    const app::RecordingListModel& rows = window.recordings()->model_rows();
    QCOMPARE(rows.size(), int(expected_.size()));
    for (int i = 0; i < rows.size(); ++i) QCOMPARE(rows.row(i).path, expected_[static_cast<size_t>(i)]);
    // What the scan learnt of them.
    QCOMPARE(rows.row(0).channel, 0xFu);
    QCOMPARE(rows.row(0).duration, int64_t{3});
    QCOMPARE(rows.row(0).video[3].width, 160);
    QCOMPARE(rows.row(2).video[0].height, 96);
    QCOMPARE(rows.row(3).channel, 1u);
    QCOMPARE(rows.data(rows.index(2, app::RecordingListModel::kTime), Qt::DisplayRole).toString(), QString("09:00:00"));
    QCOMPARE(rows.data(rows.index(3, app::RecordingListModel::kChannel), Qt::DisplayRole).toString(), QString("CH02"));
    // Groups: the two channels of 09:00:00; 09:00:01 is a group of its own.
    QCOMPARE(rows.GroupOf(2), std::make_pair(2, 4));
    QCOMPARE(rows.GroupOf(4), std::make_pair(4, 5));
    QCOMPARE(window.scan_summary().paths.size(), expected_.size());
    QCOMPARE(window.scan_summary().earliest, rows.row(0).start);
    QCOMPARE(window.scan_summary().car_numbers, std::vector<std::string>{"DRAVIK1"});
    QVERIFY(!window.scan_status()->isVisible());
    // The files that are not recordings were passed over without a word.
    QVERIFY2(player.messages.shown.isEmpty(), qPrintable(player.messages.shown.join('\n')));
    QCOMPARE(player.application.config().ReadString("Lumivex", "FolderName", ""), folder_.string());

    // A second scan takes the place of the first: the first walk ends with
    // its rows queued to the window (no events are handled meanwhile), then
    // the second starts; none of the first's rows may arrive.
    QVERIFY(window.OpenFolderPath(QString::fromStdString(folder_.string())));
    while (!window.scan().walk_ended()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    QVERIFY(window.OpenFolderPath(QString::fromStdString((folder_ / "day3").string())));
    QVERIFY(WaitScanned(window));
    QCOMPARE(rows.size(), 2);
    QCOMPARE(rows.row(0).path, mp4_ch1_);
    // A folder path too long to keep.
    QVERIFY(!window.OpenFolderPath("/" + QString(250, 'a')));
    QCOMPARE(player.messages.shown.size(), 1);
    QVERIFY(player.messages.shown.front().endsWith("The Record file path too long to read!"));
    QCOMPARE(rows.size(), 0);
  }

  void theCommandsFollowThePlayStates() {
    Player player(dir_.path() + "/states");
    app::CQVShowDlg& window = *player.window;
    app::PlayCommands& commands = window.commands();
    auto& control = playback::Control();
    // Nothing listed: play does nothing.
    window.OnCommand(app::command::kPlay);
    QCOMPARE(commands.state(), int(app::kStateStopped));
    QVERIFY(!window.engine().has_group());

    QVERIFY(window.OpenFolderPath(QString::fromStdString(folder_.string())));
    QVERIFY(WaitScanned(window));
    // A double click plays the group of the row clicked and selects its rows.
    const int row = RowOf(window, avi_ch2_);
    DoubleClick(window, row);
    QCOMPARE(commands.state(), int(app::kStatePlaying));
    QCOMPARE(window.recordings()->SelectedRows(), (std::vector<int>{row - 1, row}));
    QCOMPARE(window.engine().group()->channel[1], avi_ch2_);
    QVERIFY(WaitPlaying(window));
    QVERIFY(window.container()->channel_has_recording(1));
    QVERIFY(!window.container()->channel_has_recording(2));

    window.OnCommand(app::command::kPlay);  // pause
    QCOMPARE(commands.state(), int(app::kStatePaused));
    QVERIFY(window.engine().paused());
    window.OnCommand(app::command::kBackward);
    QCOMPARE(commands.state(), int(app::kStateBackward));
    QVERIFY(control.reverse_play.load());
    window.OnCommand(app::command::kBackward);  // pause backward
    QCOMPARE(commands.state(), int(app::kStateBackwardPaused));
    window.messages().Send(platform::msg::kSeek, 0, 1);  // a seek plays on backward
    QCOMPARE(commands.state(), int(app::kStateBackward));
    QCOMPARE(control.seek_target_seconds.load(), 1);
    window.messages().Send(platform::msg::kPauseRequest, 0, 0);
    QCOMPARE(commands.state(), int(app::kStateBackwardPaused));
    window.OnCommand(app::command::kPlay);  // forward again
    QCOMPARE(commands.state(), int(app::kStatePlaying));
    QVERIFY(!control.reverse_play.load());
    window.messages().Send(platform::msg::kPauseRequest, 0, 0);
    QCOMPARE(commands.state(), int(app::kStatePaused));
    window.messages().Send(platform::msg::kSeek, 0, 1);  // a seek plays on forward
    QCOMPARE(commands.state(), int(app::kStatePlaying));

    window.controls()->speed()->setValue(6);
    window.OnCommand(app::command::kStop);
    QCOMPARE(commands.state(), int(app::kStateStopped));
    QCOMPARE(window.controls()->speed()->value(), 4);  // back to normal speed
    QVERIFY(window.engine().stopped());
    // Step and second play leave the state as it is.
    window.OnCommand(app::command::kStep);
    QCOMPARE(commands.state(), int(app::kStateStopped));
    window.OnCommand(app::command::kSecondPlay);
    QCOMPARE(commands.state(), int(app::kStateStopped));
    QVERIFY(control.hold.IsSet());  // key frames only
    window.OnCommand(app::command::kPlay);
    QCOMPARE(commands.state(), int(app::kStatePlaying));
    QVERIFY(!control.hold.IsSet());
    QVERIFY(WaitPlaying(window));

    // MP4 cannot play backward: the message, and the state stays.
    DoubleClick(window, RowOf(window, mp4_ch1_));
    QCOMPARE(commands.state(), int(app::kStatePlaying));
    QCOMPARE(int(window.engine().group()->type), int(playback::Container::Mp4));
    window.OnCommand(app::command::kBackward);
    QCOMPARE(commands.state(), int(app::kStatePlaying));
    QCOMPARE(player.messages.shown.size(), 1);
    QVERIFY(player.messages.shown.front().endsWith("MP4 does not support backward!"));
    QVERIFY(!control.reverse_play.load());

    // The speed slider's ends.
    auto* label = window.controls()->findChild<QLabel*>("speedLabel");
    QVERIFY(label);
    window.controls()->speed()->setValue(0);
    QCOMPARE(label->text(), QString("1/16"));
    QCOMPARE(control.play_speed.load(), 1);
    window.controls()->speed()->setValue(8);
    QCOMPARE(label->text(), QString("x16"));
    QCOMPARE(control.play_speed.load(), 256);
    window.controls()->speed()->setValue(4);
    QCOMPARE(label->text(), QString("x1"));
  }

  void aRecordingThatEndsIsFollowedByTheNextGroup() {
    Player player(dir_.path() + "/next");
    app::CQVShowDlg& window = *player.window;
    QVERIFY(window.OpenFolderPath(QString::fromStdString(folder_.string())));
    QVERIFY(WaitScanned(window));
    QVERIFY(window.commands().ChooseGroup(0));
    window.controls()->speed()->setValue(8);
    // The first three-second recording ends; the second one follows, then
    // the ".avi" group after it.
    QVERIFY(QTest::qWaitFor([&] { return window.engine().group()->qvv == expected_[1]; }, 30000));
    QCOMPARE(window.recordings()->SelectedRows(), std::vector<int>{1});
    QVERIFY(QTest::qWaitFor([&] { return window.engine().group()->channel[0] == expected_[2]; }, 30000));
    QCOMPARE(window.commands().state(), int(app::kStatePlaying));
  }

  void thePropertiesAndSettingsComeFromTheWindow() {
    Player player(dir_.path() + "/properties");
    app::CQVShowDlg& window = *player.window;
    std::vector<QString> opened;
    app::ChannelVideo second, third;
    QString size;
    window.run_dialog = [&](QDialog& dialog) {
      opened.push_back(dynamic_cast<app::FileProperty*>(&dialog)     ? "group"
                       : dynamic_cast<app::SingleProperty*>(&dialog) ? "single"
                       : dynamic_cast<app::CSetting*>(&dialog)       ? "settings"
                                                                     : "other");
      if (auto* p = dynamic_cast<app::PropertyDialog*>(&dialog)) {
        second = p->channel(std::min(1, p->channel_count() - 1));
        third = p->channel(std::min(2, p->channel_count() - 1));
        size = p->field(1068)->text();
      }
      return int(QDialog::Rejected);
    };
    // A pane's properties with nothing playing: the message, no dialog.
    window.messages().Send(platform::msg::kChannelProperties, 1, 0);
    QCOMPARE(player.messages.shown.size(), 1);
    QVERIFY(player.messages.shown.front().endsWith("no video data!"));
    QVERIFY(opened.empty());

    QVERIFY(window.OpenFolderPath(QString::fromStdString(folder_.string())));
    QVERIFY(WaitScanned(window));
    const int row = RowOf(window, avi_ch2_);
    window.recordings()->SelectRows({row});
    window.OnCommand(app::command::kProperty);
    QCOMPARE(opened.size(), size_t{1});
    QCOMPARE(opened.back(), QString("group"));
    QCOMPARE(second.width, 160);   // the group's second channel
    QCOMPARE(third.width, 0);      // no third channel in the group
    QCOMPARE(size, QString::fromStdString(app::property::SizeText(fs::file_size(avi_ch2_))));

    QVERIFY(window.commands().ChooseGroup(row));
    window.messages().Send(platform::msg::kChannelProperties, 1, 0);
    QCOMPARE(opened.back(), QString("single"));
    QCOMPARE(second.height, 96);
    QCOMPARE(player.messages.shown.size(), 1);

    // The settings dialog opens modally; cancelled, it leaves setting.ini as it was.
    const std::string ini = player.application.config().Path().string();
    auto read = [&] {
      std::ifstream in(ini, std::ios::binary);
      return std::string(std::istreambuf_iterator<char>(in), {});
    };
    const std::string before = read();
    window.OnCommand(app::command::kSettings);
    QCOMPARE(opened.back(), QString("settings"));
    QCOMPARE(read(), before);
  }

  void theMapFollowsThePlayAndAClickOnTheTrackPlaysItsRow() {
    setenv("DRAVIK_MAP_PAGES", DRAVIK_MAP_PAGES, 1);
    Player player(dir_.path() + "/map");
    app::CQVShowDlg& window = *player.window;
    map::CEFMapDlg& map = *window.map_view();
    QVERIFY(window.OpenFolderPath(QString::fromStdString((folder_ / "day1").string())));
    QVERIFY(WaitScanned(window));
    // "Map" puts the map in the list's place (a map never shown keeps nothing).
    window.OnCommand(app::command::kMap);
    QVERIFY(map.isVisible());
    QVERIFY(window.commands().ChooseGroup(0));
    // The recording's GPS records reach the real page: the car is drawn.
    QVERIFY(QTest::qWaitFor([&] { return map.page_ready(); }, 60000));
    auto car = [&] {
      QVariant result;
      bool done = false;
      map.client().GetFirstBrowser()->page()->runJavaScript(
          "(function () { var s = window.dravikMapState(); return s.car ? s.car.lat : 0; })()",
          [&](const QVariant& v) {
            result = v;
            done = true;
          });
      QTest::qWaitFor([&] { return done; }, 20000);
      return result.toDouble();
    };
    QVERIFY(QTest::qWaitFor([&] { return car() > 1; }, 60000));
    // ... and its G-sensor records the waveform under the panes.
    QVERIFY(QTest::qWaitFor([&] { return window.wave_panel()->scope()->sampleCount() > 5; }, 20000));

    // Play-back mode: the whole track of the list; a click near a point of
    // the second recording plays that recording from that point's second.
    map.SetMode(false, true);
    QVERIFY(QTest::qWaitFor([&] { return map.track().count() >= 2 && map.track().at(map.track().count() - 1).separator() &&
                                         map.track().pending() == 0; }, 60000));
    int second_file = -1;
    for (int i = 0, separators = 0; i < map.track().count(); ++i) {
      if (map.track().at(i).separator()) ++separators;
      else if (separators == 1 && second_file < 0 && i + 1 < map.track().count() && !map.track().at(i + 1).separator())
        second_file = i + 1;  // its second point
    }
    QVERIFY(second_file > 0);
    const map::TrackPoint point = map.track().at(second_file);
    // Stopped on the first recording, so that only the click can play the second.
    window.OnCommand(app::command::kStop);
    QVERIFY(window.commands().ChooseGroup(0));
    window.OnCommand(app::command::kPlay);  // paused
    QCOMPARE(window.engine().group()->qvv, expected_[0]);
    std::string answer;
    QVERIFY(map.OnQuery("ClickLineCallBack|" + map::script::Number(point.latitude) + "|" +
                            map::script::Number(point.longitude),
                        answer));
    // The window plays the second recording from the point's second.
    const int offset = int(point.time - static_cast<uint64_t>(window.recordings()->model_rows().row(1).start));
    QVERIFY(offset > 0);
    QVERIFY(QTest::qWaitFor([&] { return window.engine().group()->qvv == expected_[1]; }, 20000));
    QCOMPARE(playback::Control().seek_target_seconds.load(), offset);
    QCOMPARE(window.commands().state(), int(app::kStatePlaying));
    unsetenv("DRAVIK_MAP_PAGES");
  }

  // The bottom panel as the user sees it: the waveform moves while a
  // recording plays, and the calendar shows the listed recordings as bars in
  // their channels' rows. DRAVIK_SCREENSHOT_DIR keeps the pictures.
  void theBottomPanelShowsTheWaveformMovingAndTheRecordingsInTheCalendar() {
    Player player(dir_.path() + "/panel");
    app::CQVShowDlg& window = *player.window;
    window.resize(1280, 900);
    views::CWaveDlg& panel = *window.wave_panel();
    QVERIFY(window.OpenFolderPath(QString::fromStdString((folder_ / "day1").string())));
    QVERIFY(WaitScanned(window));
    QVERIFY(window.commands().ChooseGroup(0));
    QVERIFY(WaitPlaying(window));
    const int first = panel.scope()->sampleCount();
    QVERIFY(QTest::qWaitFor([&] { return panel.scope()->sampleCount() > first + 2; }, 20000));
    const QImage before = panel.grab().toImage();
    const int seen = panel.scope()->sampleCount();
    QVERIFY(QTest::qWaitFor([&] { return panel.scope()->sampleCount() > seen + 2; }, 20000));
    const QImage after = panel.grab().toImage();
    QVERIFY(before != after);

    QTest::mouseClick(panel.button(views::CWaveDlg::kCalendarId), Qt::LeftButton);
    QCOMPARE(panel.mode(), views::CWaveDlg::kCalendar);
    controls::CDVRCalendarCtrl& calendar = *panel.calendar();
    QVERIFY(calendar.isVisible());
    // The two recordings' colours (3 s apart, they share their pixels at a
    // whole day's zoom, under the play marker).
    QList<QColor> bars;
    for (int i = 0; i < window.recordings()->model_rows().rowCount(); ++i)
      bars << controls::CDVRCalendarCtrl::BarColor(window.recordings()->model_rows().row(i).type_mask);
    QVERIFY(QTest::qWaitFor([&] { calendar.repaint(); return calendar.channelRows() == 4; }, 5000));
    const QImage picture = calendar.grab().toImage();
    if (const char* keep = std::getenv("DRAVIK_SCREENSHOT_DIR")) {
      before.save(QString(keep) + "/waveform-1.png");
      after.save(QString(keep) + "/waveform-2.png");
      window.grab().save(QString(keep) + "/calendar-window.png");
    }
    for (int channel = 0; channel < 4; ++channel) {
      const QRect r = calendar.channelRowRect(channel);
      int bar_pixels = 0;
      for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x) bar_pixels += bars.contains(picture.pixelColor(x, y));
      QVERIFY2(bar_pixels >= 4, qPrintable(QString("channel %1: %2 bar pixels").arg(channel + 1).arg(bar_pixels)));
    }
  }

  void theCommandLinePlaysItsFileOnceListed() {
    Player player(dir_.path() + "/command");
    app::CQVShowDlg& window = *player.window;
    QVERIFY(window.PlayPath(QString::fromStdString(avi_ch2_) + ",MAPKEY1"));
    QCOMPARE(player.application.config().ReadString("Lumivex", "GoogleMapKey", ""), std::string("MAPKEY1"));
    QVERIFY(WaitScanned(window));
    // The folder above the file's folder: "day2", with its ".avi" and ".flv" recordings.
    QCOMPARE(window.recordings()->model_rows().size(), 5);
    QCOMPARE(player.application.config().ReadString("Lumivex", "FolderName", ""), (folder_ / "day2").string());
    QVERIFY(window.engine().has_group());
    QCOMPARE(window.engine().group()->channel[1], avi_ch2_);
    QCOMPARE(window.engine().group()->main_channel, 1);
    QCOMPARE(window.commands().state(), int(app::kStatePlaying));
    QVERIFY(WaitPlaying(window));
    QVERIFY(player.messages.shown.isEmpty());
  }
};

QTEST_MAIN(RecordingListTest)
#include "RecordingListTest.moc"
