#pragma once
// The main window: a frameless 1208 x 800 window (at least 1024 x 768) that
// draws its own frame and title, is moved by dragging anywhere outside its
// controls and resized at its edges and corners. It holds the pane container,
// the map, the recording list, the search panel, the waveform panel and the
// strip of playback buttons, placed by the region layout (height factor k,
// width factor q, swap flag), and the playback engine behind the panes.
#include <QFrame>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QShortcut>
#include <QTimer>
#include <QWidget>
#include <filesystem>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "app/ControlStrip.h"
#include "app/GCEVideoLayoutDialog.h"
#include "app/PlayCommands.h"
#include "app/PlayerEngine.h"
#include "app/RecordingList.h"
#include "app/RegionLayout.h"
#include "app/ScanWorker.h"
#include "map/CEFMapDlg.h"
#include "tools/CRecTpyeSearch.h"
#include "views/CWaveDlg.h"
#include "playback/SensorWorker.h"
#include "app/WindowMessages.h"

class QDialog;
class QProgressDialog;

namespace app {

// The folder of the map pages: "images" beside the program, or $DRAVIK_MAP_PAGES.
std::filesystem::path MapPagesFolder();

class CQVShowApp;
class PropertyDialog;

class CQVShowDlg : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kDialogNumber = 102;
  static constexpr const char* kVersionSuffix = "  V1.4.0.2";
  static constexpr QMargins kMargins{6, 30, 6, 6};
  // Control identifiers kept for callers that name them.
  static constexpr int kIdClose = command::kClose;
  static constexpr int kIdLanguage = command::kLanguage;

  explicit CQVShowDlg(CQVShowApp& app, QWidget* parent = nullptr);
  ~CQVShowDlg() override;

  // Started by the session bus: closing only hides the window.
  void set_hide_on_close(bool hide) { hide_on_close_ = hide; }
  QMenu* language_menu() { return &language_menu_; }
  // The language menu's command 0x1000000 + i.
  void OnLanguageCommand(int command);
  // Every key-based text and the captions of dialog 102 again.
  void ReloadTexts();
  // The title drawn in the caption strip.
  QString title_text() const;

  // A button or command of the window (the numbers of ControlStrip.h).
  void OnCommand(int id);
  // A message of the panes, the container or the engine (window thread).
  platform::MsgParam OnMessage(uint32_t message, platform::MsgParam first, platform::MsgParam second);
  platform::MessageSink& messages() { return *messages_; }

  // What the command line names: "PATH" or "PATH,MAPKEY". A file's folder
  // and the folders beside it are listed, then the file's group plays; a
  // folder is listed and its first group plays. False when it names nothing.
  bool PlayPath(const QString& text);
  // Lists a folder (and every folder below it), as "OpenFile" does once a
  // folder is chosen. False when the path is too long.
  bool OpenFolderPath(const QString& folder);
  // Runs a modal dialog of the window (tests look at it instead).
  std::function<int(QDialog&)> run_dialog;
  // The folder picker (tests answer it themselves).
  std::function<QString(const QString& title, const QString& start)> pick_folder;

  // What the scans of the folder found, for the search panel and backup.
  struct ScanSummary {
    uint32_t types = 0;
    int64_t earliest = std::numeric_limits<int64_t>::max();
    int64_t latest = 0;
    std::vector<std::string> car_numbers;
    std::vector<std::string> paths;
  };
  const ScanSummary& scan_summary() const { return summary_; }
  RecordingList* recordings() const { return recordings_; }
  PlayCommands& commands() { return *commands_; }
  ScanWorker& scan() { return *scan_; }
  views::PositionBar* position_bar() const { return wave_->position_bar(); }
  views::CWaveDlg* wave_panel() const { return wave_; }
  QLabel* scan_status() const { return scan_status_; }

  GCEVideoLayoutDialog* container() const { return container_; }
  ControlStrip* controls() const { return controls_; }
  PlayerEngine& engine() { return *engine_; }
  const RegionFactors& factors() const { return factors_; }
  const Regions& regions() const { return regions_; }
  QWidget* map_region() const { return map_; }
  map::CEFMapDlg* map_view() const { return map_; }
  QWidget* list_region() const { return list_; }
  QWidget* search_region() const { return search_; }
  tools::CRecTpyeSearch* search_panel() const { return search_; }
  // The export's progress window while a clip is written (else null).
  QProgressDialog* export_progress() const { return export_progress_; }
  QWidget* wave_region() const { return wave_; }
  QPushButton* top_button(int id) const;
  bool muted() const { return muted_; }

 protected:
  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;

 private:
  void BuildLanguageMenu();
  void InstallShortcuts();
  void Relayout();
  void AddScannedRows(const std::vector<RecordingRow>& rows);
  void ScanFinished(bool update_search_panel);
  void Search();
  void BackUp();
  void StartExport(int start, int end);
  // `outcome`: 0, or the readers' kExportFailed / kExportEmpty.
  void ShowExportProgress(int percent, int outcome);
  void ShowPlayState(int state);
  void ShowRowMenu(int row, const QPoint& global_position);
  void ToggleMute();
  void ToggleFullScreen();
  void SetSpeed(int position);
  void OpenFolder();
  void OpenSettings();
  void ShowGroupProperties(int row);
  void ShowChannelProperties(int channel);
  void FillProperties(PropertyDialog& dialog, const RecordingRow& row);
  int RunDialog(QDialog& dialog);
  void OpenHelp();
  void ShowText(const char* key);
  QPushButton* AddTopButton(int id, const QString& text);

  CQVShowApp& app_;
  std::unique_ptr<WindowMessages> messages_;
  std::unique_ptr<PlayerEngine> engine_;
  GCEVideoLayoutDialog* container_ = nullptr;
  map::CEFMapDlg* map_ = nullptr;
  // Builds the map's whole track from the listed files in play-back mode.
  std::unique_ptr<playback::SensorWorker> sensor_;
  std::vector<std::string> track_files_;
  int track_generation_ = 0;
  void BuildMapTrack();
  QWidget* list_ = nullptr;  // the recording list and the scan's progress
  RecordingList* recordings_ = nullptr;
  QLabel* scan_status_ = nullptr;
  ScanWorker* scan_ = nullptr;
  PlayCommands* commands_ = nullptr;
  ScanSummary summary_;
  // The command line's file (or, empty, a folder's first group) plays once
  // the scan is done.
  std::optional<std::string> play_after_scan_;
  int recording_length_ = 0;
  QTimer volume_poll_;
  tools::CRecTpyeSearch* search_ = nullptr;
  QProgressDialog* export_progress_ = nullptr;
  // The list holds a search's result: the totals and plates stay the folder's.
  bool searching_ = false;
  views::CWaveDlg* wave_ = nullptr;
  ControlStrip* controls_ = nullptr;
  std::map<int, QPushButton*> top_buttons_;
  std::vector<QShortcut*> full_screen_shortcuts_;
  QMenu language_menu_;
  QTimer start_timer_;
  RegionFactors factors_;
  Regions regions_;
  bool map_shown_ = false;  // the map (or the panes) in the list's place
  bool muted_ = false;
  bool hide_on_close_ = false;
};

}  // namespace app
