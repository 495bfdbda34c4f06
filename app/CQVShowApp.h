#pragma once
// The application object: where the program keeps its files (the home
// folder), "setting.ini", the display language, the map type, the restart
// flag and the per-channel switch tables; it runs the main window until it
// closes and starts the program again when asked to. One exists per process
// (Instance()); the QApplication is made before it.
#include <QString>
#include <QStringList>
#include <memory>

#include "app/AppConfig.h"
#include "app/AppHome.h"
#include "app/AutomationServer.h"
#include "app/ChannelSwitches.h"
#include "app/CommandLine.h"
#include "app/LanguageResources.h"
#include "app/MessageBoxes.h"
#include "app/Restarter.h"

namespace app {

class CQVShowDlg;

class CQVShowApp {
 public:
  // `messages` and `launcher` may be null (message boxes, QProcess); tests
  // pass their own.
  explicit CQVShowApp(CommandLine command_line, MessageBoxes* messages = nullptr,
                      ProcessLauncher* launcher = nullptr);
  ~CQVShowApp();
  CQVShowApp(const CQVShowApp&) = delete;
  CQVShowApp& operator=(const CQVShowApp&) = delete;

  static CQVShowApp* Instance();

  // The home folder, "setting.ini" (the built-in default when missing), the
  // language, the map type and the switch tables. False when there is no
  // home folder to be had (the reason is on the standard error).
  bool Configure();
  // Creates the main window and runs it until it closes (or, with
  // --screenshot, until the picture is saved). The process's exit status.
  int Run();
  // `--map-demo FILE`: only the map, driven by FILE's GPS records.
  int RunMapDemo();
  // After the main window: the program starts again when the flag is set.
  void ExitInstance();

  const AppHome& home() const { return home_; }
  const AppConfig& config() const { return config_; }
  LanguageResources& languages() { return *languages_; }
  ChannelSwitches& switches() { return switches_; }
  const CommandLine& command_line() const { return command_line_; }
  MessageBoxes& messages() { return *messages_; }
  CQVShowDlg* main_window() const { return main_window_.get(); }
  int map_type() const { return map_type_; }
  // Panes shown when the main window opens ("ScreenNum"; the program never writes it).
  int screen_count() const { return config_.ReadInt("ScreenConfig", "ScreenNum", 8); }
  bool restart() const { return restart_; }
  void set_restart(bool restart) { restart_ = restart; }
  // The type of the recording named on the command line (0 qvv, 1 avi, 2 flv).
  int command_line_type = 0;

 private:
  CommandLine command_line_;
  MessageBoxes own_messages_;
  ProcessLauncher own_launcher_;
  MessageBoxes* messages_;
  ProcessLauncher* launcher_;
  AppHome home_;
  AppConfig config_{""};
  std::unique_ptr<LanguageResources> languages_;
  ChannelSwitches switches_;
  AutomationServer automation_;
  std::unique_ptr<CQVShowDlg> main_window_;
  int map_type_ = 2;
  bool restart_ = false;
};

}  // namespace app
