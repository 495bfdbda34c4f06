// The player window on the offscreen platform: the pane container's layouts,
// pages, drags, menu and full screen; the region layout at its extremes; the
// engine behind the panes playing a real recording; closing while it plays;
// the sound button with and without a mixer.
#include <QMouseEvent>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "app/CQVShowApp.h"
#include "app/CQVShowDlg.h"
#include "app/PaneMenu.h"
#include "app/RecordingGroup.h"
#include "playback/PlaybackControl.h"
#include "tests/app/WindowFixture.h"
#include "tests/support/Process.h"

using window_fixture::Player;
using window_fixture::WaitPlaying;
using window_fixture::WaitScanned;

namespace {

// A message sink that answers the channel counts and keeps what was posted.
struct RecordedSink : platform::MessageSink {
  void Post(uint32_t message, platform::MsgParam first, platform::MsgParam) override { posted.push_back({message, first}); }
  platform::MsgParam Send(uint32_t message, platform::MsgParam, platform::MsgParam) override {
    return message == platform::msg::kChannelCount ? 12 : 0;
  }
  std::vector<std::pair<uint32_t, platform::MsgParam>> posted;
};

// The panes' area of a grab: how many of its pixels are not black, and a sum
// that changes with the pictures.
struct PaneArea {
  int lit = 0;
  quint64 sum = 0;
};
PaneArea Measure(const QImage& image, const QRect& area) {
  PaneArea a;
  for (int y = area.top(); y <= area.bottom(); y += 2) {
    for (int x = area.left(); x <= area.right(); x += 2) {
      const QRgb p = image.pixel(x, y);
      if (qRed(p) + qGreen(p) + qBlue(p) > 60) ++a.lit;
      a.sum = a.sum * 1000003u + p;
    }
  }
  return a;
}

}  // namespace

class PlayerWindowTest : public QObject {
  Q_OBJECT

  QTemporaryDir dir_;
  std::string sample_;
  std::optional<std::string> saved_alsa_;

 private slots:
  void initTestCase() {
    if (const char* old = std::getenv("ALSA_CONFIG_PATH")) saved_alsa_ = old;
    window_fixture::UseNoMixer(dir_.path());
    sample_ = testing_support::MakeSampleQvv(DRAVIK_TOOL, dir_.path().toStdString() + "/samples", 4, 6);
    QVERIFY(!sample_.empty());
  }

  void cleanupTestCase() {
    if (saved_alsa_) setenv("ALSA_CONFIG_PATH", saved_alsa_->c_str(), 1);
    else unsetenv("ALSA_CONFIG_PATH");
  }

  void everyLayoutPlacesThePanesByTheGeometryRules() {
    RecordedSink sink;
    app::GCEVideoLayoutDialog container(&sink, nullptr);
    container.resize(960, 720);
    container.show();
    for (int count : {1, 4, 6, 8, 9, 10, 12, 13, 16, 17, 25, 36, 5, 0}) {
      container.SetLayoutByCount(count);
      const app::PaneLayout layout = container.layout();
      QCOMPARE(container.maximised(), -1);
      QRegion covered;
      int visible = 0;
      for (int p = 0; p < app::kPanes; ++p) {
        const auto expected = app::PaneRect(layout, p, 0, -1, container.size());
        QVERIFY(expected.has_value());
        const app::GCEVideoDialog* pane = container.PaneAt(p);
        QCOMPARE(pane->geometry(), pane->isVisible() ? *expected : pane->geometry());
        QCOMPARE(pane->isVisible(), !expected->isEmpty());
        if (!pane->isVisible()) continue;
        ++visible;
        QVERIFY2(!covered.intersects(pane->geometry()), qPrintable(QString("count %1 position %2").arg(count).arg(p)));
        covered += pane->geometry();
      }
      QCOMPARE(visible, std::min(layout.count, app::kPanes));
      if (layout.count <= app::kPanes && layout.style != 3)
        QCOMPARE(covered, QRegion(container.rect()));  // no gap either
    }
    // Twelve: one large pane of 5/6 of each side, eleven small ones around it.
    container.SetLayoutByCount(12);
    QCOMPARE(container.PaneAt(0)->geometry(), QRect(0, 0, 5 * 960 / 6, 5 * 720 / 6));
    for (int p = 1; p < 12; ++p) QCOMPARE(container.PaneAt(p)->size(), QSize(960 / 6, 720 / 6));
  }

  void fourPanesHaveTwoPagesAndSingleViewWalksTheChannels() {
    RecordedSink sink;
    app::GCEVideoLayoutDialog container(&sink, nullptr);
    container.resize(800, 600);
    container.show();
    container.SetLayoutByCount(4);
    // The channels of the page on top: the panes of the positions from the
    // first one used (those before it are not moved, and lie underneath).
    auto shown = [&] {
      QList<int> on_top;
      for (int p = container.first_position(); p < container.first_position() + 4; ++p) {
        const app::GCEVideoDialog* pane = container.PaneAt(p);
        if (pane->isVisible() && container.childAt(pane->geometry().center()) == pane) on_top << pane->channel();
      }
      return on_top;
    };
    QCOMPARE(shown(), (QList<int>{0, 1, 2, 3}));
    container.NextPage();
    QCOMPARE(container.selected_channel(), 4);
    QCOMPARE(shown(), (QList<int>{4, 5, 6, 7}));
    QCOMPARE(container.PaneAt(4)->geometry(), QRect(0, 0, 400, 300));
    // Channel 6 selected on the second page: "next page" goes back to 1 .. 4.
    container.SelectChannel(5);
    container.NextPage();
    QCOMPARE(container.selected_channel(), 0);
    QCOMPARE(shown(), (QList<int>{0, 1, 2, 3}));
    QCOMPARE(container.PaneAt(0)->geometry(), QRect(0, 0, 400, 300));
    // A drag on the second page swaps with the page's pane, not with the
    // first page's pane underneath it.
    container.NextPage();
    QVERIFY(container.DropPane(4, container.mapToGlobal(container.PaneAt(5)->geometry().center())));
    QCOMPARE(container.PaneAt(5)->channel(), 4);
    QCOMPARE(container.PaneAt(1)->channel(), 1);
    container.RestoreDefaultOrder();
    container.NextPage();
    // With eight panes the page buttons do nothing.
    container.SetLayoutByCount(8);
    container.NextPage();
    QCOMPARE(container.selected_channel(), 0);
    // Single view: the selected channel alone; then the next, and back from 1 to 12.
    container.ShowSingle();
    QCOMPARE(container.maximised(), 0);
    QCOMPARE(container.pane(0)->geometry(), container.rect());
    QVERIFY(!container.pane(1)->isVisible());
    container.ShowSingle();
    QCOMPARE(container.selected_channel(), 1);
    QCOMPARE(container.pane(1)->geometry(), container.rect());
    container.PreviousPage();
    container.PreviousPage();
    QCOMPARE(container.selected_channel(), 11);
    QVERIFY(container.pane(11)->isVisible());
    // Double-click maximises and restores; the selection is told to the window.
    container.SetLayoutByCount(9);
    QTest::mouseClick(container.pane(2), Qt::LeftButton);
    QTest::mouseDClick(container.pane(2), Qt::LeftButton);
    QCOMPARE(container.maximised(), 2);
    QTest::mouseDClick(container.pane(2), Qt::LeftButton);
    QCOMPARE(container.maximised(), -1);
    QCOMPARE(container.pane(2)->geometry(), app::PaneRect(container.layout(), 2, 0, -1, container.size()).value());
    QVERIFY(std::find(sink.posted.begin(), sink.posted.end(), std::make_pair(platform::msg::kPaneSelected, platform::MsgParam{2})) !=
            sink.posted.end());
  }

  void dropsOutsideEveryPaneChangeNothingAndDefaultScreenUndoesSwaps() {
    RecordedSink sink;
    app::GCEVideoLayoutDialog container(&sink, nullptr);
    container.resize(800, 600);
    container.show();
    container.SetLayoutByCount(9);
    auto order = [&] {
      QList<int> o;
      for (int p = 0; p < 12; ++p) o << container.PaneAt(p)->channel();
      return o;
    };
    const QList<int> initial = order();
    // Nine panes leave positions 9 .. 11 hidden: dropping where nothing shows.
    for (const QPoint outside : {QPoint(-5, 10), QPoint(805, 300), QPoint(400, 640), QPoint(-100, -100)}) {
      QVERIFY(!container.DropPane(0, container.mapToGlobal(outside)));
      QCOMPARE(order(), initial);
    }
    // A real drag: press on channel 1, move, release over channel 9's pane.
    app::GCEVideoDialog* first = container.pane(0);
    const QPoint target = container.pane(8)->geometry().center();
    QTest::mousePress(first, Qt::LeftButton, {}, QPoint(10, 10));
    QMouseEvent move(QEvent::MouseMove, QPointF(60, 60), first->mapToGlobal(QPointF(60, 60)), Qt::NoButton, Qt::LeftButton,
                     Qt::NoModifier);
    QApplication::sendEvent(first, &move);
    const QPointF local = first->mapFromGlobal(container.mapToGlobal(QPointF(target)));
    QMouseEvent release(QEvent::MouseButtonRelease, local, container.mapToGlobal(QPointF(target)), Qt::LeftButton,
                        Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(first, &release);
    QCOMPARE(container.PaneAt(8)->channel(), 0);
    QCOMPARE(container.PaneAt(0)->channel(), 8);
    QVERIFY(container.DropPane(3, container.mapToGlobal(container.PaneAt(1)->geometry().center())));
    QVERIFY(order() != initial);
    container.RunMenuCommand(0, app::kMenuDefaultScreen);
    QCOMPARE(order(), initial);
    QCOMPARE(container.pane(0)->geometry(), app::PaneRect(container.layout(), 0, 0, -1, container.size()).value());
  }

  void thePaneMenuFollowsTheStateAndTheLanguage() {
    RecordedSink sink;
    app::GCEVideoLayoutDialog container(&sink, nullptr);
    std::string language = "English";
    container.language_name = [&] { return language; };
    QMenu menu;
    container.FillMenuFor(3, &menu);
    QStringList texts;
    for (QAction* a : menu.actions()) texts << (a->isSeparator() ? "-" : a->text());
    QCOMPARE(texts, (QStringList{"Exit Fullscreen", "Default Screen", "-", "Mute", "Audio 1", "Audio 2", "Audio 3",
                                 "Audio 4", "Audio 5", "Audio 6", "Audio 7", "Audio 8", "-", "Close", "Open",
                                 "Property"}));
    auto action = [&](int command) {
      for (QAction* a : menu.actions())
        if (a->data().toInt() == command) return a;
      return static_cast<QAction*>(nullptr);
    };
    QVERIFY(!action(app::kMenuExitFullscreen)->isEnabled());
    QVERIFY(action(app::kMenuClose)->isEnabled());
    QVERIFY(!action(app::kMenuOpen)->isEnabled());
    QVERIFY(!action(app::kMenuProperty)->isEnabled());
    QVERIFY(action(app::kMenuAudio1)->isChecked());
    // Close, Property and an audio channel, each told where it belongs.
    QSignalSpy closed(&container, &app::GCEVideoLayoutDialog::channelClosedChanged);
    container.RunMenuCommand(3, app::kMenuClose);
    QCOMPARE(closed.size(), 1);
    QVERIFY(container.channel_closed(3));
    container.SetChannelHasRecording(3, true);
    container.RunMenuCommand(3, app::kMenuAudio1 + 2);
    container.RunMenuCommand(3, app::kMenuProperty);
    container.FillMenuFor(3, &menu);
    QVERIFY(!action(app::kMenuClose)->isEnabled());
    QVERIFY(action(app::kMenuOpen)->isEnabled());
    QVERIFY(action(app::kMenuProperty)->isEnabled());
    QVERIFY(action(app::kMenuAudio1 + 2)->isChecked());
    QCOMPARE(container.pane(0)->audio_indicator(), 3);
    container.RunMenuCommand(3, app::kMenuMute);
    QCOMPARE(container.audio_channel(), app::GCEVideoLayoutDialog::kMuted);
    QCOMPARE(container.pane(5)->audio_indicator(), 0);
    const std::vector<std::pair<uint32_t, platform::MsgParam>> told{
        {platform::msg::kAudioChannel, 2}, {platform::msg::kChannelProperties, 3}, {platform::msg::kAudioChannel, -10}};
    QVERIFY(std::search(sink.posted.begin(), sink.posted.end(), told.begin(), told.end()) != sink.posted.end());
    language = "Russian";
    container.FillMenuFor(3, &menu);
    QCOMPARE(menu.actions().at(1)->text(), QString::fromUtf8("Экран по умолчанию"));
    language = "Deutsch";  // no menu of its own: the English one
    container.FillMenuFor(3, &menu);
    QCOMPARE(menu.actions().at(1)->text(), QString("Default Screen"));
  }

  void fullScreenHidesTheWindowAndEscapeRestoresIt() {
    Player player(dir_.path() + "/fullscreen");
    app::CQVShowDlg& window = *player.window;
    app::GCEVideoLayoutDialog* container = window.container();
    const QRect before = container->geometry();
    window.OnCommand(app::command::kFullScreen);
    QVERIFY(container->full_screen());
    QVERIFY(!window.isVisible());
    QVERIFY(container->isWindow());
    QCOMPARE(container->windowTitle(), QString("Lumi Vex"));
    QCOMPARE(container->geometry(), QGuiApplication::primaryScreen()->geometry());
    QTest::keyClick(container->pane(0), Qt::Key_Escape);
    QVERIFY(!container->full_screen());
    QVERIFY(window.isVisible());
    QCOMPARE(container->parentWidget(), &window);
    QCOMPARE(container->geometry(), before);
    // F goes in as well (a shortcut of the whole program) and Escape comes back out.
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    QTest::keyClick(&window, Qt::Key_F);
    QVERIFY(container->full_screen());
    // The program's keys work in full screen too (the main window is hidden).
    QVERIFY(QTest::qWaitForWindowActive(container));
    QTest::keyClick(container, Qt::Key_BracketRight);
    QCOMPARE(window.controls()->speed()->value(), 5);
    QTest::keyClick(container, Qt::Key_Escape);
    QVERIFY(!container->full_screen());
    QVERIFY(window.isVisible());
    // Leaving full screen where the layout has no room for the panes keeps them hidden.
    for (int i = 0; i < 3; ++i) window.OnCommand(app::command::kNarrow);
    QVERIFY(!container->isVisible());
    container->EnterFullScreen();
    container->LeaveFullScreen();
    QVERIFY(!container->isVisible());
  }

  void theRegionsAtWidthFactorsZeroAndThreeAndTheSwap() {
    const QSize client(1208, 800);
    const QMargins m = app::CQVShowDlg::kMargins;
    app::RegionFactors f;
    f.q = 3;
    app::Regions r = app::ComputeRegions(client, m, f);
    QVERIFY(r.list.isEmpty() && r.search.isEmpty() && r.buttons.isEmpty());  // no right column
    QCOMPARE(r.panes.width(), 1208 - 12 - 11);
    f.q = 0;
    r = app::ComputeRegions(client, m, f);
    QVERIFY(r.panes.isEmpty());  // no room for the panes
    QCOMPARE(r.list.x(), m.left());
    QCOMPARE(r.search.width(), 1208 - 12 - 4);
    f = {};
    r = app::ComputeRegions(client, m, f);
    const int w = 1208 - 12, h = 800 - 36 - 2;
    QCOMPARE(r.panes, QRect(6, 30, 2 * w / 3 - 11, 3 * h / 4));
    QCOMPARE(r.wave, QRect(6, 30 + 3 * h / 4, w - 2, h / 4 - 60));
    QCOMPARE(r.search, QRect(6 + 2 * w / 3, 30 + 3 * h / 4 - 100, w / 3 - 4, 100));
    f.swap = true;
    const app::Regions swapped = app::ComputeRegions(client, m, f);
    QCOMPARE(swapped.map, r.panes);
    QCOMPARE(swapped.panes, r.map);
    f.map_only = true;
    f.k = 3;
    r = app::ComputeRegions(client, m, f);
    QCOMPARE(r.map, QRect(6, 30, w, h / 4));
    QVERIFY(r.panes.isEmpty() && r.search.isEmpty());
    // The frame: corners and edges resize, the rest moves.
    QCOMPARE(app::FrameEdgesAt(client, {3, 3}), Qt::TopEdge | Qt::LeftEdge);
    QCOMPARE(app::FrameEdgesAt(client, {1200, 795}), Qt::BottomEdge | Qt::RightEdge);
    QCOMPARE(app::FrameEdgesAt(client, {600, 2}), Qt::Edges(Qt::TopEdge));
    QCOMPARE(app::FrameEdgesAt(client, {600, 10}), Qt::Edges());

    // The window's widgets follow: at 3 the right column's widgets hide, at 0 the panes.
    Player player(dir_.path() + "/regions");
    app::CQVShowDlg& window = *player.window;
    QCOMPARE(window.size(), QSize(1208, 800));
    QCOMPARE(window.minimumSize(), QSize(1024, 768));
    QCOMPARE(window.title_text(), QString("HD Video PlayBack System  V1.4.0.2"));
    window.OnCommand(app::command::kWiden);
    QCOMPARE(window.factors().q, 3);
    window.OnCommand(app::command::kWiden);
    QCOMPARE(window.factors().q, 3);
    QVERIFY(!window.list_region()->isVisible() && !window.search_region()->isVisible());
    QVERIFY(window.container()->isVisible());
    for (int i = 0; i < 4; ++i) window.OnCommand(app::command::kNarrow);
    QCOMPARE(window.factors().q, 0);
    QVERIFY(!window.container()->isVisible());
    QVERIFY(window.list_region()->isVisible());
    // The waveform panel's height message cycles k and re-lays.
    const int wave = window.wave_region()->height();
    window.messages().Send(platform::msg::kWaveHeight, 0, 0);
    QCOMPARE(window.factors().k, 2);
    QVERIFY(window.wave_region()->height() > wave);
  }

  void theWindowPlaysARecordingIntoItsPanes() {
    Player player(dir_.path() + "/play");
    app::CQVShowDlg& window = *player.window;
    QVERIFY(window.engine().created());
    QVERIFY(window.PlayPath(QString::fromStdString(sample_)));
    QVERIFY(WaitPlaying(window));
    // Every channel of the recording draws into its pane.
    QVERIFY(QTest::qWaitFor(
        [&] {
          for (int c = 0; c < 4; ++c)
            if (window.container()->pane(c)->counters().taken == 0) return false;
          return true;
        },
        20000));
    const QRect panes = window.container()->geometry();
    const int samples = (panes.width() / 2) * (panes.height() / 2);
    // The recording's pictures fill the panes (not black) ...
    QImage first;
    QVERIFY2(QTest::qWaitFor(
                 [&] {
                   first = window.grab().toImage();
                   return Measure(first, panes).lit > samples / 4;
                 },
                 20000),
             qPrintable(QString("lit %1 of %2").arg(Measure(first, panes).lit).arg(samples)));
    const PaneArea a = Measure(first, panes);
    // ... and move.
    QImage second;
    QVERIFY2(QTest::qWaitFor(
                 [&] {
                   second = window.grab().toImage();
                   return Measure(second, panes).sum != a.sum;
                 },
                 20000),
             "the pictures move");
    const PaneArea b = Measure(second, panes);
    QVERIFY(b.lit > samples / 4);
    // A channel without pictures shows the blank picture once it waited a second.
    QVERIFY(QTest::qWaitFor([&] { return !window.container()->pane(6)->current().isNull(); }, 20000));
    const QImage blank = window.container()->pane(6)->current();
    QVERIFY(qRed(blank.pixel(blank.width() / 2, blank.height() / 2)) < 30);  // black, not green
    QVERIFY(qGreen(blank.pixel(blank.width() / 2, blank.height() / 2)) < 30);

    // Keys: pause stops the pictures, the speed keys move the slider.
    QTest::keyClick(&window, Qt::Key_Space);
    QVERIFY(window.engine().paused());
    QTest::keyClick(&window, Qt::Key_BracketRight);
    QCOMPARE(window.controls()->speed()->value(), 5);
    QTest::keyClick(&window, Qt::Key_BracketLeft);
    QTest::keyClick(&window, Qt::Key_BracketLeft);
    QCOMPARE(window.controls()->speed()->value(), 3);
    QCOMPARE(window.engine().speed_position(), 3);
    QTest::keyClick(&window, Qt::Key_Space);
    QVERIFY(window.engine().playing());
    // The clock's reports give the position (twice the second, plus the
    // backward flag); Left and Right seek from it.
    window.messages().Send(platform::msg::kProgress, 6, 2 * 3);
    QCOMPARE(window.engine().position(), 3);
    QTest::keyClick(&window, Qt::Key_Right);
    QCOMPARE(playback::Control().seek_target_seconds.load(), 8);
    QTest::keyClick(&window, Qt::Key_Left);
    QTest::keyClick(&window, Qt::Key_Left);
    QCOMPARE(playback::Control().seek_target_seconds.load(), 0);
    QVERIFY(window.engine().playing());
    // No mixer here: the sound button says so.
    QTest::keyClick(&window, Qt::Key_M);
    QVERIFY(!window.muted());
    QCOMPARE(player.messages.shown.size(), 1);
    QVERIFY(player.messages.shown.front().endsWith("Audio can not be used"));
  }

  void aFolderPlaysItsFirstGroupAndNothingPlayableSaysSo() {
    Player player(dir_.path() + "/folder");
    app::CQVShowDlg& window = *player.window;
    QVERIFY(window.PlayPath(QString::fromStdString(std::filesystem::path(sample_).parent_path().string())));
    QVERIFY(WaitScanned(window));
    QVERIFY(window.engine().has_group());
    QCOMPARE(window.engine().group()->qvv, sample_);
    QVERIFY(WaitPlaying(window));
    QVERIFY(!window.PlayPath(dir_.path() + "/no-such-file.qvv"));
    QCOMPARE(player.messages.shown.size(), 1);
    QVERIFY(player.messages.shown.front().endsWith("File no Exists or removed"));
  }

  void closingWhilePlayingTearsDownEveryTime() {
    for (int i = 0; i < 20; ++i) {
      Player player(dir_.path() + "/close");
      app::CQVShowDlg& window = *player.window;
      QVERIFY(window.PlayPath(QString::fromStdString(sample_)));
      // Sometimes while the decoders start, sometimes while it plays.
      if (i % 2) QVERIFY(WaitPlaying(window));
      QTest::qWait(i * 15);
      QVERIFY(window.close());
      QVERIFY(!window.engine().created());
      // Every engine thread ended within its limit: none was left running.
      QVERIFY2(!window.engine().threads_left(), qPrintable(QString("round %1").arg(i)));
    }
  }

  void theAudioChannelIsKeptForTheNextStart() {
    const QString home = dir_.path() + "/audio";
    {
      Player player(home);
      player.window->container()->RunMenuCommand(0, app::kMenuAudio1 + 5);
    }
    Player again(home);
    QCOMPARE(again.window->container()->audio_channel(), 5);
    QCOMPARE(again.window->container()->pane(5)->audio_indicator(), 6);
  }
};

QTEST_MAIN(PlayerWindowTest)
#include "PlayerWindowTest.moc"
