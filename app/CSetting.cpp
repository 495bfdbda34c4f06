#include "app/CSetting.h"

#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>
#include <filesystem>
#include <optional>
#include <system_error>

#include "app/CQVShowApp.h"
#include "app/LanguageUi.h"
#include "engine/ACSnapshotFilter.h"

namespace app {
namespace {

constexpr int kIdStorage = 1061;
constexpr int kIdSnapshotLabel = 1049;
constexpr int kIdRecordLabel = 1051;
constexpr int kIdMapGroup = 1062;
constexpr int kIdShowModeGroup = 1063;
constexpr int kIdProviderGroup = 1064;
constexpr int kIdProviderNote = 1066;
constexpr int kIdChannelGroup = 1065;
constexpr int kIdChannelHeader = 1163;  // then transform 1164, algorithm 1165, aspect fit 1166
constexpr int kIdFirstChannelLabel = 1151;
constexpr int kProviders = 4;
constexpr int kTransforms = 6;

std::string Key(const char* name, int channel) { return name + std::to_string(channel + 1); }

// A framed, titled group whose controls are still the dialog's own children
// (captions are applied to the dialog's direct children): the box and a
// layout for its controls share one cell of the dialog's grid.
QGridLayout* AddGroup(QGridLayout* grid, QGroupBox* box, int row, int column, int row_span = 1,
                      int column_span = 1) {
  grid->addWidget(box, row, column, row_span, column_span);
  auto* inside = new QGridLayout;
  inside->setContentsMargins(12, box->fontMetrics().height() + 10, 12, 10);
  inside->setHorizontalSpacing(8);
  inside->setVerticalSpacing(6);
  grid->addLayout(inside, row, column, row_span, column_span);
  return inside;
}

// The folder to keep: an existing folder's name with a trailing separator;
// nothing for a folder that does not exist.
std::optional<std::string> ExistingFolder(const QString& text) {
  const std::string folder = text.toStdString();
  std::error_code ec;
  if (folder.empty() || !std::filesystem::is_directory(folder, ec)) return std::nullopt;
  if (folder.back() == '/' || folder.back() == '\\') return folder;
  return folder + '/';
}

}  // namespace

QStringList CSetting::TransformNames(const std::string& name) {
  const char* words = nullptr;
  if (name == "English")
    words = "Initial state; Flip horizontal;Flip vertical;Rotate right 90°;Rotate left 90°;Rotate 180°";
  else if (name == "Chinese")
    words = "初始状态;水平翻转;垂直翻转; 向右旋转90°; 向左旋转90°;180°旋转";
  else if (name == "Japanese")
    words = "初期状態;水平反転;垂直反転;右へ90°回転;左へ90°回転;180°回転";
  else if (name == "Русский")
    words = "Исходное состояние;Переворот по горизонтали;Переворот по вертикали;Поворот вправо на 90°;"
            "Повернуть влево на 90°;Поворот на 180°";
  if (!words) return {};
  return QString::fromUtf8(words).split(';');
}

CSetting::CSetting(CQVShowApp& app, QWidget* parent) : QDialog(parent), app_(app) {
  pick_folder_ = [](QWidget* owner, const QString& title, const QString& start) {
    return QFileDialog::getExistingDirectory(owner, title, start, QFileDialog::ShowDirsOnly);
  };
  ask_ = [](QWidget* owner, const QString& text, const QString& caption) {
    return QMessageBox::question(owner, caption, text, QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Ok) ==
           QMessageBox::Ok;
  };
  setWindowTitle("Setting");
  BuildControls();
  ReadSettings();
  ApplyCaptions(this, kDialogNumber, app_.languages());
}

void CSetting::BuildControls() {
  auto tag = [](auto* widget, int id) {
    SetControlId(widget, id);
    return widget;
  };
  auto* grid = new QGridLayout;
  grid->setHorizontalSpacing(10);
  grid->setVerticalSpacing(10);

  // Storage.
  QGridLayout* storage = AddGroup(grid, tag(new QGroupBox("Storage", this), kIdStorage), 0, 0, 1, 2);
  auto folder_row = [&](int row, int label_id, const char* label, int edit_id, int browse_id) {
    auto* caption = tag(new QLabel(label, this), label_id);
    auto* edit = tag(new QLineEdit(this), edit_id);
    edit->setMinimumWidth(edit->fontMetrics().averageCharWidth() * 36);
    auto* browse = tag(new QToolButton(this), browse_id);
    browse->setIcon(style()->standardIcon(QStyle::SP_DirOpenIcon));
    browse->setToolTip(label);
    storage->addWidget(caption, row, 0);
    storage->addWidget(edit, row, 1);
    storage->addWidget(browse, row, 2);
    return std::array<QWidget*, 3>{caption, edit, browse};
  };
  const auto snapshot = folder_row(0, kIdSnapshotLabel, "Snapshot path", kIdSnapshotFolder, kIdSnapshotBrowse);
  const auto record = folder_row(1, kIdRecordLabel, "Record path", kIdRecordFolder, kIdRecordBrowse);
  storage->setColumnStretch(1, 1);
  snapshot_edit_ = static_cast<QLineEdit*>(snapshot[1]);
  record_edit_ = static_cast<QLineEdit*>(record[1]);
  // The record folder is kept in the file but not offered.
  for (QWidget* w : record) w->hide();
  connect(static_cast<QToolButton*>(snapshot[2]), &QToolButton::clicked, this,
          [this] { Browse(snapshot_edit_, true); });
  connect(static_cast<QToolButton*>(record[2]), &QToolButton::clicked, this,
          [this] { Browse(record_edit_, false); });

  // Map switches.
  QGridLayout* map = AddGroup(grid, tag(new QGroupBox("Map", this), kIdMapGroup), 1, 0);
  map_offset_box_ = tag(new QCheckBox("Open map offset", this), kIdMapOffset);
  map_playback_box_ = tag(new QCheckBox("Enable map track playback", this), kIdMapPlayBack);
  map->addWidget(map_offset_box_, 0, 0);
  map->addWidget(map_playback_box_, 1, 0);
  map->setRowStretch(2, 1);

  // Rendering mode: written as soon as it is chosen.
  QGridLayout* modes = AddGroup(grid, tag(new QGroupBox("Display mode", this), kIdShowModeGroup), 1, 1);
  show_modes_ = new QButtonGroup(this);
  show_modes_->addButton(tag(new QRadioButton("DirectDraw", this), kIdDirectDraw), kDirectDraw);
  show_modes_->addButton(tag(new QRadioButton("GDI", this), kIdGdi), kGdi);
  modes->addWidget(show_modes_->button(kDirectDraw), 0, 0);
  modes->addWidget(show_modes_->button(kGdi), 1, 0);
  modes->setRowStretch(2, 1);
  connect(show_modes_, &QButtonGroup::idClicked, this,
          [this](int mode) { app_.config().WriteInt(kSection, "ShowMode", mode); });

  // Map provider: chosen for the next start.
  QGridLayout* providers = AddGroup(grid, tag(new QGroupBox("Map provider", this), kIdProviderGroup), 2, 0, 1, 2);
  providers_ = new QButtonGroup(this);
  const char* provider_names[kProviders] = {"Google Map", "Baidu Map", "OSMap", "Bing Map"};
  for (int p = 0; p < kProviders; ++p) {
    auto* radio = tag(new QRadioButton(provider_names[p], this), kIdFirstProvider + p);
    providers_->addButton(radio, p);
    providers->addWidget(radio, p / 2, p % 2);
  }
  auto* note = tag(new QLabel("Changing the map provider restarts the program", this), kIdProviderNote);
  note->setWordWrap(true);
  note->setEnabled(false);
  providers->addWidget(note, 2, 0, 1, 2);
  connect(providers_, &QButtonGroup::idClicked, this, &CSetting::OnProviderClicked);

  // The channels.
  QGridLayout* channels = AddGroup(grid, tag(new QGroupBox("Channel settings", this), kIdChannelGroup), 0, 2, 4, 1);
  const char* headers[4] = {"Channel", "Transform", "Algorithm", "Aspect fit"};
  for (int h = 0; h < 4; ++h) {
    auto* header = tag(new QLabel(headers[h], this), kIdChannelHeader + h);
    channels->addWidget(header, 0, h, h < 2 ? Qt::AlignLeft : Qt::AlignHCenter);
  }
  for (int c = 0; c < kChannels; ++c) {
    const size_t at = static_cast<size_t>(c);
    channels->addWidget(tag(new QLabel(QString("CH%1").arg(c + 1, 2, 10, QChar('0')), this), kIdFirstChannelLabel + c),
                        c + 1, 0);
    transforms_[at] = tag(new QComboBox(this), kIdFirstTransform + c);
    transforms_[at]->setMinimumContentsLength(14);
    transforms_[at]->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    channels->addWidget(transforms_[at], c + 1, 1);
    algorithm_boxes_[at] = tag(new QCheckBox(this), kIdAlgorithm[at]);
    channels->addWidget(algorithm_boxes_[at], c + 1, 2, Qt::AlignHCenter);
    aspect_boxes_[at] = tag(new QCheckBox(this), kIdAspectFit[at]);
    channels->addWidget(aspect_boxes_[at], c + 1, 3, Qt::AlignHCenter);
  }
  channels->setColumnStretch(1, 1);
  channels->setRowStretch(kChannels + 1, 1);
  grid->setRowStretch(3, 1);  // the left column's spare height, below its groups

  auto* ok = tag(new QPushButton("OK", this), kIdOk);
  auto* cancel = tag(new QPushButton("Cancel", this), kIdCancel);
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, &CSetting::accept);
  connect(cancel, &QPushButton::clicked, this, &CSetting::reject);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(ok);
  buttons->addWidget(cancel);

  auto* layout = new QVBoxLayout(this);
  layout->setSizeConstraint(QLayout::SetFixedSize);
  layout->addLayout(grid);
  layout->addLayout(buttons);
  // The frames behind their controls.
  for (QGroupBox* box : findChildren<QGroupBox*>(Qt::FindDirectChildrenOnly)) box->lower();
}

void CSetting::ReadSettings() {
  const AppConfig& config = app_.config();
  // 1) the transform lists in the current language.
  const QStringList names = TransformNames(app_.languages().current_name());
  for (QComboBox* combo : transforms_) {
    combo->addItems(names);
    combo->setEnabled(!names.isEmpty());
  }

  // 2) the folders.
  snapshot_folder_ = QString::fromStdString(config.ReadString(
      kSection, "SnapshotPath", engine::ACSnapshotFilter::DefaultSnapshotFolder(), kFolderBufferChars));
  record_folder_ = QString::fromStdString(config.ReadString(kSection, "RecPath", "", kFolderBufferChars));
  snapshot_edit_->setText(snapshot_folder_);
  record_edit_->setText(record_folder_);

  // 3) the map switches.
  map_offset_ = config.ReadInt(kSection, "MapOffset", 0);
  map_playback_ = config.ReadInt(kSection, "MapPlayBack", 0);
  map_offset_box_->setChecked(map_offset_ != 0);
  map_playback_box_->setChecked(map_playback_ != 0);

  // 4) the channels, into the process's switch tables at once.
  ChannelSwitches& switches = app_.switches();
  for (int c = 0; c < kChannels; ++c) {
    const size_t at = static_cast<size_t>(c);
    mirror_[at] = config.ReadInt(kSection, Key("MirrorCh", c), 0);
    algorithm_[at] = config.ReadInt(kSection, Key("OpenAlgCh", c), 0);
    aspect_fit_[at] = config.ReadInt(kSection, Key("ScaleAspectFitCh", c), 0);
    switches.mirror[at] = mirror_[at];
    switches.overlay[at] = algorithm_[at];
    switches.aspect_fit[at] = aspect_fit_[at];
    // A transform the list does not have is drawn as recorded: shown as the first entry.
    transforms_[at]->setCurrentIndex(mirror_[at] >= 0 && mirror_[at] < kTransforms ? mirror_[at] : 0);
    algorithm_boxes_[at]->setChecked(algorithm_[at] != 0);
    aspect_boxes_[at]->setChecked(aspect_fit_[at] != 0);
  }
  switches.Apply();

  // 6) the rendering mode.
  const int mode = config.ReadInt(kSection, "ShowMode", kGdi);
  show_mode_ = mode != 0 ? kGdi : kDirectDraw;
  show_modes_->button(show_mode_)->setChecked(true);

  // 7) the map provider.
  map_type_ = config.ReadInt(kSection, "MapType", 2);
  CheckProvider(map_type_);
}

QWidget* CSetting::control(int id) const {
  for (QObject* child : children()) {
    auto* w = qobject_cast<QWidget*>(child);
    if (w && ControlId(w) == id) return w;
  }
  return nullptr;
}

void CSetting::Browse(QLineEdit* edit, bool snapshot) {
  const LanguageResources& languages = app_.languages();
  std::string title;
  if (snapshot) {
    // The Chinese and Japanese files name this prompt without "_pic".
    title = languages.Caption("IDS_TIPS_SeleteDirectory_pic");
    if (title.empty()) title = languages.Caption("IDS_TIPS_SeleteDirectory");
    if (title.empty()) title = languages.Text("IDS_TIPS_SeleteDirectory_pic");
  } else {
    title = languages.Text("IDS_TIPS_SeleteDirectory_rec");
  }
  const QString chosen = pick_folder_(this, QString::fromStdString(title), edit->text());
  if (chosen.isEmpty()) return;
  if (chosen.size() > kMaxFolderChars) {
    Tell(kChosenTooLong);
    return;
  }
  edit->setText(chosen);
}

void CSetting::CheckProvider(int provider) {
  if (provider >= 0 && provider < kProviders) {
    providers_->button(provider)->setChecked(true);
    return;
  }
  // An exclusive group always keeps one checked.
  providers_->setExclusive(false);
  for (QAbstractButton* b : providers_->buttons()) b->setChecked(false);
  providers_->setExclusive(true);
}

void CSetting::OnProviderClicked(int provider) {
  if (provider == map_type_) return;  // the provider in use
  if (!ask_(this, kRestartQuestion, kRestartCaption)) {
    CheckProvider(map_type_);
    return;
  }
  if (!app_.config().WriteInt(kSection, "MapType", provider)) {
    // A restart would come back with the old provider.
    Tell(kNotSaved);
    CheckProvider(map_type_);
    return;
  }
  map_type_ = provider;
  app_.set_restart(true);
  done(QDialog::Rejected);
  if (close_main_window) close_main_window();
}

int CSetting::TransformChoice(int channel) const {
  const int chosen = transforms_[static_cast<size_t>(channel)]->currentIndex();
  if (chosen >= 0) return chosen;
  // No list in this language: the transform read at opening, or as recorded.
  const int kept = mirror_[static_cast<size_t>(channel)];
  return kept >= 0 && kept < kTransforms ? kept : 0;
}

void CSetting::accept() {
  // 1) the controls.
  snapshot_folder_ = snapshot_edit_->text();
  record_folder_ = record_edit_->text();
  map_offset_ = map_offset_box_->isChecked() ? 1 : 0;
  map_playback_ = map_playback_box_->isChecked() ? 1 : 0;
  for (int c = 0; c < kChannels; ++c) {
    const size_t at = static_cast<size_t>(c);
    mirror_[at] = TransformChoice(c);
    algorithm_[at] = algorithm_boxes_[at]->isChecked() ? 1 : 0;
    aspect_fit_[at] = aspect_boxes_[at]->isChecked() ? 1 : 0;
  }
  show_mode_ = show_modes_->checkedId() == kDirectDraw ? kDirectDraw : kGdi;

  // 2) nothing is written while a folder is too long.
  if (snapshot_folder_.size() > kMaxFolderChars) {
    Tell(kSnapshotTooLong);
    return;
  }
  if (record_folder_.size() > kMaxFolderChars) {
    Tell(kRecordTooLong);
    return;
  }

  const AppConfig& config = app_.config();
  bool written = true;
  // 3) folders that exist.
  if (const auto folder = ExistingFolder(snapshot_folder_)) {
    snapshot_folder_ = QString::fromStdString(*folder);
    written &= config.WriteString(kSection, "SnapshotPath", *folder);
  }
  if (const auto folder = ExistingFolder(record_folder_)) {
    record_folder_ = QString::fromStdString(*folder);
    written &= config.WriteString(kSection, "RecPath", *folder);
  }

  // 4) the map switches.
  written &= config.WriteInt(kSection, "MapOffset", map_offset_);
  written &= config.WriteInt(kSection, "MapPlayBack", map_playback_);
  emit mapSwitchesChanged(map_offset_, map_playback_);

  // 5) the channels.
  ChannelSwitches& switches = app_.switches();
  for (int c = 0; c < kChannels; ++c) {
    const size_t at = static_cast<size_t>(c);
    switches.mirror[at] = mirror_[at];
    switches.overlay[at] = algorithm_[at];
    switches.aspect_fit[at] = aspect_fit_[at];
  }
  switches.Apply();
  for (int c = 0; c < kChannels; ++c) written &= config.WriteInt(kSection, Key("MirrorCh", c), mirror(c));
  for (int c = 0; c < kChannels; ++c) written &= config.WriteInt(kSection, Key("OpenAlgCh", c), algorithm(c));
  for (int c = 0; c < kChannels; ++c) written &= config.WriteInt(kSection, Key("ScaleAspectFitCh", c), aspect_fit(c));

  // 6) the rendering mode.
  written &= config.WriteInt(kSection, "ShowMode", show_mode_);
  if (set_show_mode) set_show_mode(show_mode_);

  if (!written) Tell(kNotSaved);
  QDialog::accept();
}

void CSetting::Tell(const char* text) { app_.messages().ShowAndWait(text, "Dravik"); }

}  // namespace app
