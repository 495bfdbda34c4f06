#pragma once
// The main window: a frameless 1208 x 800 window (at least 1024 x 768) that
// draws its own frame and title, is moved by dragging anywhere outside its
// controls and resized at its edges and corners. It holds the pane container,
// the map, the recording list, the search panel, the waveform panel and the
// strip of playback buttons, placed by the region layout (height factor k,
// width factor q, swap flag), and the playback engine behind the panes.
#include <QFrame>
#include <QMenu>
#include <QPushButton>
#include <QShortcut>
#include <QTimer>
#include <QWidget>
#include <memory>
#include <vector>

#include "app/ControlStrip.h"
#include "app/GCEVideoLayoutDialog.h"
#include "app/PlayerEngine.h"
#include "app/RegionLayout.h"
#include "app/WindowMessages.h"

namespace app {

class CQVShowApp;

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

  // Plays what the command line names (a recording's group or a folder's
  // first group); false when it names nothing playable.
  bool PlayPath(const QString& path);

  GCEVideoLayoutDialog* container() const { return container_; }
  ControlStrip* controls() const { return controls_; }
  PlayerEngine& engine() { return *engine_; }
  const RegionFactors& factors() const { return factors_; }
  const Regions& regions() const { return regions_; }
  QWidget* map_region() const { return map_; }
  QWidget* list_region() const { return list_; }
  QWidget* search_region() const { return search_; }
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
  void TogglePlay();
  void ToggleMute();
  void ToggleFullScreen();
  void SetSpeed(int position);
  void OpenFolder();
  void OpenHelp();
  void ShowText(const char* key);
  QPushButton* AddTopButton(int id, const QString& text);

  CQVShowApp& app_;
  std::unique_ptr<WindowMessages> messages_;
  std::unique_ptr<PlayerEngine> engine_;
  GCEVideoLayoutDialog* container_ = nullptr;
  QFrame* map_ = nullptr;
  QFrame* list_ = nullptr;
  QFrame* search_ = nullptr;
  QFrame* wave_ = nullptr;
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
