#pragma once
// The search panel under the recording list: which record types, from which
// day and time to which, and (optionally) which plate. "Search" and "Back up"
// go to the main window as commands 1031 and 1032; Space there plays or
// pauses (1165) and the panel never closes.
//
// Times are the recordings' wall-clock times counted as if they were UTC, as
// the recorder writes them into its file names and as the list counts them.
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QLabel>
#include <QPushButton>
#include <QTimeEdit>
#include <QWidget>
#include <array>
#include <cstdint>
#include <string>

#include "platform/MessageSink.h"

namespace app {
class LanguageResources;
}

namespace tools {

class CRecTpyeSearch : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kDialogNumber = 211;
  static constexpr int kHeight = 100;
  static constexpr int kSearchId = 1031, kBackUpId = 1032;
  static constexpr int kManualId = 1039, kTimingId = 1040, kMotionId = 1041, kAlarmId = 1042;
  static constexpr int kStartDateId = 1035, kEndDateId = 1036, kStartTimeId = 1123, kEndTimeId = 1124;
  static constexpr int kPlateId = 1045;
  static constexpr int kTypesLabelId = 1033, kStartLabelId = 1034, kEndLabelId = 1037, kPlateLabelId = 1038;

  struct Criteria {
    uint32_t types = 0;  // a byte per type: manual, timing, motion, alarm (most significant first)
    int64_t start = 0;   // seconds
    int64_t end = 0;
    std::string plate;   // empty: every plate
  };

  // `window` gets 1165 for Space; "Search" and "Back up" are the signal.
  explicit CRecTpyeSearch(platform::MessageSink* window, QWidget* parent = nullptr);

  // What the controls hold now. A time of day without a value counts as
  // -1 h -1 min -1 s of its day.
  Criteria GetCriteria() const;
  // Ticks the types whose byte is not zero, shows the days of `start` and
  // `end` and the whole of them (00:00:00 to 23:59:59).
  void SetCriteria(uint32_t types, int64_t start, int64_t end);
  // A plate at the end of the list (the caller keeps it unique).
  void AddPlate(const QString& plate);
  // Back to "All" alone, every type ticked, the end day today.
  void Reset();
  // The dialog's texts again and the first entry's "All", which is chosen.
  void RefreshLanguage(const app::LanguageResources& languages);

  QAbstractButton* typeButton(int index) const { return types_[static_cast<size_t>(index)]; }
  QDateEdit* startDate() const { return start_date_; }
  QDateEdit* endDate() const { return end_date_; }
  QTimeEdit* startTime() const { return start_time_; }
  QTimeEdit* endTime() const { return end_time_; }
  // Unticked: the time of day has no value.
  QCheckBox* startTimeSet() const { return start_time_set_; }
  QCheckBox* endTimeSet() const { return end_time_set_; }
  QComboBox* plates() const { return plates_; }
  QPushButton* button(int id) const { return id == kSearchId ? search_ : id == kBackUpId ? back_up_ : nullptr; }

  // Seconds of a calendar day and time of day counted as UTC; fields out of
  // range carry over (-1 s of 00:00:00 is the day before at 23:59:59).
  static int64_t SecondsOf(int year, int month, int day, int hour, int minute, int second);

 signals:
  void command(int id);

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QLabel* Label(int id, const char* text);
  int64_t TimeOf(const QDateEdit* date, const QCheckBox* set, const QTimeEdit* time) const;

  platform::MessageSink* window_;
  std::array<QPushButton*, 4> types_{};
  QDateEdit* start_date_;
  QDateEdit* end_date_;
  QTimeEdit* start_time_;
  QTimeEdit* end_time_;
  QCheckBox* start_time_set_;
  QCheckBox* end_time_set_;
  QComboBox* plates_;
  QPushButton* search_;
  QPushButton* back_up_;
};

}  // namespace tools
