#pragma once
// Where a cut clip goes: a folder, and either one name for the channel of the
// selected pane ("Selected window") or a name per ticked channel (1 to 4),
// made from the default name with the channel's number appended. The options
// are packed into one word that "setting.ini" keeps:
//   bit 0 "Remember my choice", bit 1 "Selected window", bits 2-5 channels 1-4.
#include <QCheckBox>
#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <array>
#include <functional>
#include <string>
#include <vector>

namespace app {
class LanguageResources;
}

namespace tools {

class CSaveVideoFileDlg : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kDialogNumber = 242;
  static constexpr int kSelectedWindowId = 1107, kRememberId = 1108, kFirstChannelId = 1109;
  static constexpr int kChannels = 4;
  static constexpr const char* kExtension = ".avi";

  struct Options {
    bool remember = false;
    bool selected_window = true;
    std::array<bool, kChannels> channels{};
    int Pack() const;
    static Options Unpack(int word);
  };

  // `languages` may be null (English texts).
  CSaveVideoFileDlg(const QString& default_name, const QString& folder, int options_word,
                    const app::LanguageResources* languages, QWidget* parent = nullptr);

  // The name box's text for these options: the default name, one channel's
  // name, or every ticked channel's name quoted and followed by a space.
  static QString NameText(const QString& default_name, const Options& options);
  // The file of each output: one with "Selected window", else one per
  // ticked channel in channel order; ".avi" added to a name without an
  // extension.
  std::vector<std::string> OutputPaths() const;
  // The ticked channels (0 .. 3), in order; empty with "Selected window".
  std::vector<int> TickedChannels() const;

  Options options() const;
  int options_word() const { return options().Pack(); }
  QString folder() const { return folder_->text(); }
  QString name_text() const { return name_->text(); }
  QCheckBox* selectedWindow() const { return selected_window_; }
  QCheckBox* remember() const { return remember_; }
  QCheckBox* channel(int index) const { return channels_[static_cast<size_t>(index)]; }
  QLineEdit* folderBox() const { return folder_; }

  // Says what is wrong (tests record it instead of a message box).
  std::function<void(const QString&)> tell;
  // Asks whether existing files may be replaced (tests answer themselves).
  std::function<bool(const QStringList& existing)> confirm_replace;

 public slots:
  void accept() override;

 private:
  void Toggle(QCheckBox* box);
  void WriteName();

  QString default_name_, base_, extension_;
  QLineEdit* folder_;
  QLineEdit* name_;
  QCheckBox* selected_window_;
  QCheckBox* remember_;
  std::array<QCheckBox*, kChannels> channels_{};
  bool updating_ = false;
};

}  // namespace tools
