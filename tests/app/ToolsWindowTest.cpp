// Search, backup and clip export from the real main window (offscreen): the
// search panel fills the list through the folder scan, "Back up" copies what
// it listed, and a stretch marked on the position slider comes out as clips
// that FFmpeg reads.
#include <QProgressDialog>
#include <QTemporaryDir>
#include <QtTest>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>

#include "tests/app/WindowFixture.h"
#include "tools/CSaveVideoFileDlg.h"
#include "tools/CSearchFileCopy.h"

using window_fixture::MakeSamples;
using window_fixture::MoveRenamed;
using window_fixture::Player;
using window_fixture::WaitPlaying;
using window_fixture::WaitScanned;
namespace fs = std::filesystem;

namespace {

std::string Bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

QStringList ListedNames(app::CQVShowDlg& window) {
  QStringList names;
  const app::RecordingListModel& rows = window.recordings()->model_rows();
  for (int i = 0; i < rows.size(); ++i) names << QString::fromStdString(fs::path(rows.row(i).path).filename().string());
  return names;
}

}  // namespace

class ToolsWindowTest : public QObject {
  Q_OBJECT

  QTemporaryDir dir_;
  fs::path folder_;
  QStringList qvv_;  // two 4-channel recordings of 8 s: plates DRAVIK1 (manual), DRAVIK2 (timing)
  QStringList avi_;  // a 2-channel group at 09:00:00 without a plate

  void Search(app::CQVShowDlg& window) {
    window.OnCommand(tools::CRecTpyeSearch::kSearchId);
    QVERIFY(WaitScanned(window));
  }

 private slots:
  void initTestCase() {
    window_fixture::UseNoMixer(dir_.path());
    folder_ = fs::path(dir_.path().toStdString()) / "recordings";
    const std::string work = dir_.path().toStdString() + "/work";
    for (const QString& f : MakeSamples(work + "/qvv", "--channels 4 --seconds 8 --groups 2 --long-names"))
      qvv_ << QString::fromStdString(MoveRenamed(f, folder_ / "day1", fs::path(f.toStdString()).filename().string().substr(0, 14)));
    QCOMPARE(qvv_.size(), 2);
    for (const QString& f : MakeSamples(work + "/avi", "--format avi --channels 2 --seconds 2 --groups 1"))
      avi_ << QString::fromStdString(MoveRenamed(f, folder_ / "day2", "20240315090000"));
    QCOMPARE(avi_.size(), 2);
  }

  void theSearchPanelFiltersTheFolderAndBackUpCopiesWhatItListed() {
    Player player(dir_.path() + "/search");
    app::CQVShowDlg& window = *player.window;
    tools::CRecTpyeSearch& panel = *window.search_panel();
    QVERIFY(window.OpenFolderPath(QString::fromStdString(folder_.string())));
    QVERIFY(WaitScanned(window));
    QCOMPARE(window.recordings()->model_rows().size(), 4);
    // The folder gives the panel its plates, its types and its day.
    QCOMPARE(panel.plates()->count(), 3);
    QCOMPARE(panel.plates()->itemText(1), QString("DRAVIK1"));
    QCOMPARE(panel.plates()->itemText(2), QString("DRAVIK2"));
    QCOMPARE(panel.startDate()->date(), QDate(2024, 3, 15));
    QCOMPARE(panel.endDate()->date(), QDate(2024, 3, 15));

    // Timing only: the second recording.
    for (int i : {0, 2, 3}) panel.typeButton(i)->setChecked(false);
    Search(window);
    QCOMPARE(ListedNames(window), QStringList{QFileInfo(qvv_[1]).fileName()});
    // A search keeps the folder's plates.
    QCOMPARE(panel.plates()->count(), 3);
    // Every type, one plate.
    for (int i = 0; i < 4; ++i) panel.typeButton(i)->setChecked(true);
    panel.plates()->setCurrentIndex(1);
    Search(window);
    QCOMPARE(ListedNames(window), QStringList{QFileInfo(qvv_[0]).fileName()});
    // From 08:00:10: the second recording (08:00:08 .. 08:00:16) overlaps, the first does not.
    panel.plates()->setCurrentIndex(0);
    panel.startTime()->setTime(QTime(8, 0, 10));
    Search(window);
    QCOMPARE(ListedNames(window), (QStringList{QFileInfo(qvv_[1]).fileName(), QFileInfo(avi_[0]).fileName(),
                                               QFileInfo(avi_[1]).fileName()}));

    // "Back up" copies the three into the chosen folder.
    const QString to = dir_.path() + "/backup";
    QVERIFY(QDir().mkpath(to));
    QStringList titles;
    window.pick_folder = [&](const QString& title, const QString&) {
      titles << title;
      return to;
    };
    QString status;
    window.run_dialog = [&](QDialog& dialog) {
      auto* copy = qobject_cast<tools::CSearchFileCopy*>(&dialog);
      if (!copy) return int(QDialog::Rejected);
      copy->show();
      if (!QTest::qWaitFor([&] { return copy->copy_ended(); }, 60000)) return int(QDialog::Rejected);
      status = copy->status_text();
      return int(QDialog::Accepted);
    };
    window.OnCommand(tools::CRecTpyeSearch::kBackUpId);
    QCOMPARE(titles, QStringList{"select back up path"});
    QCOMPARE(status, QString("back up success"));
    for (const QString& f : {qvv_[1], avi_[0], avi_[1]}) {
      const std::string copy = (fs::path(to.toStdString()) / QFileInfo(f).fileName().toStdString()).string();
      QVERIFY2(Bytes(copy) == Bytes(f.toStdString()), qPrintable(QString::fromStdString(copy)));
    }
    QCOMPARE(QDir(to).entryList(QDir::Files).size(), 3);

    // A search that finds nothing: nothing to back up.
    panel.startDate()->setDate(QDate(2030, 1, 1));
    panel.endDate()->setDate(QDate(2030, 1, 2));
    Search(window);
    QCOMPARE(window.recordings()->model_rows().size(), 0);
    player.messages.shown.clear();
    window.OnCommand(tools::CRecTpyeSearch::kBackUpId);
    QCOMPARE(titles.size(), 1);
    QCOMPARE(player.messages.shown.size(), 1);
    QVERIFY(player.messages.shown.front().endsWith("No file in list"));
  }

  void aStretchMarkedRightToLeftIsExportedAsClipsOfTheTickedChannels() {
    Player player(dir_.path() + "/export");
    app::CQVShowDlg& window = *player.window;
    views::CWaveDlg& panel = *window.wave_panel();
    QVERIFY(window.OpenFolderPath(QString::fromStdString((folder_ / "day1").string())));
    QVERIFY(WaitScanned(window));
    QSlider* slider = panel.position_bar()->slider();
    // A group playing and paused (its end cannot come in between), then two
    // points on the slider.
    auto paused_with_points = [&](int group, int first, int second) {
      if (!window.commands().ChooseGroup(group) || !WaitPlaying(window)) return false;
      if (!QTest::qWaitFor([&] { return panel.position_bar()->total() == 8; }, 20000)) return false;
      window.commands().Play();  // pause
      if (!QTest::qWaitFor([&] { return window.engine().paused(); }, 20000)) return false;
      slider->setValue(first);
      panel.SetCutPoint();
      slider->setValue(second);
      panel.SetCutPoint();
      return panel.cut_points().state() == views::CutPoints::kRange;
    };
    auto export_to = [&](const QString& folder, std::function<void(tools::CSaveVideoFileDlg&)> choose) {
      std::vector<std::string> paths;
      panel.run_dialog = [&](QDialog& dialog) {
        auto& save = static_cast<tools::CSaveVideoFileDlg&>(dialog);
        QDir().mkpath(folder);
        save.folderBox()->setText(folder);
        choose(save);
        paths = save.OutputPaths();
        save.accept();
        return save.result();
      };
      panel.CutVideo();
      return paths;
    };
    // The export's outcome shows first (its clips named, or a message); the
    // progress window goes with the readers' last report after it.
    auto export_over = [&](const std::function<bool()>& outcome) {
      return QTest::qWaitFor(outcome, 60000) &&
             QTest::qWaitFor([&] { return !window.engine().exporting() && window.export_progress() == nullptr; }, 60000);
    };

    // 6 s, then 2 s: the stretch is 2 .. 6 s of channels 2 and 4.
    QVERIFY(paused_with_points(0, 6, 2));
    const QString out = dir_.path() + "/clips";
    const std::vector<std::string> paths = export_to(out, [](tools::CSaveVideoFileDlg& save) {
      save.channel(1)->click();
      save.channel(3)->click();
    });
    QCOMPARE(paths.size(), size_t{2});
    QVERIFY(export_over([&] { return fs::exists(paths[0]) && fs::exists(paths[1]); }));
    QVERIFY(player.messages.shown.isEmpty());
    for (const std::string& clip : paths) {
      QVERIFY2(fs::exists(clip), clip.c_str());
      std::string probe;
      QCOMPARE(testing_support::RunShell("ffprobe -v error -select_streams v -count_packets -show_entries "
                                         "stream=codec_name,nb_read_packets -show_entries format=duration -of "
                                         "default=nw=1 '" + clip + "'",
                                         &probe),
               0);
      // Four seconds at 25 pictures a second, from the key frame at or before 2 s.
      const QString text = QString::fromStdString(probe);
      QVERIFY2(text.contains("codec_name=h264"), probe.c_str());
      const int packets = text.section("nb_read_packets=", 1).section('\n', 0, 0).toInt();
      const double duration = text.section("duration=", 1).section('\n', 0, 0).toDouble();
      QVERIFY2(packets >= 100 && packets <= 150, probe.c_str());
      QVERIFY2(duration >= 3.96, probe.c_str());
      std::string errors;
      QCOMPARE(testing_support::RunShell("ffmpeg -v error -i '" + clip + "' -f null - 2>&1", &errors), 0);
      QVERIFY2(errors.empty(), errors.c_str());
    }
    // Channels not ticked have no clip; no temporary file is left.
    QCOMPARE(QDir(out).entryList(QDir::Files | QDir::Hidden).size(), 2);
    // Playing goes on from the stretch's end to the recording's, then the next group plays.
    QVERIFY(QTest::qWaitFor([&] {
      return window.recordings()->SelectedRows() == std::vector<int>{1} && window.engine().playing();
    }, 60000));

    // A stretch to the recording's end ends with the recording: 6 .. 8 s of
    // the selected pane (channel 1).
    QVERIFY(paused_with_points(1, 6, 8));
    const std::vector<std::string> to_end = export_to(out + "/end", [](tools::CSaveVideoFileDlg& save) {
      if (!save.selectedWindow()->isChecked()) save.selectedWindow()->click();
    });
    QCOMPARE(to_end.size(), size_t{1});
    QVERIFY2(export_over([&] { return fs::exists(to_end[0]); }), to_end[0].c_str());
    QVERIFY(QFileInfo(QString::fromStdString(to_end[0])).fileName().endsWith("_01.avi"));
    // The recording's end follows the export's: the last group ends, the player stops.
    QVERIFY(QTest::qWaitFor([&] { return window.commands().state() == app::kStateStopped; }, 60000));

    // A folder gone before the clip is written: a message, no clip.
    QVERIFY(paused_with_points(0, 1, 3));
    player.messages.shown.clear();
    export_to(out + "/gone", [&](tools::CSaveVideoFileDlg&) {});
    QVERIFY(QDir(out + "/gone").removeRecursively());
    QVERIFY(export_over([&] { return !player.messages.shown.isEmpty(); }));
    QCOMPARE(player.messages.shown.size(), 1);
    QVERIFY2(player.messages.shown.front().contains("could not be written"), qPrintable(player.messages.shown.front()));
    QVERIFY(!QDir(out + "/gone").exists());
  }
};

QTEST_MAIN(ToolsWindowTest)
#include "ToolsWindowTest.moc"
