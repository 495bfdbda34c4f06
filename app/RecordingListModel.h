#pragma once
// The recording list behind the main window's list view: date, time,
// duration, channel, record-type icon and path of every recording found,
// kept in the list's order (start time, then channel) as rows arrive, with
// the groups (rows of equal start time) they form.
#include <QAbstractTableModel>
#include <QPixmap>
#include <memory>
#include <vector>

#include "app/LanguageResources.h"
#include "app/RecordingRow.h"

namespace app {

class RecordingListModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  enum Column { kDate = 0, kTime, kDuration, kChannel, kStatus, kPath, kColumns };
  static constexpr int kRowHeight = 20;
  static constexpr QSize kIconSize{68, 17};

  explicit RecordingListModel(QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

  // Inserts before the first row with a later start (equal starts: before
  // the first with a higher channel); the row's index.
  int Add(RecordingRow row);
  void Clear();
  const RecordingRow& row(int i) const { return *rows_[static_cast<size_t>(i)]; }
  // The row record, kept alive for whoever holds it after the list changed.
  std::shared_ptr<const RecordingRow> record(int i) const { return rows_[static_cast<size_t>(i)]; }
  // The row of a record still in the list, or -1 (the pointer is only
  // compared, never followed).
  int IndexOf(const RecordingRow* record) const;
  int size() const { return static_cast<int>(rows_.size()); }
  // The rows [first, last) of row i's group.
  std::pair<int, int> GroupOf(int i) const;
  // The row of a path, or -1.
  int Find(const std::string& path) const;
  // The header texts and the record types' names from the language file.
  void SetHeaders(const LanguageResources& languages);

 private:
  // Pointers, so that an insertion moves pointers, not rows.
  std::vector<std::shared_ptr<const RecordingRow>> rows_;
  QString headers_[kColumns];
  QString type_names_[4];
  mutable std::vector<QPixmap> icons_;  // 16 type icons, made on first paint
};

}  // namespace app
