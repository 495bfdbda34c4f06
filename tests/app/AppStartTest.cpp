// The player's start-up on the offscreen platform: the home folder's files on
// a first start, language files and switching, a folder that cannot be
// written, restart, the command line and the screenshot of the real program.
#include <QAction>
#include <QImage>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/AutomationServer.h"
#include "app/CQVShowApp.h"
#include "app/CQVShowDlg.h"
#include "app/CommandLine.h"
#include "app/LanguageResources.h"
#include "app/WebEngineSetup.h"
#include "engine/EngineGlobals.h"

namespace {

struct RecordedMessages : app::MessageBoxes {
  void Show(const QString& text, const QString& caption) override { shown << caption + ": " + text; }
  void ShowAndWait(const QString& text, const QString& caption) override { shown << caption + ": " + text; }
  QStringList shown;
};

struct RecordedLauncher : app::ProcessLauncher {
  bool StartDetached(const QString& program, const QStringList& arguments) override {
    started << program + " " + arguments.join(' ');
    return succeed;
  }
  bool succeed = true;
  QStringList started;
};

std::string ReadBytes(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

app::CommandLine Home(const QString& dir) {
  app::CommandLine c;
  c.home = dir.toStdString();
  return c;
}

// A language file as a user would drop it in: UTF-16LE with a byte-order mark.
void WriteLanguage(const std::filesystem::path& path, const char* name,
                   const std::vector<std::pair<std::string_view, std::string_view>>& strings) {
  std::ofstream(path, std::ios::binary) << app::EncodeLanguageFile(name, strings);
}

}  // namespace

class AppStartTest : public QObject {
  Q_OBJECT

 private slots:
  void firstStartWritesTheDefaultsAndUsesEnglish() {
    QTemporaryDir dir;
    RecordedMessages messages;
    const std::filesystem::path home = dir.path().toStdString();
    {
      app::CQVShowApp application(Home(dir.path()), &messages);
      application.Configure();
      QCOMPARE(ReadBytes(home / "setting.ini"), std::string("[Setting]\r\nLanguage=English\r\n"));
      for (const char* f : {"language_eng.ini", "language_ch.ini", "language_jp.ini", "language_ru.ini"}) {
        const std::string bytes = ReadBytes(home / "Language" / f);
        QVERIFY2(bytes.size() > 100 && bytes.compare(0, 2, "\xFF\xFE") == 0, f);
        QVERIFY2(bytes.find(std::string("\r\0\n\0", 4)) != std::string::npos, f);
      }
      QCOMPARE(application.languages().file().filename().string(), std::string("language_eng.ini"));
      QCOMPARE(application.languages().Text("IDS_TIPS_CLOSE"), std::string("Close"));
      QCOMPARE(application.languages().Text("IDS_NO_SUCH_KEY"), std::string("Not found"));
      QCOMPARE(application.map_type(), 2);
      QCOMPARE(application.screen_count(), 8);
      app::CQVShowDlg window(application);
      QCOMPARE(window.windowTitle(), QString("HD Video PlayBack System"));
    }
    QVERIFY(messages.shown.isEmpty());
    // The file is the same after a start that found it: the language is
    // written back, and the pane container's audio channel when it goes;
    // nothing else (ScreenNum least of all).
    const std::string kept("[Setting]\r\nLanguage=English\r\n\r\n[Lumivex]\r\nAudioChannel=0\r\n");
    QCOMPARE(ReadBytes(home / "setting.ini"), kept);
    app::CQVShowApp again(Home(dir.path()), &messages);
    again.Configure();
    QCOMPARE(ReadBytes(home / "setting.ini"), kept);

    // A deleted language folder is written again, and English is used.
    std::filesystem::remove_all(home / "Language");
    app::CQVShowApp third(Home(dir.path()), &messages);
    third.Configure();
    QVERIFY(std::filesystem::exists(home / "Language" / "language_ru.ini"));
    QCOMPARE(third.languages().current_name(), std::string("English"));
  }

  void aFifthLanguageIsListedAndSwitchingToItChangesEveryText() {
    QTemporaryDir dir;
    RecordedMessages messages;
    app::CQVShowApp application(Home(dir.path()), &messages);
    application.Configure();
    const std::filesystem::path home = dir.path().toStdString();
    WriteLanguage(home / "Language" / "language_eo.ini", "Esperanto",
                  {{"IDS_TIPS_CLOSE", "Fermi"}, {"IDD102_Title", "Video\\nLudilo"}, {"IDD102_1020", "Lingvo"}});
    app::CQVShowDlg window(application);
    const QList<QAction*> entries = window.language_menu()->actions();
    QCOMPARE(entries.size(), 5);
    int esperanto = -1, checked = 0;
    for (int i = 0; i < entries.size(); ++i) {
      QCOMPARE(entries[i]->data().toInt(), 0x1000000 + i);
      if (entries[i]->text() == "Esperanto") esperanto = i;
      checked += entries[i]->isChecked();
      if (entries[i]->isChecked()) QCOMPARE(entries[i]->text(), QString("English"));
    }
    QCOMPARE(checked, 1);
    QVERIFY(esperanto >= 0);

    window.language_menu()->triggered(entries[esperanto]);
    QVERIFY(entries[esperanto]->isChecked());
    QCOMPARE(ReadBytes(home / "setting.ini"), std::string("[Setting]\r\nLanguage=Esperanto\r\n"));
    QCOMPARE(window.windowTitle(), QString("Video\nLudilo"));  // "\n" in a value is a line break
    auto* close = window.findChild<QPushButton*>("close");
    auto* language = window.findChild<QPushButton*>("language");
    QCOMPARE(close->toolTip(), QString("Fermi"));
    QCOMPARE(language->text(), QString("Lingvo"));

    // The next start finds the language chosen.
    app::CQVShowApp next(Home(dir.path()), &messages);
    next.Configure();
    QCOMPARE(next.languages().file().filename().string(), std::string("language_eo.ini"));
    QCOMPARE(next.languages().Text("IDS_TIPS_BUTTONPLAY"), std::string("Not found"));
    QVERIFY(messages.shown.isEmpty());
  }

  void twoFilesOfOneLanguageTheFirstListedWins() {
    QTemporaryDir dir;
    const std::filesystem::path home = dir.path().toStdString();
    std::filesystem::create_directories(home / "Language");
    for (const char* f : {"a.ini", "b.ini", "c.INI"})
      WriteLanguage(home / "Language" / f, "Klingon", {{"IDS_TIPS_CLOSE", f}});
    std::ofstream(home / "Language" / "notes.txt") << "[Setting]\nLanguage=Klingon\n";
    std::ofstream(home / "setting.ini", std::ios::binary) << "[Setting]\r\nLanguage=Klingon\r\n";
    std::string first;
    for (const auto& e : std::filesystem::directory_iterator(home / "Language"))
      if (e.path().extension() != ".txt") {
        first = e.path().filename().string();
        break;
      }
    RecordedMessages messages;
    app::CQVShowApp application(Home(dir.path()), &messages);
    application.Configure();
    QCOMPARE(application.languages().Text("IDS_TIPS_CLOSE"), first);
    QCOMPARE(application.languages().List().size(), size_t{3});  // the .txt file is not a language file
    QVERIFY(!std::filesystem::exists(home / "Language" / "language_eng.ini"));  // a match writes nothing
  }

  void aFolderThatCannotBeWrittenSaysSoOncePerFileAndStillStarts() {
    // /proc takes no new files, not even from root.
    RecordedMessages messages;
    app::CQVShowApp application(Home("/proc"), &messages);
    application.Configure();
    const QString expected = QString("Dravik: ") + app::LanguageResources::kNoPermission;
    QCOMPARE(messages.shown.size(), 5);  // setting.ini and the four language files
    for (const QString& m : messages.shown) QCOMPARE(m, expected);
    QCOMPARE(application.map_type(), 2);
    QCOMPARE(application.languages().Text("IDS_TIPS_CLOSE"), std::string("Not found"));
    app::CQVShowDlg window(application);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCOMPARE(window.windowTitle(), QString("Dravik"));
  }

  void theSwitchTablesComeFromTheSettings() {
    QTemporaryDir dir;
    const std::filesystem::path home = dir.path().toStdString();
    std::ofstream(home / "setting.ini", std::ios::binary)
        << "[Setting]\r\nLanguage=English\r\n[Lumivex]\r\nMirrorCh2=3\r\nMirrorCh3=9\r\nOpenAlgCh12=1\r\n"
           "ScaleAspectFitCh1=1\r\nMapType=0\r\n";
    RecordedMessages messages;
    app::CQVShowApp application(Home(dir.path()), &messages);
    application.Configure();
    QCOMPARE(application.switches().mirror[1], 3);
    QCOMPARE(engine::DisplaySettings(1).mirror.load(), 3);
    QCOMPARE(engine::DisplaySettings(2).mirror.load(), 0);  // no such transform: drawn as recorded
    QVERIFY(engine::DisplaySettings(11).overlay.load());
    QVERIFY(!engine::DisplaySettings(10).overlay.load());
    QVERIFY(engine::DisplaySettings(0).aspect_fit.load());
    QCOMPARE(application.map_type(), 0);
    app::ChannelSwitches{}.Apply();
  }

  void theRestartStartsTheProgramAgainOrSaysWhyNot() {
    QTemporaryDir dir;
    RecordedMessages messages;
    RecordedLauncher launcher;
    {
      app::CQVShowApp application(Home(dir.path()), &messages, &launcher);
      application.Configure();
      application.ExitInstance();
      QVERIFY(launcher.started.isEmpty());
      application.set_restart(true);
      application.ExitInstance();
      QCOMPARE(launcher.started, QStringList{QCoreApplication::applicationFilePath() + " --home " + dir.path()});
      QVERIFY(messages.shown.isEmpty());
      launcher.succeed = false;
      application.ExitInstance();
    }
    QCOMPARE(messages.shown,
             QStringList{"Restart: CreateProcess failed. Please restart client by yourself"});
  }

  void theCommandLine() {
    app::CommandLine c = app::ParseCommandLine({"/data/rec", "--home", "/tmp/h", "--screenshot", "x.png", "--after", "2.5"});
    QCOMPARE(c.path, std::string("/data/rec"));
    QCOMPARE(c.home, std::string("/tmp/h"));
    QCOMPARE(c.screenshot, std::string("x.png"));
    QCOMPARE(c.after_seconds, 2.5);
    QVERIFY(c.error.empty());
    QVERIFY(app::ParseCommandLine({"/RegServer"}).regserver);
    QVERIFY(app::ParseCommandLine({"-Embedding"}).activated());
    QVERIFY(app::ParseCommandLine({"--automation"}).activated());
    QCOMPARE(app::ParseCommandLine({"/mnt"}).path, std::string("/mnt"));
    QVERIFY(!app::ParseCommandLine({"--home"}).error.empty());
    QVERIFY(!app::ParseCommandLine({"--after", "soon"}).error.empty());
    QVERIFY(!app::ParseCommandLine({"--frobnicate"}).error.empty());
    QVERIFY(!app::ParseCommandLine({"a.qvv", "b.qvv"}).error.empty());
    QCOMPARE(app::ParseCommandLine({"--screenshot", "x.png"}).after_seconds, 1.0);
    QVERIFY(app::ParseCommandLine({"--webEngineArgs", "--frobnicate"}).error.empty());
  }

  void theBrowserGetsNoSandboxAsRootAndNoDebuggingPortUnlessAsked() {
    std::map<std::string, const char*> env = {{"QT_QPA_PLATFORM", "offscreen"}};
    auto get = [&](const char* n) { return env.count(n) ? env[n] : nullptr; };
    app::WebEngineEnvironment plan = app::PlanWebEngineEnvironment(true, get);
    QCOMPARE(plan.set["QTWEBENGINE_DISABLE_SANDBOX"], std::string("1"));
    QVERIFY(plan.set["QTWEBENGINE_CHROMIUM_FLAGS"].find("--disable-gpu") != std::string::npos);
    QVERIFY(!plan.set.count("QTWEBENGINE_REMOTE_DEBUGGING"));
    plan = app::PlanWebEngineEnvironment(false, get);
    QVERIFY(!plan.set.count("QTWEBENGINE_DISABLE_SANDBOX"));
    env["DRAVIK_REMOTE_DEBUGGING"] = "9996";
    env["QTWEBENGINE_CHROMIUM_FLAGS"] = "--foo";
    plan = app::PlanWebEngineEnvironment(false, get);
    QCOMPARE(plan.set["QTWEBENGINE_REMOTE_DEBUGGING"], std::string("127.0.0.1:9996"));
    QVERIFY(plan.set["QTWEBENGINE_CHROMIUM_FLAGS"].rfind("--foo ", 0) == 0);
    env["DRAVIK_REMOTE_DEBUGGING"] = "0.0.0.0:9996";
    plan = app::PlanWebEngineEnvironment(false, get);
    QVERIFY(!plan.set.count("QTWEBENGINE_REMOTE_DEBUGGING"));
    QVERIFY(!plan.warning.empty());
  }

  void theServiceFileIsWrittenAndRemoved() {
    QTemporaryDir dir;
    qputenv("XDG_DATA_HOME", dir.path().toUtf8());
    const QString path = app::AutomationServer::ServiceFilePath();
    QCOMPARE(path, dir.path() + "/dbus-1/services/QVShow.Application.service");
    QString error;
    QVERIFY(app::AutomationServer::WriteServiceFile("/opt/my player/Dravik", &error));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(QString(file.readAll()),
             QString("[D-BUS Service]\nName=QVShow.Application\nExec=\"/opt/my player/Dravik\" --automation\n"));
    QVERIFY(app::AutomationServer::RemoveServiceFile(&error));
    QVERIFY(!QFile::exists(path));
    QVERIFY(app::AutomationServer::RemoveServiceFile(&error));  // nothing to remove is no failure
    qunsetenv("XDG_DATA_HOME");
  }

  void theProgramSavesAScreenshotOfItsWindowAndQuits() {
    QTemporaryDir dir;
    const QString home = dir.path() + "/home";
    const QString png = dir.path() + "/x.png";
    QProcess dravik;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.remove("DBUS_SESSION_BUS_ADDRESS");  // no session bus: no service, silently
    dravik.setProcessEnvironment(env);
    dravik.start(DRAVIK_EXE, {"--home", home, "--screenshot", png, "--after", "0.5"});
    QVERIFY(dravik.waitForFinished(60000));
    const QByteArray err = dravik.readAllStandardError();
    QCOMPARE(dravik.exitStatus(), QProcess::NormalExit);
    QVERIFY2(dravik.exitCode() == 0, err.constData());
    QCOMPARE(QString(dravik.readAllStandardOutput()).trimmed(), png);
    const QImage picture(png);
    QCOMPARE(picture.size(), QSize(1208, 800));
    // The pane container keeps the audio channel; nothing else is written.
    QCOMPARE(ReadBytes((home + "/setting.ini").toStdString()),
             std::string("[Setting]\r\nLanguage=English\r\n\r\n[Lumivex]\r\nAudioChannel=0\r\n"));
    QCOMPARE(QDir(home + "/Language").entryList({"*.ini"}).size(), 4);

    QProcess help;
    help.start(DRAVIK_EXE, {"--help"});
    QVERIFY(help.waitForFinished(30000));
    QCOMPARE(help.exitCode(), 0);
    QVERIFY(help.readAllStandardOutput().contains("--screenshot"));
    QProcess wrong;
    wrong.setProcessEnvironment(env);
    wrong.start(DRAVIK_EXE, {"--frobnicate"});
    QVERIFY(wrong.waitForFinished(30000));
    QCOMPARE(wrong.exitCode(), 2);
  }
};

// Qt WebEngine (the map's browser) is told before the application object exists.
static const bool kWebEnginePrepared = (app::PrepareWebEngine(), true);

QTEST_MAIN(AppStartTest)
#include "AppStartTest.moc"
