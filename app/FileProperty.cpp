#include "app/FileProperty.h"

#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QPushButton>
#include <QResizeEvent>
#include <QVBoxLayout>
#include <algorithm>

#include "app/LanguageUi.h"

namespace app {
namespace {

// The path field: the whole path as its tooltip, shortened in the middle to
// the width it is given (a long path must not widen the dialog).
class ElidedLabel : public QLabel {
 public:
  using QLabel::QLabel;
  void SetFullText(const QString& text) {
    full_ = text;
    setToolTip(text);
    Elide();
    updateGeometry();
  }
  QSize sizeHint() const override {
    const int wanted = fontMetrics().horizontalAdvance(full_) + 2 * margin() + 4;
    return {std::min(wanted, 60 * fontMetrics().averageCharWidth()), QLabel::sizeHint().height()};
  }
  QSize minimumSizeHint() const override {
    return {10 * fontMetrics().averageCharWidth(), QLabel::minimumSizeHint().height()};
  }

 protected:
  void resizeEvent(QResizeEvent* event) override {
    QLabel::resizeEvent(event);
    Elide();
  }

 private:
  void Elide() { setText(fontMetrics().elidedText(full_, Qt::ElideMiddle, std::max(0, contentsRect().width()))); }
  QString full_;
};

QFrame* Line(QWidget* parent) {
  auto* line = new QFrame(parent);
  line->setFrameShape(QFrame::HLine);
  line->setFrameShadow(QFrame::Sunken);
  return line;
}

}  // namespace

PropertyDialog::PropertyDialog(int dialog, const std::vector<ChannelFields>& fields,
                               const LanguageResources& languages, QWidget* parent)
    : QDialog(parent), dialog_(dialog), fields_(fields), channels_(fields.size()) {
  setWindowTitle("Property");
  // A label beside each field; texts until the language file's captions replace them.
  auto add = [this](int id, const QString& text, QLabel* label = nullptr) {
    if (!label) label = new QLabel(text, this);
    SetControlId(label, id);
    labels_[id] = label;
    return label;
  };
  auto value = [&](int id) {
    QLabel* v = add(id, {});
    v->setTextInteractionFlags(Qt::TextSelectableByMouse);
    v->setMinimumWidth(v->fontMetrics().horizontalAdvance("00000.000 kbps"));
    return v;
  };
  auto caption = [&](int field_id, const QString& text) { return add(field_id - 1, text); };
  auto* path = new ElidedLabel(this);
  path->setTextInteractionFlags(Qt::TextSelectableByMouse);
  add(kIdPath, {}, path);

  auto* grid = new QGridLayout;
  grid->setHorizontalSpacing(10);
  grid->setVerticalSpacing(6);
  const bool single = fields_.size() == 1;
  if (single) {
    // One column: the file, then its channel.
    const std::pair<int, const char*> rows[] = {
        {kIdFileType, "File type:"},      {kIdFileSize, "File size:"},
        {kIdDuration, "Duration:"},       {kIdTotalBitRate, "Total bit rate:"},
        {kIdPath, "Path:"},               {fields_[0].resolution, "Resolution:"},
        {fields_[0].bit_rate, "Bit rate:"}, {fields_[0].frame_rate, "Frame rate:"}};
    int row = 0;
    for (const auto& [id, text] : rows) {
      if (id == fields_[0].resolution) grid->addWidget(Line(this), row++, 0, 1, 2);
      grid->addWidget(caption(id, text), row, 0);
      grid->addWidget(id == kIdPath ? path : value(id), row, 1);
      ++row;
    }
  } else {
    // The file in two columns above a table of the channels.
    grid->addWidget(caption(kIdFileType, "File type:"), 0, 0);
    grid->addWidget(value(kIdFileType), 0, 1);
    grid->addWidget(caption(kIdFileSize, "File size:"), 0, 2);
    grid->addWidget(value(kIdFileSize), 0, 3);
    grid->addWidget(caption(kIdDuration, "Duration:"), 1, 0);
    grid->addWidget(value(kIdDuration), 1, 1);
    grid->addWidget(caption(kIdTotalBitRate, "Total bit rate:"), 1, 2);
    grid->addWidget(value(kIdTotalBitRate), 1, 3);
    grid->addWidget(caption(kIdPath, "Path:"), 2, 0);
    grid->addWidget(path, 2, 1, 1, 5);
    grid->addWidget(Line(this), 3, 0, 1, 6);
    for (size_t c = 0; c < fields_.size(); ++c) {
      const int row = 4 + static_cast<int>(c);
      const QString ch = QString("CH%1 ").arg(c + 1);
      grid->addWidget(caption(fields_[c].resolution, ch + "resolution:"), row, 0);
      grid->addWidget(value(fields_[c].resolution), row, 1);
      grid->addWidget(caption(fields_[c].bit_rate, ch + "bit rate:"), row, 2);
      grid->addWidget(value(fields_[c].bit_rate), row, 3);
      grid->addWidget(caption(fields_[c].frame_rate, ch + "frame rate:"), row, 4);
      grid->addWidget(value(fields_[c].frame_rate), row, 5);
    }
  }
  grid->setColumnStretch(1, 1);
  if (!single) {
    grid->setColumnStretch(3, 1);
    grid->setColumnStretch(5, 1);
  }

  auto* ok = new QPushButton("OK", this);
  SetControlId(ok, kIdOk);
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(ok);

  auto* layout = new QVBoxLayout(this);
  layout->setSizeConstraint(QLayout::SetMinimumSize);
  layout->addLayout(grid);
  layout->addSpacing(8);
  layout->addLayout(buttons);

  ApplyCaptions(this, dialog_, languages);
  Fill();
}

QLabel* PropertyDialog::field(int id) const {
  const auto it = labels_.find(id);
  return it == labels_.end() ? nullptr : it->second;
}

void PropertyDialog::set_path(const QString& path) {
  path_ = path;
  Fill();
}

void PropertyDialog::set_extension(const QString& extension) {
  extension_ = extension;
  Fill();
}

void PropertyDialog::set_file_size(uint64_t bytes) {
  file_size_ = bytes;
  Fill();
}

void PropertyDialog::set_duration(int64_t seconds) {
  duration_ = seconds;
  Fill();
}

void PropertyDialog::set_channel(int index, const ChannelVideo& video) {
  if (index < 0 || index >= channel_count()) return;
  channels_[static_cast<size_t>(index)] = video;
  Fill();
}

void PropertyDialog::Fill() {
  auto put = [this](int id, const std::string& text) { labels_.at(id)->setText(QString::fromStdString(text)); };
  labels_.at(kIdFileType)->setText(extension_);
  put(kIdFileSize, property::SizeText(file_size_));
  put(kIdDuration, property::DurationText(duration_));
  put(kIdTotalBitRate, property::TotalBitRateText(channels_.data(), channels_.size()));
  static_cast<ElidedLabel*>(labels_.at(kIdPath))->SetFullText(path_);
  for (size_t c = 0; c < channels_.size(); ++c) {
    const ChannelVideo& v = channels_[c];
    put(fields_[c].resolution, property::ResolutionText(v.width, v.height));
    put(fields_[c].bit_rate, property::BitRateText(v.bit_rate));
    put(fields_[c].frame_rate, property::FrameRateText(v.frame_rate));
  }
}

FileProperty::FileProperty(const LanguageResources& languages, QWidget* parent)
    : PropertyDialog(kDialogNumber, {std::begin(kChannelFields), std::end(kChannelFields)}, languages, parent) {}

}  // namespace app
