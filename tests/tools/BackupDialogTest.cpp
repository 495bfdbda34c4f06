// The backup dialog on the offscreen platform: its texts from the language
// files, the result a run leaves on the status line, Cancel after a finished
// or failed run, and a running copy held at a block: the window does not
// close, Enter and Escape do nothing, Cancel stops the copy, removes its
// partial file and closes the window once the worker has ended.
#include <QKeyEvent>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <future>
#include <string>
#include <vector>

#include "app/AppConfig.h"
#include "app/LanguageResources.h"
#include "tools/CSearchFileCopy.h"

namespace {

namespace fs = std::filesystem;

constexpr int kWaitMs = 60000;  // only a hung worker takes this long

std::string MakeFile(const fs::path& path, size_t size, char fill) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << std::string(size, fill);
  return path.string();
}

std::vector<std::string> FolderNames(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
  return names;
}

QPushButton* CancelButton(QDialog& dialog) {
  for (auto* b : dialog.findChildren<QPushButton*>())
    if (b->property("controlId").toInt() == tools::CSearchFileCopy::kIdCancel) return b;
  return nullptr;
}

}  // namespace

class BackupDialogTest : public QObject {
  Q_OBJECT

 private slots:
  void ShowsTheResultAndCancelCloses();
  void CancelAfterAFailureDoesNotWait();
  void ARunningCopyOnlyStopsOnCancel();
  void TextsFollowTheLanguage();

 private:
  fs::path dir() const { return temp_.path().toStdString(); }
  QTemporaryDir temp_;
};

void BackupDialogTest::ShowsTheResultAndCancelCloses() {
  const std::vector<std::string> sources = {MakeFile(dir() / "in/a.qvv", 300000, 'a'),
                                            MakeFile(dir() / "in/b.qvv", 10, 'b'),
                                            MakeFile(dir() / "in/c.qvv", 5000, 'c')};
  const fs::path out = dir() / "out1";
  fs::create_directory(out);
  tools::CSearchFileCopy dialog(sources, out.string());
  QCOMPARE(dialog.windowTitle(), QString("Back up"));
  QSignalSpy ended(&dialog, &tools::CSearchFileCopy::copyEnded);
  dialog.show();
  QVERIFY(ended.count() == 1 || ended.wait(kWaitMs));
  QCOMPARE(ended.at(0).at(0).toBool(), true);
  QCOMPARE(dialog.status_text(), QString("back up success"));
  QCOMPARE(FolderNames(out).size(), size_t{3});
  QVERIFY(dialog.isVisible());  // the user reads the result, then closes
  QPushButton* cancel = CancelButton(dialog);
  QVERIFY(cancel);
  QCOMPARE(cancel->text(), QString("Cancel"));
  cancel->click();
  QVERIFY(!dialog.isVisible());
  QCOMPARE(dialog.result(), int(QDialog::Rejected));
}

void BackupDialogTest::CancelAfterAFailureDoesNotWait() {
  const std::string source = MakeFile(dir() / "in/a.qvv", 1000, 'a');
  std::ofstream(dir() / "plain-file") << "x";
  tools::CSearchFileCopy dialog({source, source}, (dir() / "plain-file" / "out").string());
  QSignalSpy ended(&dialog, &tools::CSearchFileCopy::copyEnded);
  dialog.show();
  QVERIFY(ended.count() == 1 || ended.wait(kWaitMs));
  QCOMPARE(ended.at(0).at(0).toBool(), false);
  QCOMPARE(dialog.status_text(), QString("copy error:create file error,please check dist dir"));
  dialog.close();  // the copy has ended: the window may close
  QVERIFY(!dialog.isVisible());

  tools::CSearchFileCopy again({source}, (dir() / "plain-file" / "out").string());
  QSignalSpy again_ended(&again, &tools::CSearchFileCopy::copyEnded);
  again.show();
  QVERIFY(again_ended.count() == 1 || again_ended.wait(kWaitMs));
  CancelButton(again)->click();
  QVERIFY(!again.isVisible());
}

void BackupDialogTest::ARunningCopyOnlyStopsOnCancel() {
  const std::string big = MakeFile(dir() / "in/big.qvv", 20 * tools::kCopyBlockBytes, 'z');
  const fs::path out = dir() / "out3";
  fs::create_directory(out);
  std::atomic<bool> held{false};
  tools::CSearchFileCopy dialog({big}, out.string());
  // The worker waits after its second block until the test lets it go on
  // (or the promise goes away when the test ends early).
  std::promise<void> go_on;
  dialog.set_progress_hook([&held, go_on_future = go_on.get_future().share()](const tools::CopyProgress& p) {
    if (p.done == 2 * tools::kCopyBlockBytes && !p.verifying) {
      held.store(true);
      go_on_future.wait();
    }
  });
  QSignalSpy ended(&dialog, &tools::CSearchFileCopy::copyEnded);
  dialog.show();
  QTRY_VERIFY_WITH_TIMEOUT(held.load(), kWaitMs);
  QTRY_COMPARE_WITH_TIMEOUT(dialog.status_text(), QString("copying big.qvv 1/1"), kWaitMs);
  QCOMPARE(FolderNames(out).size(), size_t{1});  // the hidden partial copy

  dialog.close();
  QVERIFY(dialog.isVisible());
  for (Qt::Key key : {Qt::Key_Escape, Qt::Key_Return, Qt::Key_Enter}) {
    QTest::keyClick(&dialog, key);
    QTest::keyClick(CancelButton(dialog), key);
  }
  QVERIFY(dialog.isVisible());
  QVERIFY(dialog.copy().running());  // and the copy was not cancelled

  CancelButton(dialog)->click();
  QVERIFY(dialog.isVisible());  // the worker still holds
  go_on.set_value();
  QTRY_VERIFY_WITH_TIMEOUT(!dialog.isVisible(), kWaitMs);
  QCOMPARE(ended.count(), 1);
  QCOMPARE(ended.at(0).at(0).toBool(), false);
  QVERIFY(FolderNames(out).empty());
  QVERIFY(dialog.copy().finished());
}

void BackupDialogTest::TextsFollowTheLanguage() {
  const fs::path home = dir() / "home";
  fs::create_directories(home);
  app::AppConfig config(home / "setting.ini");
  QVERIFY(config.EnsureExists());
  app::LanguageResources languages(home, config, nullptr);
  languages.Select();  // writes the built-in language files
  languages.Select("Chinese");
  tools::CSearchFileCopy dialog({}, (dir() / "out4").string(), &languages);
  QCOMPARE(dialog.windowTitle(), QString::fromUtf8("备份"));
  QCOMPARE(CancelButton(dialog)->text(), QString::fromUtf8("取消"));
}

QTEST_MAIN(BackupDialogTest)
#include "BackupDialogTest.moc"
