#include "tools/CRecTpyeSearch.h"

#include <QDateTime>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>

#include "app/LanguageResources.h"
#include "app/LanguageUi.h"
#include "controls/CDVRCalendarCtrl.h"

namespace tools {

namespace {

constexpr const char* kAllKey = "IDS_RecTpyeSearch_All";

// Days since 1970-01-01 of a proleptic Gregorian date (any month and day:
// they carry over).
int64_t DaysFromCivil(int64_t y, int64_t m, int64_t d) {
  y += (m - 1) >= 0 ? (m - 1) / 12 : -((12 - m) / 12);
  m = ((m - 1) % 12 + 12) % 12 + 1;
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468 + (d - 1);
}

QDateTime Utc(int64_t seconds) { return QDateTime::fromSecsSinceEpoch(seconds, Qt::UTC); }


}  // namespace

int64_t CRecTpyeSearch::SecondsOf(int year, int month, int day, int hour, int minute, int second) {
  return DaysFromCivil(year, month, day) * 86400 + int64_t{hour} * 3600 + int64_t{minute} * 60 + second;
}

CRecTpyeSearch::CRecTpyeSearch(platform::MessageSink* window, QWidget* parent) : QWidget(parent), window_(window) {
  setObjectName("search");
  setFixedHeight(kHeight);
  setAutoFillBackground(true);
  auto* grid = new QGridLayout(this);
  grid->setContentsMargins(4, 2, 4, 2);
  grid->setHorizontalSpacing(4);
  grid->setVerticalSpacing(1);

  grid->addWidget(Label(kTypesLabelId, "Record type"), 0, 0);
  auto* type_row = new QHBoxLayout;
  type_row->setSpacing(2);
  const char* names[4] = {"Manual", "Timing", "Motion", "Alarm"};
  for (int i = 0; i < 4; ++i) {
    auto* b = new QPushButton(names[i], this);
    b->setProperty(app::kControlIdProperty, kManualId + i);
    b->setCheckable(true);
    b->setChecked(true);
    b->setFocusPolicy(Qt::TabFocus);
    // Ticked: the type's colour in the calendar; not ticked: grey.
    b->setStyleSheet(QString("QPushButton { padding: 1px 4px; background: #b4b4b4; color: #505050; }"
                             "QPushButton:checked { background: %1; color: white; }")
                         .arg(controls::CDVRCalendarCtrl::BarColor(0xFFu << (24 - 8 * i)).name()));
    types_[static_cast<size_t>(i)] = b;
    type_row->addWidget(b);
  }
  type_row->addStretch();
  grid->addLayout(type_row, 0, 1, 1, 3);

  auto day_and_time = [&](int row, int label_id, const char* label, QDateEdit*& date, QCheckBox*& set, QTimeEdit*& time,
                          int date_id, int time_id) {
    grid->addWidget(Label(label_id, label), row, 0);
    date = new QDateEdit(this);
    date->setObjectName(QString::number(date_id));
    date->setDisplayFormat("yyyy-MM-dd");
    date->setCalendarPopup(true);
    date->setTimeSpec(Qt::UTC);
    set = new QCheckBox(this);
    set->setChecked(true);
    set->setToolTip(tr("Without a time of day"));
    time = new QTimeEdit(this);
    time->setObjectName(QString::number(time_id));
    time->setDisplayFormat("HH:mm:ss");
    connect(set, &QCheckBox::toggled, time, &QWidget::setEnabled);
    auto* line = new QHBoxLayout;
    line->setSpacing(2);
    line->addWidget(date, 3);
    line->addWidget(set);
    line->addWidget(time, 2);
    grid->addLayout(line, row, 1, 1, 3);
  };
  day_and_time(1, kStartLabelId, "Start time", start_date_, start_time_set_, start_time_, kStartDateId, kStartTimeId);
  day_and_time(2, kEndLabelId, "End time", end_date_, end_time_set_, end_time_, kEndDateId, kEndTimeId);
  start_time_->setTime(QTime(0, 0, 0));
  end_time_->setTime(QTime(23, 59, 59));

  grid->addWidget(Label(kPlateLabelId, "Plate number"), 3, 0);
  plates_ = new QComboBox(this);
  plates_->setObjectName(QString::number(kPlateId));
  plates_->setMinimumContentsLength(8);
  grid->addWidget(plates_, 3, 1);
  search_ = new QPushButton("Search", this);
  back_up_ = new QPushButton("Back up", this);
  search_->setProperty(app::kControlIdProperty, kSearchId);
  back_up_->setProperty(app::kControlIdProperty, kBackUpId);
  for (QPushButton* b : {search_, back_up_}) b->setAutoDefault(false);
  grid->addWidget(search_, 3, 2);
  grid->addWidget(back_up_, 3, 3);
  grid->setColumnStretch(1, 1);
  connect(search_, &QPushButton::clicked, this, [this] { emit command(kSearchId); });
  connect(back_up_, &QPushButton::clicked, this, [this] { emit command(kBackUpId); });
  Reset();
  for (QWidget* child : findChildren<QWidget*>()) child->installEventFilter(this);
}

QLabel* CRecTpyeSearch::Label(int id, const char* text) {
  auto* label = new QLabel(text, this);
  label->setProperty(app::kControlIdProperty, id);
  return label;
}

void CRecTpyeSearch::Reset() {
  for (QPushButton* b : types_) b->setChecked(true);
  const QDateTime now = QDateTime::currentDateTime();
  // Today as the clock on the wall reads it, the day the recorder names.
  end_date_->setDate(now.date());
  start_date_->setDate(now.date());
  const QString all = plates_->count() > 0 ? plates_->itemText(0) : QStringLiteral("All");
  plates_->clear();
  plates_->addItem(all);
  plates_->setCurrentIndex(0);
}

void CRecTpyeSearch::AddPlate(const QString& plate) { plates_->addItem(plate); }

int64_t CRecTpyeSearch::TimeOf(const QDateEdit* date, const QCheckBox* set, const QTimeEdit* time) const {
  const QDate d = date->date();
  int h = -1, m = -1, s = -1;
  if (set->isChecked() && time->time().isValid()) {
    h = time->time().hour();
    m = time->time().minute();
    s = time->time().second();
  }
  // A date that cannot be read counts as day 0 of month 0 of year 0.
  if (!d.isValid()) return SecondsOf(0, 0, 0, h, m, s);
  return SecondsOf(d.year(), d.month(), d.day(), h, m, s);
}

CRecTpyeSearch::Criteria CRecTpyeSearch::GetCriteria() const {
  Criteria c;
  for (int i = 0; i < 4; ++i)
    if (types_[static_cast<size_t>(i)]->isChecked()) c.types |= 0xFFu << (24 - 8 * i);
  c.start = TimeOf(start_date_, start_time_set_, start_time_);
  c.end = TimeOf(end_date_, end_time_set_, end_time_);
  if (plates_->currentIndex() > 0) c.plate = plates_->currentText().toStdString();
  return c;
}

void CRecTpyeSearch::SetCriteria(uint32_t types, int64_t start, int64_t end) {
  for (int i = 0; i < 4; ++i) types_[static_cast<size_t>(i)]->setChecked(((types >> (24 - 8 * i)) & 0xFF) != 0);
  start_date_->setDate(Utc(start).date());
  end_date_->setDate(Utc(end).date());
  start_time_set_->setChecked(true);
  end_time_set_->setChecked(true);
  start_time_->setTime(QTime(0, 0, 0));
  end_time_->setTime(QTime(23, 59, 59));
}

void CRecTpyeSearch::RefreshLanguage(const app::LanguageResources& languages) {
  app::ApplyCaptions(this, kDialogNumber, languages);
  const std::string all = languages.Text(kAllKey);
  if (!all.empty()) {
    if (plates_->count() == 0) plates_->addItem(QString());
    plates_->setItemText(0, QString::fromStdString(all));
  }
  plates_->setCurrentIndex(0);
}

bool CRecTpyeSearch::eventFilter(QObject* watched, QEvent* event) {
  // Space plays or pauses wherever the focus is in the panel: a focused
  // type button would otherwise take it as a click.
  if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Space) {
    if (window_) window_->Post(platform::msg::kPlayPause, 0, 0);
    return true;
  }
  return QWidget::eventFilter(watched, event);
}

void CRecTpyeSearch::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Space) {
    if (window_) window_->Post(platform::msg::kPlayPause, 0, 0);
    event->accept();
    return;
  }
  // Enter and Escape: the panel is no dialog and has nothing to close.
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter || event->key() == Qt::Key_Escape) {
    event->accept();
    return;
  }
  QWidget::keyPressEvent(event);
}

}  // namespace tools
