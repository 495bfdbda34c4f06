#pragma once
// The main window. For now the frame: the title from the language file, the
// "Language" button with its menu, and the area the channel panes will take.
#include <QFrame>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QWidget>

namespace app {

class CQVShowApp;

class CQVShowDlg : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kDialogNumber = 102;
  // Control identifiers of the buttons that exist so far.
  static constexpr int kIdClose = 1010;
  static constexpr int kIdLanguage = 1020;

  explicit CQVShowDlg(CQVShowApp& app, QWidget* parent = nullptr);

  // Started by the session bus: closing only hides the window.
  void set_hide_on_close(bool hide) { hide_on_close_ = hide; }
  QMenu* language_menu() { return &language_menu_; }
  // The language menu's command 0x1000000 + i.
  void OnLanguageCommand(int command);
  // Every key-based text and the captions of dialog 102 again.
  void ReloadTexts();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void BuildLanguageMenu();

  CQVShowApp& app_;
  QLabel* title_;
  QPushButton* language_button_;
  QPushButton* close_button_;
  QFrame* pane_area_;
  QMenu language_menu_;
  bool hide_on_close_ = false;
};

}  // namespace app
