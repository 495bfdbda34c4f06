#pragma once
// The settings dialog (dialog 216): the snapshot and record folders, the map's
// offset correction and track play-back, the rendering mode, the map provider
// and, for each of the 12 channels, the picture transform, the analysis
// overlay and aspect fit. Everything lives in setting.ini, section "Lumivex".
//
// Opening the dialog reads the file and writes nothing; the channel switches
// it reads go to the process's switch tables at once. OK writes the folders
// (only folders that exist), the map switches, the 36 channel keys and the
// rendering mode. Two kinds of control act at once instead: a rendering radio
// writes "ShowMode", and a map provider, once the user agrees to restart,
// writes "MapType", asks for the restart and closes the dialog and the main
// window. Cancel writes nothing.
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLineEdit>
#include <QStringList>
#include <array>
#include <functional>
#include <string>

namespace app {

class CQVShowApp;

class CSetting : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kDialogNumber = 216;
  static constexpr int kChannels = 12;
  static constexpr const char* kSection = "Lumivex";
  // Folders are limited to 240 characters: room for the file names added to
  // them within 260.
  static constexpr int kMaxFolderChars = 240;
  static constexpr size_t kFolderBufferChars = 1024;

  static constexpr int kIdOk = 1;
  static constexpr int kIdCancel = 2;
  static constexpr int kIdSnapshotFolder = 1050;
  static constexpr int kIdSnapshotBrowse = 1053;
  static constexpr int kIdRecordFolder = 1052;  // kept but not shown
  static constexpr int kIdRecordBrowse = 1055;  // kept but not shown
  static constexpr int kIdMapOffset = 1039;
  static constexpr int kIdMapPlayBack = 1040;
  static constexpr int kIdDirectDraw = 1176;
  static constexpr int kIdGdi = 1177;
  static constexpr int kIdFirstProvider = 1178;  // Google, Baidu, OSMap, Bing: 1178 .. 1181
  static constexpr int kIdFirstTransform = 1182;  // channels 1 .. 12: 1182 .. 1193
  static constexpr std::array<int, kChannels> kIdAlgorithm = {1120, 1046, 1121, 1045, 1145, 1146,
                                                              1109, 1147, 1148, 1149, 1110, 1150};
  static constexpr std::array<int, kChannels> kIdAspectFit = {1041, 1042, 1043, 1044, 1047, 1048,
                                                              1054, 1056, 1057, 1058, 1059, 1060};

  static constexpr const char* kSnapshotTooLong = "Snapshot path too long!";
  static constexpr const char* kRecordTooLong = "Record path too long!";
  static constexpr const char* kChosenTooLong = "The Record file path too long to read!";
  static constexpr const char* kRestartQuestion = "Restart Dravik to take it effect now?";
  static constexpr const char* kRestartCaption = "ReStart";
  static constexpr const char* kNotSaved = "The settings could not be written to setting.ini.";

  // Rendering modes ("ShowMode").
  static constexpr int kDirectDraw = 0;
  static constexpr int kGdi = 1;

  // The six transforms (0 as recorded, 1 flip horizontally, 2 flip vertically,
  // 3 rotate right 90, 4 rotate left 90, 5 rotate 180) as language `name`
  // words them; empty for languages other than the four built-in ones.
  static QStringList TransformNames(const std::string& name);

  // Asks for a folder: parent, title, the folder to start in; empty when none was chosen.
  using FolderPicker = std::function<QString(QWidget*, const QString&, const QString&)>;
  // Asks an OK/Cancel question: parent, text, caption; true for OK.
  using Question = std::function<bool(QWidget*, const QString&, const QString&)>;

  explicit CSetting(CQVShowApp& app, QWidget* parent = nullptr);

  // A standard folder dialog and question box unless replaced.
  void set_folder_picker(FolderPicker picker) { pick_folder_ = std::move(picker); }
  void set_question(Question question) { ask_ = std::move(question); }
  // Called once the user agreed to restart for a new map provider, after the
  // dialog has closed itself (the main window's close command).
  std::function<void()> close_main_window;
  // Called on OK with the rendering mode written (the playback filter's SetShowMode).
  std::function<void(int)> set_show_mode;
  // The map view, told of the map switches through mapSwitchesChanged; may be null.
  void set_map_window(QWidget* window) { map_window_ = window; }
  QWidget* map_window() const { return map_window_; }

  // What the dialog holds: read at opening, taken from the controls on OK
  // (the provider when the user agreed to it).
  const QString& snapshot_folder() const { return snapshot_folder_; }
  const QString& record_folder() const { return record_folder_; }
  int map_offset() const { return map_offset_; }
  int map_playback() const { return map_playback_; }
  int show_mode() const { return show_mode_; }
  int map_type() const { return map_type_; }
  int mirror(int channel) const { return mirror_.at(static_cast<size_t>(channel)); }
  int algorithm(int channel) const { return algorithm_.at(static_cast<size_t>(channel)); }
  int aspect_fit(int channel) const { return aspect_fit_.at(static_cast<size_t>(channel)); }

  // The control with identifier `id` (null when none).
  QWidget* control(int id) const;

 public slots:
  // OK: checks and writes the settings, then closes; stays open when a folder is too long.
  void accept() override;

 signals:
  // On OK: the map's offset correction and track play-back switches (0 or 1).
  void mapSwitchesChanged(int offset, int playback);

 private:
  void BuildControls();
  void ReadSettings();
  void Browse(QLineEdit* edit, bool snapshot);
  void OnProviderClicked(int provider);
  void CheckProvider(int provider);  // none when outside 0 .. 3
  int TransformChoice(int channel) const;
  void Tell(const char* text);

  CQVShowApp& app_;
  FolderPicker pick_folder_;
  Question ask_;
  QWidget* map_window_ = nullptr;

  QString snapshot_folder_;
  QString record_folder_;
  int map_offset_ = 0;
  int map_playback_ = 0;
  int show_mode_ = kGdi;
  int map_type_ = 2;
  std::array<int, kChannels> mirror_{};
  std::array<int, kChannels> algorithm_{};
  std::array<int, kChannels> aspect_fit_{};

  QLineEdit* snapshot_edit_ = nullptr;
  QLineEdit* record_edit_ = nullptr;
  QCheckBox* map_offset_box_ = nullptr;
  QCheckBox* map_playback_box_ = nullptr;
  QButtonGroup* show_modes_ = nullptr;
  QButtonGroup* providers_ = nullptr;
  std::array<QComboBox*, kChannels> transforms_{};
  std::array<QCheckBox*, kChannels> algorithm_boxes_{};
  std::array<QCheckBox*, kChannels> aspect_boxes_{};
};

}  // namespace app
