// The settings dialog and the two properties dialogs on the offscreen
// platform, in a temporary home: what OK, Cancel and the controls that act at
// once leave in setting.ini (byte for byte where nothing may change), the
// switch tables, and the properties' texts.
#include <QAbstractButton>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <sstream>

#include "app/CQVShowApp.h"
#include "app/CSetting.h"
#include "app/FileProperty.h"
#include "app/SingleProperty.h"
#include "engine/ACSnapshotFilter.h"
#include "engine/EngineGlobals.h"

namespace {

struct RecordedMessages : app::MessageBoxes {
  void Show(const QString& text, const QString&) override { shown << text; }
  void ShowAndWait(const QString& text, const QString&) override { shown << text; }
  QStringList shown;
};

std::string Trimmed(const std::string& s) {
  const size_t b = s.find_first_not_of(" \t\r");
  return b == std::string::npos ? std::string() : s.substr(b, s.find_last_not_of(" \t\r") - b + 1);
}

// "section/key" -> value of every key in an INI text.
std::map<std::string, std::string> Keys(const std::string& text) {
  std::map<std::string, std::string> keys;
  std::istringstream in(text);
  std::string line, section;
  while (std::getline(in, line)) {
    line = Trimmed(line);
    if (line.empty() || line[0] == ';') continue;
    if (line[0] == '[') {
      section = line.substr(1, line.find(']') - 1);
      continue;
    }
    const size_t eq = line.find('=');
    keys[section + "/" + Trimmed(line.substr(0, eq))] = Trimmed(line.substr(eq + 1));
  }
  return keys;
}

// A home folder with the given setting.ini and the built-in language files.
struct Home {
  explicit Home(const std::string& ini) {
    std::ofstream(folder() / "setting.ini", std::ios::binary) << ini;
    app::CommandLine command_line;
    command_line.home = dir.path().toStdString();
    application = std::make_unique<app::CQVShowApp>(command_line, &messages);
    application->Configure();
  }
  std::filesystem::path folder() const { return dir.path().toStdString(); }
  std::string bytes() const {
    std::ifstream in(folder() / "setting.ini", std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }

  QTemporaryDir dir;
  RecordedMessages messages;
  std::unique_ptr<app::CQVShowApp> application;
};

const char* kSettings =
    "[Setting]\r\nLanguage=English\r\n\r\n[Lumivex]\r\nAudioChannel=3\r\nMirrorCh2 = 3\r\nOpenAlgCh5=1\r\n"
    "ScaleAspectFitCh12=1\r\nMapOffset=1\r\nShowMode=0\r\nMapType=1\r\n; kept as it is\r\n"
    "[ScreenConfig]\r\nScreenNum=4\r\n";

QAbstractButton* Button(const app::CSetting& d, int id) { return qobject_cast<QAbstractButton*>(d.control(id)); }
QComboBox* Transform(const app::CSetting& d, int channel) {
  return qobject_cast<QComboBox*>(d.control(app::CSetting::kIdFirstTransform + channel));
}
QLineEdit* Edit(const app::CSetting& d, int id) { return qobject_cast<QLineEdit*>(d.control(id)); }

void ExpectFields(const app::PropertyDialog& d, const std::map<int, QString>& texts) {
  for (const auto& [id, text] : texts) QCOMPARE(d.field(id)->text(), text);
}

}  // namespace

class DialogsTest : public QObject {
  Q_OBJECT

 private slots:
  void settingsOpenAsTheFileSaysAndCancelWritesNothing() {
    Home home(kSettings);
    app::ChannelSwitches& switches = home.application->switches();
    // Written after the program read its tables: opening takes it into them.
    QVERIFY(home.application->config().WriteInt("Lumivex", "MirrorCh3", 4));
    const std::string before = home.bytes();

    app::CSetting dialog(*home.application);
    bool show_mode_set = false;
    dialog.set_show_mode = [&](int) { show_mode_set = true; };
    dialog.show();
    QCOMPARE(dialog.windowTitle(), QString("Setting"));
    QCOMPARE(qobject_cast<QLabel*>(dialog.control(1151))->text(), QString("Channel 1"));
    QVERIFY(!Edit(dialog, 1052)->isVisible() && !dialog.control(1055)->isVisible());
    QCOMPARE(Edit(dialog, 1050)->text().toStdString(), engine::ACSnapshotFilter::DefaultSnapshotFolder());
    QCOMPARE(Transform(dialog, 0)->itemText(1), QString(" Flip horizontal"));
    QCOMPARE(Transform(dialog, 1)->currentIndex(), 3);
    QVERIFY(Button(dialog, 1145)->isChecked() && !Button(dialog, 1120)->isChecked());  // algorithm ch5, ch1
    QVERIFY(Button(dialog, 1060)->isChecked());                                        // aspect fit ch12
    QVERIFY(Button(dialog, 1039)->isChecked() && !Button(dialog, 1040)->isChecked());
    QVERIFY(Button(dialog, 1176)->isChecked() && Button(dialog, 1179)->isChecked());  // DirectDraw, Baidu
    QCOMPARE(switches.mirror[2], 4);
    QCOMPARE(engine::DisplaySettings(2).mirror.load(), 4);

    // Changed, then cancelled: the file as it was, the tables as opened.
    Transform(dialog, 2)->setCurrentIndex(1);
    Button(dialog, 1120)->click();
    Button(dialog, app::CSetting::kIdCancel)->click();
    QVERIFY(!dialog.isVisible());
    QCOMPARE(home.bytes(), before);
    QCOMPARE(engine::DisplaySettings(2).mirror.load(), 4);
    QVERIFY(!show_mode_set);
  }

  void settingsOkWritesExactlyItsKeys() {
    Home home(kSettings);
    const auto before = Keys(home.bytes());
    const std::filesystem::path snapshots = home.folder() / "snaps";
    std::filesystem::create_directory(snapshots);

    app::CSetting dialog(*home.application);
    std::vector<int> modes;
    dialog.set_show_mode = [&](int mode) { modes.push_back(mode); };
    QSignalSpy map_switches(&dialog, &app::CSetting::mapSwitchesChanged);
    dialog.show();
    Edit(dialog, 1050)->setText(QString::fromStdString(snapshots.string()));  // no trailing '/'
    Transform(dialog, 0)->setCurrentIndex(5);
    for (int id : {1120, 1060, 1039, 1040}) Button(dialog, id)->click();  // alg ch1 on, aspect ch12 off, map switches
    Button(dialog, app::CSetting::kIdOk)->click();
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QVERIFY(home.messages.shown.isEmpty());

    // Every key OK owns, no other (no RecPath: the record folder is empty).
    auto expected = before;
    for (int c = 1; c <= 12; ++c) {
      for (const char* name : {"MirrorCh", "OpenAlgCh", "ScaleAspectFitCh"})
        expected["Lumivex/" + std::string(name) + std::to_string(c)] = "0";
    }
    expected["Lumivex/SnapshotPath"] = snapshots.string() + "/";
    expected["Lumivex/MirrorCh1"] = "5";
    expected["Lumivex/MirrorCh2"] = "3";
    expected["Lumivex/OpenAlgCh1"] = "1";
    expected["Lumivex/OpenAlgCh5"] = "1";
    expected["Lumivex/MapOffset"] = "0";
    expected["Lumivex/MapPlayBack"] = "1";
    QCOMPARE(Keys(home.bytes()), expected);

    QCOMPARE(modes, std::vector<int>{0});
    QCOMPARE(map_switches.count(), 1);
    QCOMPARE(map_switches.at(0), (QList<QVariant>{0, 1}));
    QCOMPARE(engine::DisplaySettings(0).mirror.load(), 5);
    QCOMPARE(engine::DisplaySettings(0).overlay.load(), true);
    QCOMPARE(engine::DisplaySettings(11).aspect_fit.load(), false);
  }

  void foldersAreCheckedBeforeAnythingIsWritten() {
    Home home("[Setting]\r\nLanguage=English\r\n[Lumivex]\r\nSnapshotPath=/kept/\r\n");
    const std::string before = home.bytes();
    app::CSetting dialog(*home.application);
    QStringList asked;
    QString answer;
    dialog.set_folder_picker([&](QWidget*, const QString& title, const QString& start) {
      asked << title + "|" + start;
      return answer;
    });
    dialog.show();
    QLineEdit* snapshot = Edit(dialog, 1050);

    // The folder picker: nothing chosen, too long, then taken.
    QAbstractButton* browse = Button(dialog, 1053);
    browse->click();
    answer = "/" + QString(240, 'a');
    browse->click();
    QCOMPARE(home.messages.shown, QStringList{app::CSetting::kChosenTooLong});
    QCOMPARE(snapshot->text(), QString("/kept/"));
    answer.chop(1);
    browse->click();
    QCOMPARE(snapshot->text(), answer);
    QCOMPARE(asked[0], QString("Please select output directoy of photos|/kept/"));

    // Too long on OK: the dialog stays and nothing is written.
    snapshot->setText("/" + QString(240, 'b'));
    Button(dialog, app::CSetting::kIdOk)->click();
    QCOMPARE(home.messages.shown.last(), QString(app::CSetting::kSnapshotTooLong));
    snapshot->setText("/kept/");
    Edit(dialog, 1052)->setText(QString(241, 'c'));
    Button(dialog, app::CSetting::kIdOk)->click();
    QCOMPARE(home.messages.shown.last(), QString(app::CSetting::kRecordTooLong));
    QVERIFY(dialog.isVisible());
    QCOMPARE(home.bytes(), before);

    // A file is no folder: not written; an existing folder is.
    std::ofstream(home.folder() / "a-file") << "x";
    snapshot->setText(QString::fromStdString((home.folder() / "a-file").string()));
    std::filesystem::create_directory(home.folder() / "records");
    const std::string records = (home.folder() / "records/").string();
    Edit(dialog, 1052)->setText(QString::fromStdString(records));
    Button(dialog, app::CSetting::kIdOk)->click();
    QVERIFY(!dialog.isVisible());
    QCOMPARE(Keys(home.bytes()).at("Lumivex/SnapshotPath"), std::string("/kept/"));
    QCOMPARE(Keys(home.bytes()).at("Lumivex/RecPath"), records);
  }

  void aNewMapProviderIsWrittenOnlyWhenTheUserAgreesToRestart() {
    Home home(kSettings);
    const std::string before = home.bytes();
    app::CSetting dialog(*home.application);
    QStringList asked;
    bool agree = false;
    dialog.set_question([&](QWidget*, const QString& text, const QString& caption) {
      asked << caption + ": " + text;
      return agree;
    });
    int main_window_closed = 0;
    dialog.close_main_window = [&] { main_window_closed += dialog.isVisible() ? 100 : 1; };
    dialog.show();

    Button(dialog, 1179)->click();  // the provider in use: nothing to ask
    Button(dialog, 1181)->click();  // Bing, cancelled
    QCOMPARE(asked, QStringList{"ReStart: Restart Dravik to take it effect now?"});
    QVERIFY(Button(dialog, 1179)->isChecked() && !Button(dialog, 1181)->isChecked());
    QVERIFY(dialog.isVisible());
    QCOMPARE(home.bytes(), before);
    QVERIFY(!home.application->restart());

    agree = true;
    Button(dialog, 1180)->click();  // OSMap
    QVERIFY(home.application->restart());
    QCOMPARE(main_window_closed, 1);  // once, the dialog already closed
    auto expected = Keys(before);
    expected["Lumivex/MapType"] = "2";
    QCOMPARE(Keys(home.bytes()), expected);
  }

  void renderingRadiosWriteAtOnce() {
    Home home(kSettings);
    app::CSetting dialog(*home.application);
    dialog.show();
    Button(dialog, 1177)->click();  // GDI
    QCOMPARE(Keys(home.bytes()).at("Lumivex/ShowMode"), std::string("1"));
    Button(dialog, 1176)->click();  // DirectDraw
    QCOMPARE(Keys(home.bytes()).at("Lumivex/ShowMode"), std::string("0"));
  }

  void anotherLanguageHasNoTransformListsAndOkKeepsValidValues() {
    QCOMPARE(app::CSetting::TransformNames("Chinese")[3], QString(" 向右旋转90°"));
    QCOMPARE(app::CSetting::TransformNames("Русский").size(), 6);
    Home home("[Setting]\r\nLanguage=English\r\n[Lumivex]\r\nMirrorCh1=4\r\nMirrorCh2=9\r\nMirrorCh3=-1\r\n");
    std::ofstream(home.folder() / "Language" / "language_eo.ini", std::ios::binary)
        << app::EncodeLanguageFile("Esperanto", {{"IDD216_Title", "Agordoj"}});
    home.application->languages().Select("Esperanto");
    app::CSetting dialog(*home.application);
    dialog.show();
    QCOMPARE(dialog.windowTitle(), QString("Agordoj"));
    QCOMPARE(Transform(dialog, 0)->count(), 0);
    Button(dialog, app::CSetting::kIdOk)->click();
    const auto after = Keys(home.bytes());
    QCOMPARE(after.at("Lumivex/MirrorCh1"), std::string("4"));
    QCOMPARE(after.at("Lumivex/MirrorCh2"), std::string("0"));  // outside 0 .. 5: as recorded
    QCOMPARE(after.at("Lumivex/MirrorCh3"), std::string("0"));
  }

  void aFileThatCannotBeWrittenIsReported() {
    Home home(kSettings);
    // Writes go through a temporary beside the file: a folder in its place
    // (not empty, so a failed write cannot remove it) makes them fail.
    const std::filesystem::path blocker = home.folder() / ("setting.ini.tmp" + std::to_string(::getpid()));
    std::filesystem::create_directory(blocker);
    std::ofstream(blocker / "x") << "x";
    app::CSetting dialog(*home.application);
    dialog.set_question([](QWidget*, const QString&, const QString&) { return true; });
    int main_window_closed = 0;
    dialog.close_main_window = [&] { ++main_window_closed; };
    dialog.show();
    Button(dialog, 1181)->click();
    QCOMPARE(home.messages.shown, QStringList{app::CSetting::kNotSaved});
    QVERIFY(!home.application->restart() && main_window_closed == 0);
    QVERIFY(Button(dialog, 1179)->isChecked());
    Button(dialog, app::CSetting::kIdOk)->click();
    QCOMPARE(home.messages.shown.size(), 2);
  }

  void propertyTexts() {
    using namespace app::property;
    QCOMPARE(SizeText(1023), std::string("1023 B"));
    QCOMPARE(SizeText(1024), std::string("1.00 KB"));
    QCOMPARE(SizeText(1048575), std::string("1024.00 KB"));
    QCOMPARE(SizeText(1048576), std::string("1.00 MB"));
    QCOMPARE(SizeText(4831838208ull), std::string("4608.00 MB"));  // past 32 bits
    QCOMPARE(DurationText(3725), std::string("01:02:05"));
    QCOMPARE(DurationText(360000), std::string("100:00:00"));
    QCOMPARE(DurationText(-1), std::string("00:00:00"));
    QCOMPARE(BitRateText(1234567), std::string("1234.567 kbps"));
    app::ChannelVideo channels[8];
    channels[0].bit_rate = 2000000;
    channels[7].bit_rate = 500;
    QCOMPARE(TotalBitRateText(channels, 8), std::string("2000.500 kbps"));
    channels[1].bit_rate = channels[2].bit_rate = INT64_MAX;  // damaged: no overflow
    QVERIFY(TotalBitRateText(channels, 8).find("kbps") != std::string::npos);
  }

  void groupPropertiesShowEveryChannel() {
    Home home("[Setting]\r\nLanguage=English\r\n");
    QWidget owner;
    owner.setGeometry(40, 30, 720, 540);  // inside the offscreen screen's 800 x 600
    owner.show();
    app::FileProperty dialog(home.application->languages(), &owner);
    const QString path = "/media/recorder/" + QString(200, 'd') + "/20240315080000_CH01.qvv";
    dialog.set_path(path);
    dialog.set_extension(".qvv");
    dialog.set_file_size(1048576);
    dialog.set_duration(3725);
    dialog.set_channel(0, {1280, 720, 2000000, 25});
    dialog.set_channel(3, {640, 480, 500, 30});
    dialog.set_channel(8, {1, 1, 1, 1});  // there is no ninth
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));

    QCOMPARE(dialog.windowTitle(), QString("Property"));
    ExpectFields(dialog, {{1065, "File type:"},   {1174, "CH8 frame rate:"}, {1066, ".qvv"},
                          {1068, "1.00 MB"},      {1070, "01:02:05"},        {1072, "2000.500 kbps"},
                          {1078, "1280 X 720 "},  {1080, "2000.000 kbps"},   {1082, "25 fps"},
                          {1100, "30 fps"},  // not the language file's placeholder
                          {1084, "0 X 0 "},       {1086, "0.000 kbps"},      {1088, "0 fps"},
                          {1171, "0 X 0 "},       {1173, "0.000 kbps"},      {1175, "0 fps"}});

    // A long path is shortened in the middle; the whole of it is kept.
    const QString shown = dialog.field(1074)->text();
    QVERIFY2(shown.contains(QChar(0x2026)) && shown.size() < path.size(), qPrintable(shown));
    QVERIFY(shown.startsWith("/media/") && shown.endsWith("CH01.qvv"));
    QCOMPARE(dialog.field(1074)->toolTip(), path);
    QVERIFY(dialog.width() < owner.width());
    QVERIFY((dialog.geometry().center() - owner.geometry().center()).manhattanLength() <= 2);
  }

  void singlePropertiesShowTheirChannel() {
    Home home("[Setting]\r\nLanguage=English\r\n");
    app::SingleProperty dialog(home.application->languages());
    dialog.set_path("/r/a.avi");
    dialog.set_extension(".avi");
    dialog.set_file_size(1023);
    dialog.set_duration(59);
    dialog.set_channel({1920, 1080, 4096000, 30});
    dialog.show();
    ExpectFields(dialog, {{1077, "Resolution:"}, {1068, "1023 B"},        {1070, "00:00:59"},
                          {1072, "4096.000 kbps"}, {1074, "/r/a.avi"},    {1078, "1920 X 1080 "},
                          {1080, "4096.000 kbps"}, {1082, "30 fps"}});
  }
};

QTEST_MAIN(DialogsTest)
#include "DialogsTest.moc"
