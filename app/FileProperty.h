#pragma once
// The properties of a recording: dialog 235 for a group of up to eight
// channels (FileProperty) and, through the same base, dialog 270 for one
// channel (SingleProperty.h). The main window fills them from its list and
// shows them; they only format and display. Labels take their texts from the
// language file (each label's identifier is its field's minus one); fields
// are filled after the captions, so the English file's placeholder for the
// channel 4 frame-rate field (IDD235_1100) never stays. Qt centres a dialog
// on its owner when it is shown.
#include <QDialog>
#include <QLabel>
#include <QString>
#include <cstdint>
#include <map>
#include <vector>

#include "app/LanguageResources.h"
#include "app/PropertyFormat.h"

namespace app {

class PropertyDialog : public QDialog {
 public:
  // Fields common to both dialogs.
  static constexpr int kIdFileType = 1066;
  static constexpr int kIdFileSize = 1068;
  static constexpr int kIdDuration = 1070;
  static constexpr int kIdTotalBitRate = 1072;
  static constexpr int kIdPath = 1074;
  static constexpr int kIdOk = 1059;

  struct ChannelFields {
    int resolution, bit_rate, frame_rate;
  };

  void set_path(const QString& path);
  // With the dot: ".qvv".
  void set_extension(const QString& extension);
  void set_file_size(uint64_t bytes);
  void set_duration(int64_t seconds);
  // Channel `index` (0-based); others are ignored.
  void set_channel(int index, const ChannelVideo& video);

  int dialog_number() const { return dialog_; }
  int channel_count() const { return static_cast<int>(channels_.size()); }
  const ChannelVideo& channel(int index) const { return channels_.at(static_cast<size_t>(index)); }
  // The whole path (the field shows it shortened in the middle when it does not fit).
  const QString& path() const { return path_; }
  // The widget with control identifier `id`, null when there is none.
  QLabel* field(int id) const;

 protected:
  PropertyDialog(int dialog, const std::vector<ChannelFields>& fields, const LanguageResources& languages,
                 QWidget* parent);

 private:
  void Fill();

  int dialog_;
  std::vector<ChannelFields> fields_;
  std::vector<ChannelVideo> channels_;
  QString path_;
  QString extension_;
  uint64_t file_size_ = 0;
  int64_t duration_ = 0;
  std::map<int, QLabel*> labels_;  // fields and their labels by identifier
};

class FileProperty : public PropertyDialog {
 public:
  static constexpr int kDialogNumber = 235;
  static constexpr int kChannels = 8;
  // Resolution, bit rate and frame rate fields of channels 1 .. 8.
  static constexpr ChannelFields kChannelFields[kChannels] = {
      {1078, 1080, 1082}, {1084, 1086, 1088}, {1090, 1092, 1094}, {1096, 1098, 1100},
      {1153, 1155, 1157}, {1159, 1161, 1163}, {1165, 1167, 1169}, {1171, 1173, 1175}};

  explicit FileProperty(const LanguageResources& languages, QWidget* parent = nullptr);
};

}  // namespace app
