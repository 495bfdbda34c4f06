#pragma once
// The recording list of the main window: a report view over the
// RecordingListModel (full-row select, grid lines, rows 20 pixels high on the
// list's blue-grey), whose double click asks for a row's group to be played
// and whose right click asks for its properties.
#include <QTableView>

#include "app/RecordingListModel.h"

namespace app {

class RecordingList : public QTableView {
  Q_OBJECT

 public:
  static constexpr int kWidths[RecordingListModel::kColumns] = {65, 60, 75, 60, 72, 0};

  explicit RecordingList(QWidget* parent = nullptr);
  RecordingListModel& model_rows() { return model_; }
  // Selects these rows and nothing else, and shows the first.
  void SelectRows(const std::vector<int>& rows);
  // The selected rows in list order.
  std::vector<int> SelectedRows() const;

 signals:
  void rowActivated(int row);
  void rowMenuRequested(int row, const QPoint& global_position);

 protected:
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  RecordingListModel model_;
};

}  // namespace app
