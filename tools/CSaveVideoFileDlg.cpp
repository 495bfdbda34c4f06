#include "tools/CSaveVideoFileDlg.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>

#include "app/LanguageResources.h"
#include "app/LanguageUi.h"

namespace tools {

int CSaveVideoFileDlg::Options::Pack() const {
  int word = (remember ? 1 : 0) | (selected_window ? 2 : 0);
  for (int c = 0; c < kChannels; ++c)
    if (channels[static_cast<size_t>(c)]) word |= 4 << c;
  return word;
}

CSaveVideoFileDlg::Options CSaveVideoFileDlg::Options::Unpack(int word) {
  Options o;
  o.remember = word & 1;
  o.selected_window = word & 2;
  for (int c = 0; c < kChannels; ++c) o.channels[static_cast<size_t>(c)] = word & (4 << c);
  return o;
}

QString CSaveVideoFileDlg::NameText(const QString& default_name, const Options& options) {
  if (options.selected_window) return default_name;
  const int dot = default_name.lastIndexOf('.');
  const QString base = dot < 0 ? default_name : default_name.left(dot);
  const QString extension = dot < 0 ? QString() : default_name.mid(dot);
  std::vector<QString> names;
  for (int c = 0; c < kChannels; ++c)
    if (options.channels[static_cast<size_t>(c)]) names.push_back(base + QString::asprintf("%02d", c + 1) + extension);
  if (names.empty()) return {};
  if (names.size() == 1) return names.front();
  QString text;
  for (const QString& n : names) text += "\"" + n + "\" ";
  return text;
}

CSaveVideoFileDlg::CSaveVideoFileDlg(const QString& default_name, const QString& folder, int options_word,
                                     const app::LanguageResources* languages, QWidget* parent)
    : QDialog(parent), default_name_(default_name) {
  setWindowTitle("Save clip");
  const int dot = default_name.lastIndexOf('.');
  base_ = dot < 0 ? default_name : default_name.left(dot);
  extension_ = dot < 0 ? QString() : default_name.mid(dot);

  auto* grid = new QGridLayout(this);
  grid->addWidget(new QLabel(tr("Folder:"), this), 0, 0);
  folder_ = new QLineEdit(folder.isEmpty() ? QDir::homePath() : folder, this);
  auto* browse = new QPushButton(tr("Browse..."), this);
  browse->setAutoDefault(false);
  auto* folder_row = new QHBoxLayout;
  folder_row->addWidget(folder_, 1);
  folder_row->addWidget(browse);
  grid->addLayout(folder_row, 0, 1);
  grid->addWidget(new QLabel(tr("File name:"), this), 1, 0);
  // The names follow from the options; the box only shows them.
  name_ = new QLineEdit(this);
  name_->setReadOnly(true);
  name_->setEnabled(false);
  name_->setMinimumWidth(420);
  grid->addWidget(name_, 1, 1);
  grid->addWidget(new QLabel(tr("Save as type: Video Files (*.avi)"), this), 2, 1);

  selected_window_ = new QCheckBox("Selected window", this);
  selected_window_->setProperty(app::kControlIdProperty, kSelectedWindowId);
  remember_ = new QCheckBox("Remember my choice", this);
  remember_->setProperty(app::kControlIdProperty, kRememberId);
  auto* boxes = new QHBoxLayout;
  boxes->addWidget(selected_window_);
  for (int c = 0; c < kChannels; ++c) {
    auto* box = new QCheckBox(QString("Channel%1").arg(c + 1), this);
    box->setProperty(app::kControlIdProperty, kFirstChannelId + c);
    channels_[static_cast<size_t>(c)] = box;
    boxes->addWidget(box);
  }
  boxes->addStretch();
  boxes->addWidget(remember_);
  grid->addLayout(boxes, 3, 0, 1, 2);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Save | QDialogButtonBox::Cancel, this);
  grid->addWidget(buttons, 4, 0, 1, 2);
  connect(buttons, &QDialogButtonBox::accepted, this, &CSaveVideoFileDlg::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(browse, &QPushButton::clicked, this, [this] {
    const QString chosen = QFileDialog::getExistingDirectory(this, windowTitle(), folder_->text());
    if (!chosen.isEmpty()) folder_->setText(chosen);
  });

  // A remembered choice comes back whole; otherwise the selected pane alone.
  Options start = Options::Unpack(options_word);
  if (!start.remember) start = Options{};
  selected_window_->setChecked(start.selected_window);
  remember_->setChecked(start.remember);
  for (int c = 0; c < kChannels; ++c) channels_[static_cast<size_t>(c)]->setChecked(start.channels[static_cast<size_t>(c)]);
  for (QCheckBox* box : findChildren<QCheckBox*>())
    connect(box, &QCheckBox::clicked, this, [this, box] { Toggle(box); });
  if (languages) app::ApplyCaptions(this, kDialogNumber, *languages);
  WriteName();
  tell = [this](const QString& text) { QMessageBox::information(this, windowTitle(), text); };
  confirm_replace = [this](const QStringList& existing) {
    return QMessageBox::question(this, windowTitle(),
                                 tr("%1 already exists.\nDo you want to replace it?").arg(existing.join(", "))) ==
           QMessageBox::Yes;
  };
}

void CSaveVideoFileDlg::Toggle(QCheckBox* box) {
  // The box already changed itself; the others follow.
  if (box == selected_window_) {
    for (QCheckBox* c : channels_) c->setChecked(false);
    remember_->setChecked(false);
  } else if (box != remember_) {
    selected_window_->setChecked(false);
  }
  WriteName();
}

CSaveVideoFileDlg::Options CSaveVideoFileDlg::options() const {
  Options o;
  o.remember = remember_->isChecked();
  o.selected_window = selected_window_->isChecked();
  for (int c = 0; c < kChannels; ++c) o.channels[static_cast<size_t>(c)] = channels_[static_cast<size_t>(c)]->isChecked();
  return o;
}

void CSaveVideoFileDlg::WriteName() { name_->setText(NameText(default_name_, options())); }

std::vector<int> CSaveVideoFileDlg::TickedChannels() const {
  std::vector<int> ticked;
  if (selected_window_->isChecked()) return ticked;
  for (int c = 0; c < kChannels; ++c)
    if (channels_[static_cast<size_t>(c)]->isChecked()) ticked.push_back(c);
  return ticked;
}

std::vector<std::string> CSaveVideoFileDlg::OutputPaths() const {
  auto with_extension = [](QString name) {
    if (QFileInfo(name).suffix().isEmpty()) name += kExtension;
    return name;
  };
  const QDir dir(folder_->text());
  std::vector<std::string> paths;
  if (selected_window_->isChecked()) {
    paths.push_back(dir.filePath(with_extension(default_name_)).toStdString());
    return paths;
  }
  for (int c : TickedChannels())
    paths.push_back(dir.filePath(with_extension(base_ + QString::asprintf("%02d", c + 1) + extension_)).toStdString());
  return paths;
}

void CSaveVideoFileDlg::accept() {
  const std::vector<std::string> paths = OutputPaths();
  if (paths.empty()) return tell("Please select the channel(s)");
  if (!QFileInfo(folder_->text()).isDir()) return tell(tr("The folder %1 does not exist.").arg(folder_->text()));
  QStringList existing;
  for (const std::string& p : paths)
    if (QFileInfo::exists(QString::fromStdString(p))) existing << QFileInfo(QString::fromStdString(p)).fileName();
  if (!existing.isEmpty() && !confirm_replace(existing)) return;
  QDialog::accept();
}

}  // namespace tools
