#include "app/RecordingListModel.h"

#include <QPainter>
#include <algorithm>

namespace app {
namespace {

// The type icon: four cells, lit for manual, timing, motion and alarm.
QPixmap TypeIcon(int index) {
  QPixmap icon(RecordingListModel::kIconSize);
  icon.fill(Qt::transparent);
  QPainter p(&icon);
  static const QColor kLit[4] = {QColor(40, 110, 220), QColor(40, 160, 70), QColor(230, 160, 20), QColor(210, 40, 40)};
  static const char* const kLetters[4] = {"M", "T", "Mo", "A"};
  for (int i = 0; i < 4; ++i) {
    const bool lit = index & (8 >> i);
    const QRect cell(i * 17, 0, 16, 16);
    p.fillRect(cell, lit ? kLit[i] : QColor(200, 210, 220));
    p.setPen(lit ? Qt::white : QColor(150, 160, 170));
    QFont f = p.font();
    f.setPixelSize(i == 2 ? 9 : 11);
    f.setBold(true);
    p.setFont(f);
    p.drawText(cell, Qt::AlignCenter, kLetters[i]);
  }
  return icon;
}

}  // namespace

RecordingListModel::RecordingListModel(QObject* parent) : QAbstractTableModel(parent) {
  const char* const defaults[kColumns] = {"Date", "Time", "Duration", "Channel", "Status", "Path"};
  for (int c = 0; c < kColumns; ++c) headers_[c] = defaults[c];
  const char* const types[4] = {"Manual", "Timing", "Motion", "Alarm"};
  for (int i = 0; i < 4; ++i) type_names_[i] = types[i];
}

int RecordingListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int RecordingListModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : kColumns; }

QVariant RecordingListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= size()) return {};
  const RecordingRow& r = row(index.row());
  switch (role) {
    case Qt::DisplayRole:
      switch (index.column()) {
        case kDate: return DateText(r.start);
        case kTime: return TimeText(r.start);
        case kDuration: return DurationText(r.duration);
        case kChannel: return ChannelText(r);
        case kPath: return QString::fromStdString(r.path);
        default: return {};
      }
    case Qt::DecorationRole:
      if (index.column() != kStatus) return {};
      if (icons_.empty())
        for (int i = 0; i < 16; ++i) icons_.push_back(TypeIcon(i));
      return icons_[static_cast<size_t>(TypeIconIndex(r.type_mask))];
    case Qt::TextAlignmentRole:
      return index.column() == kPath ? int(Qt::AlignLeft | Qt::AlignVCenter) : int(Qt::AlignCenter);
    case Qt::ToolTipRole: {
      if (index.column() != kStatus) return QString::fromStdString(r.path);
      // The record types by name: manual, timing, motion, alarm.
      QStringList names;
      const int icon = TypeIconIndex(r.type_mask);
      for (int i = 0; i < 4; ++i)
        if (icon & (8 >> i)) names << type_names_[i];
      return names.join(", ");
    }
    case Qt::UserRole: return TypeIconIndex(r.type_mask);
    default: return {};
  }
}

QVariant RecordingListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section < 0 || section >= kColumns) return {};
  if (role == Qt::DisplayRole) return headers_[section];
  if (role == Qt::TextAlignmentRole) return section == kPath ? int(Qt::AlignLeft) : int(Qt::AlignCenter);
  return {};
}

int RecordingListModel::Add(RecordingRow r) {
  const auto at = std::upper_bound(rows_.begin(), rows_.end(), r,
                                   [](const RecordingRow& a, const auto& b) { return RowBefore(a, *b); });
  const int i = static_cast<int>(at - rows_.begin());
  beginInsertRows({}, i, i);
  rows_.insert(at, std::make_shared<const RecordingRow>(std::move(r)));
  endInsertRows();
  return i;
}

int RecordingListModel::IndexOf(const RecordingRow* record) const {
  // By address alone: the record may be gone (and its memory reused).
  for (size_t i = 0; i < rows_.size(); ++i)
    if (rows_[i].get() == record) return static_cast<int>(i);
  return -1;
}

void RecordingListModel::Clear() {
  beginResetModel();
  rows_.clear();
  endResetModel();
}

std::pair<int, int> RecordingListModel::GroupOf(int i) const {
  if (i < 0 || i >= size()) return {0, 0};
  const int64_t start = row(i).start;
  int first = i, last = i + 1;
  while (first > 0 && row(first - 1).start == start) --first;
  while (last < size() && row(last).start == start) ++last;
  return {first, last};
}

int RecordingListModel::Find(const std::string& path) const {
  for (int i = 0; i < size(); ++i)
    if (rows_[static_cast<size_t>(i)]->path == path) return i;
  return -1;
}

void RecordingListModel::SetHeaders(const LanguageResources& languages) {
  const char* const keys[kColumns] = {"IDS_LIST_DATA", "IDS_LIST_TIME", "IDS_LIST_DURATION",
                                      "IDS_LIST_CHANNEL", "IDS_LIST_STATUS", "IDS_LIST_PATH"};
  for (int c = 0; c < kColumns; ++c) headers_[c] = QString::fromStdString(languages.Text(keys[c]));
  const char* const types[4] = {"IDS_LIST_RECMANUAL", "IDS_LIST_RECTIME", "IDS_LIST_RECMOV", "IDS_LIST_RECALARM"};
  for (int i = 0; i < 4; ++i) type_names_[i] = QString::fromStdString(languages.Text(types[i]));
  emit headerDataChanged(Qt::Horizontal, 0, kColumns - 1);
}

}  // namespace app
