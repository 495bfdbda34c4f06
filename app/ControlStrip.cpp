#include "app/ControlStrip.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QStyle>
#include <QVBoxLayout>

#include "app/LanguageUi.h"

namespace app {

QString SpeedLabel(int position) {
  static const char* const kLabels[] = {"1/16", "1/8", "1/4", "1/2", "x1", "x2", "x4", "x8", "x16"};
  return kLabels[std::clamp(position, 0, 8)];
}

ControlStrip::ControlStrip(QWidget* parent)
    : QWidget(parent),
      speed_(new QSlider(Qt::Horizontal, this)),
      speed_label_(new QLabel(SpeedLabel(4), this)),
      volume_(new QSlider(Qt::Horizontal, this)) {
  setObjectName("controls");
  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(6, 4, 6, 4);
  row->setSpacing(4);
  auto add = [&](int id, const QString& text) { row->addWidget(AddButton(id, text)); };
  add(command::kStop, "");
  add(command::kBackward, "");
  add(command::kPlay, "");
  add(command::kStep, "");
  add(command::kSecondPlay, "1s");
  button(command::kStop)->setIcon(style()->standardIcon(QStyle::SP_MediaStop));
  button(command::kBackward)->setIcon(BackwardIcon());
  button(command::kPlay)->setIcon(style()->standardIcon(QStyle::SP_MediaPlay));
  button(command::kStep)->setIcon(style()->standardIcon(QStyle::SP_MediaSkipForward));
  row->addSpacing(8);
  auto* speed_box = new QVBoxLayout;
  speed_box->setSpacing(0);
  speed_->setRange(0, 8);
  speed_->setPageStep(1);
  speed_->setValue(4);
  speed_->setFixedWidth(120);
  SetControlId(speed_, command::kSpeedSlider);
  speed_label_->setAlignment(Qt::AlignCenter);
  speed_label_->setObjectName("speedLabel");
  speed_box->addWidget(speed_);
  speed_box->addWidget(speed_label_);
  row->addLayout(speed_box);
  row->addSpacing(8);
  add(command::kSound, "");
  button(command::kSound)->setIcon(style()->standardIcon(QStyle::SP_MediaVolume));
  volume_->setRange(0, 65535 / 512);
  volume_->setPageStep(65535 / 512 / 15);
  volume_->setFixedWidth(100);
  SetControlId(volume_, command::kVolumeSlider);
  row->addWidget(volume_);
  row->addSpacing(8);
  add(command::kSnapshot, "Snap");
  add(command::kSettings, "");
  button(command::kSettings)->setIcon(style()->standardIcon(QStyle::SP_FileDialogDetailedView));
  row->addStretch(1);
  add(command::kSingle, "1");
  add(command::kFour, "4");
  add(command::kEight, "8");
  add(command::kNine, "9");
  add(command::kTwelve, "12");
  add(command::kPreviousPage, "<<");
  add(command::kNextPage, ">>");
  add(command::kFullScreen, "");
  button(command::kFullScreen)->setIcon(style()->standardIcon(QStyle::SP_TitleBarMaxButton));
  connect(speed_, &QSlider::valueChanged, this, [this](int position) {
    speed_label_->setText(SpeedLabel(position));
    emit speedChanged(position);
  });
  connect(volume_, &QSlider::valueChanged, this, &ControlStrip::volumeChanged);
}

QPushButton* ControlStrip::AddButton(int id, const QString& text) {
  auto* b = new QPushButton(text, this);
  SetControlId(b, id);
  b->setObjectName(QString("button%1").arg(id));
  b->setFocusPolicy(Qt::NoFocus);  // keys stay with the window's shortcuts
  b->setMinimumWidth(30);
  b->setMaximumWidth(text.size() > 2 ? 60 : 40);
  buttons_[id] = b;
  connect(b, &QPushButton::clicked, this, [this, id] { emit command(id); });
  return b;
}

QPushButton* ControlStrip::button(int id) const {
  const auto it = buttons_.find(id);
  return it == buttons_.end() ? nullptr : it->second;
}

QIcon ControlStrip::BackwardIcon() const {
  // The play triangle pointing left.
  const QPixmap play = style()->standardIcon(QStyle::SP_MediaPlay).pixmap(16, 16);
  return QIcon(QPixmap::fromImage(play.toImage().mirrored(true, false)));
}

void ControlStrip::SetPlayState(int state) {
  button(command::kPlay)->setIcon(style()->standardIcon(state == 1 ? QStyle::SP_MediaPause : QStyle::SP_MediaPlay));
  button(command::kBackward)->setIcon(state == 3 ? style()->standardIcon(QStyle::SP_MediaPause) : BackwardIcon());
}

void ControlStrip::SetMuted(bool muted) {
  button(command::kSound)->setIcon(style()->standardIcon(muted ? QStyle::SP_MediaVolumeMuted : QStyle::SP_MediaVolume));
}

void ControlStrip::SetSpeedPosition(int position) { speed_->setValue(position); }

void ControlStrip::ReloadTexts(const LanguageResources& l) {
  auto tip = [&](int id, const char* key) {
    if (QPushButton* b = button(id)) b->setToolTip(QString::fromStdString(l.Text(key)));
  };
  tip(command::kPlay, "IDS_TIPS_BUTTONPLAY");
  tip(command::kStop, "IDS_TIPS_BUTTONSTOP");
  tip(command::kBackward, "IDS_TIPS_BUTTONPUSH");
  tip(command::kSecondPlay, "IDS_TIPS_BUTTONSSECOND");
  tip(command::kSettings, "IDS_TIPS_BUTTONSETTING");
  tip(command::kStep, "IDS_TIPS_BUTTONSTEP");
  tip(command::kSound, "IDS_TIPS_SOUNDBUTTON");
  tip(command::kSnapshot, "IDS_TIPS_BUTTONSNAPSHOT");
  tip(command::kSingle, "IDS_TIPS_BUTTONSINGLEWIN");
  tip(command::kFour, "IDS_TIPS_BUTTONFOURWIN");
  tip(command::kEight, "IDS_TIPS_BUTTONEIGHTWIN");
  tip(command::kNine, "IDS_TIPS_BUTTONNINEWIN");
  tip(command::kTwelve, "IDS_TIPS_BUTTONTWELVEWIN");
  tip(command::kPreviousPage, "IDS_TIPS_BUTTONLASTPAGE");
  tip(command::kNextPage, "IDS_TIPS_BUTTONNEXTPAGE");
  tip(command::kFullScreen, "IDS_TIPS_BUTTONFULLSCREEN");
  speed_->setToolTip(QString::fromStdString(l.Text("IDS_TIPS_VIDEOSPEED")));
  speed_label_->setToolTip(speed_->toolTip());
}

void ControlStrip::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), QColor(217, 234, 244));
}

}  // namespace app
