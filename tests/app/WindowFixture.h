#pragma once
// What the window tests share: message boxes recorded instead of shown, a
// mixer device no machine has (so that every machine runs the window without
// a mixer alike), and a player window over its own home folder.
#include <QString>
#include <QStringList>
#include <QtTest>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "app/CQVShowApp.h"
#include "app/CQVShowDlg.h"
#include "app/WebEngineSetup.h"
#include "tests/support/Process.h"

namespace window_fixture {

// Qt WebEngine (the map's browser) is told before the application object
// exists: no sandbox as root, no GPU offscreen, shared OpenGL contexts.
inline const bool kWebEnginePrepared = (app::PrepareWebEngine(), true);

struct RecordedMessages : app::MessageBoxes {
  void Show(const QString& text, const QString& caption) override { shown << caption + ": " + text; }
  void ShowAndWait(const QString& text, const QString& caption) override { shown << caption + ": " + text; }
  QStringList shown;
};

// Points ALSA at card 31 and SDL at its dummy driver; `dir` keeps the configuration.
inline void UseNoMixer(const QString& dir) {
  const std::string file = dir.toStdString() + "/nocard.conf";
  std::ofstream(file) << "ctl.!default { type hw card 31 }\n";
  setenv("ALSA_CONFIG_PATH", file.c_str(), 1);
  setenv("SDL_AUDIODRIVER", "dummy", 1);
}

struct Player {
  explicit Player(const QString& home) : application(Command(home), &messages) {
    application.Configure();
    window = std::make_unique<app::CQVShowDlg>(application);
    window->show();
  }
  static app::CommandLine Command(const QString& home) {
    app::CommandLine c;
    c.home = home.toStdString();
    return c;
  }
  RecordedMessages messages;
  app::CQVShowApp application;
  std::unique_ptr<app::CQVShowDlg> window;
};

// Waits (processing events) until the engine plays, at most 20 s.
inline bool WaitPlaying(app::CQVShowDlg& window) {
  return QTest::qWaitFor([&] { return window.engine().playing() && !window.engine().start_failed(); }, 20000);
}

// Waits until the folder scan is done, at most 60 s.
inline bool WaitScanned(app::CQVShowDlg& window) {
  return QTest::qWaitFor([&] { return !window.scan().running(); }, 60000);
}

#ifdef DRAVIK_TOOL
// Runs dravik-tool mksample into `dir` and gives the files it wrote, sorted.
inline QStringList MakeSamples(const std::string& dir, const std::string& options) {
  std::string out;
  if (testing_support::RunShell(std::string(DRAVIK_TOOL) + " mksample '" + dir + "' " + options +
                                    " --width 160 --height 96 --audio none",
                                &out) != 0)
    return {};
  QStringList files = QString::fromStdString(out).split('\n', Qt::SkipEmptyParts);
  files.sort();
  return files;
}

// Moves `from` to `folder`, with `start` in place of the start time its name
// begins with.
inline std::string MoveRenamed(const QString& from, const std::filesystem::path& folder, const std::string& start,
                        const std::string& extension = {}) {
  std::string name = std::filesystem::path(from.toStdString()).filename().string();
  name.replace(0, 14, start);
  if (!extension.empty()) name = std::filesystem::path(name).replace_extension(extension).string();
  std::filesystem::create_directories(folder);
  std::filesystem::rename(from.toStdString(), folder / name);
  return (folder / name).string();
}

#endif

}  // namespace window_fixture
