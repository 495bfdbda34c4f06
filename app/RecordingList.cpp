#include "app/RecordingList.h"

#include <QContextMenuEvent>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QPainter>
#include <QStyledItemDelegate>
#include <algorithm>

namespace app {
namespace {

// A darker line above the first row of every group, so that the rows
// recorded together read as one.
class GroupLineDelegate : public QStyledItemDelegate {
 public:
  GroupLineDelegate(const RecordingListModel& rows, QObject* parent) : QStyledItemDelegate(parent), rows_(rows) {}
  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    QStyledItemDelegate::paint(painter, option, index);
    const int row = index.row();
    if (row == 0 || row >= rows_.size() || rows_.row(row - 1).start == rows_.row(row).start) return;
    painter->save();
    painter->setPen(QPen(QColor(70, 96, 128), 1));
    painter->drawLine(option.rect.topLeft(), option.rect.topRight());
    painter->restore();
  }

 private:
  const RecordingListModel& rows_;
};

}  // namespace

RecordingList::RecordingList(QWidget* parent) : QTableView(parent) {
  setObjectName("recordingList");
  setModel(&model_);
  setItemDelegate(new GroupLineDelegate(model_, this));
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setSelectionMode(QAbstractItemView::ExtendedSelection);
  setShowGrid(true);
  setWordWrap(false);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  setIconSize(RecordingListModel::kIconSize);
  verticalHeader()->hide();
  // Every row is as high: the view need not measure ten thousand rows.
  verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  verticalHeader()->setDefaultSectionSize(RecordingListModel::kRowHeight);
  horizontalHeader()->setHighlightSections(false);
  horizontalHeader()->setStretchLastSection(false);
  // The recorder's widths, or wider where this font needs more.
  const char* const widest[RecordingListModel::kPath] = {"0000-00-00", "00:00:00", "00:00:00", "CH00-00", ""};
  for (int c = 0; c < RecordingListModel::kPath; ++c) {
    const int text = fontMetrics().horizontalAdvance(widest[c]) + 14;
    setColumnWidth(c, std::max(kWidths[c], c == RecordingListModel::kStatus ? RecordingListModel::kIconSize.width() + 8 : text));
  }
  setColumnHidden(RecordingListModel::kPath, true);
  setAutoFillBackground(true);
  QPalette p = palette();
  p.setColor(QPalette::Base, QColor(153, 179, 204));
  p.setColor(QPalette::Window, QColor(153, 179, 204));
  setPalette(p);
  connect(this, &QTableView::doubleClicked, this, [this](const QModelIndex& index) {
    if (index.isValid()) emit rowActivated(index.row());
  });
}

void RecordingList::SelectRows(const std::vector<int>& rows) {
  QItemSelection selection;
  for (int row : rows)
    if (row >= 0 && row < model_.size())
      selection.select(model_.index(row, 0), model_.index(row, RecordingListModel::kColumns - 1));
  selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  if (!rows.empty() && rows.front() >= 0 && rows.front() < model_.size()) {
    selectionModel()->setCurrentIndex(model_.index(rows.front(), 0), QItemSelectionModel::NoUpdate);
    scrollTo(model_.index(rows.front(), 0));
  }
}

std::vector<int> RecordingList::SelectedRows() const {
  std::vector<int> rows;
  for (const QModelIndex& index : selectionModel()->selectedRows()) rows.push_back(index.row());
  std::sort(rows.begin(), rows.end());
  return rows;
}

void RecordingList::contextMenuEvent(QContextMenuEvent* event) {
  const QModelIndex index = indexAt(viewport()->mapFrom(this, event->pos()));
  if (index.isValid()) emit rowMenuRequested(index.row(), event->globalPos());
}

}  // namespace app
