#include "ui/RecordListModel.h"

#include "gui/Icons.h"
#include "gui/QtText.h"
#include "store/FolderFile.h"
#include "store/Record.h"

#include <algorithm>
#include <functional>
#include <limits>
#include <numeric>

namespace tegalo {

std::string_view SenderColumnText(std::string_view sender) {
    const std::size_t lt = sender.find('<');
    return lt != std::string_view::npos && lt >= 1 ? sender.substr(0, lt) : sender;
}

RecordListModel::RecordListModel(const RecordList& list, QObject* parent) : QAbstractTableModel(parent), list_(list) {}

void RecordListModel::Refill() {
    beginResetModel();
    rows_ = list_.Count();
    search_.Reset();
    BuildOrder();
    endResetModel();
}

void RecordListModel::ShowAppended() {
    const int count = list_.Count();
    if (count < rows_) {
        Refill();
        return;
    }
    if (count == rows_) {
        return;
    }
    if (!Ordered()) {
        beginInsertRows(QModelIndex(), 0, count - rows_ - 1);
        rows_ = count;
        endInsertRows();
        return;
    }
    // The new records that pass the filter go on top, newest first; a sort
    // then moves them to their places.
    std::vector<int> added;
    if (!matchesNothing_) {
        added = filtered_ ? search_.Matching(list_, matcher_, rows_) : std::vector<int>();
        if (!filtered_) {
            for (int i = rows_; i < count; ++i) {
                added.push_back(i);
            }
        }
    }
    rows_ = count;
    if (added.empty()) {
        return;
    }
    beginInsertRows(QModelIndex(), 0, static_cast<int>(added.size()) - 1);
    order_.insert(order_.begin(), added.rbegin(), added.rend());
    endInsertRows();
    if (sortColumn_ >= 0) {
        sort(sortColumn_, sortOrder_);
    }
}

void RecordListModel::RemoveRow(int row) {
    // The list already lost the record: count the rows as shown, not the list.
    const int shown = Ordered() ? static_cast<int>(order_.size()) : rows_;
    if (row < 0 || row >= shown) {
        return;
    }
    const int index = RecordIndex(row);
    beginRemoveRows(QModelIndex(), row, row);
    // The list itself already lost the record; the records after it moved
    // up by one.
    --rows_;
    search_.Erase(index);
    if (Ordered()) {
        order_.erase(order_.begin() + row);
        for (int& i : order_) {
            i -= i > index ? 1 : 0;
        }
    }
    endRemoveRows();
}

void RecordListModel::RowChanged(int row) {
    if (row >= 0 && row < rowCount()) {
        emit dataChanged(index(row, 0), index(row, columnCount() - 1));
    }
}

int RecordListModel::RecordIndex(int row) const {
    if (Ordered()) {
        return row >= 0 && static_cast<std::size_t>(row) < order_.size() ? order_[static_cast<std::size_t>(row)] : -1;
    }
    return rows_ - 1 - row;
}

int RecordListModel::RowOfRecord(int index) const {
    if (index < 0 || index >= rows_) {
        return -1;
    }
    if (!Ordered()) {
        return rows_ - 1 - index;
    }
    const auto found = std::find(order_.begin(), order_.end(), index);
    return found == order_.end() ? -1 : static_cast<int>(found - order_.begin());
}

void RecordListModel::SetFilter(std::string_view sjisQuery, bool matchesNothing) {
    beginResetModel();
    matcher_ = TextMatcher(sjisQuery);
    matchesNothing_ = matchesNothing;
    filtered_ = matchesNothing || !matcher_.Empty();
    BuildOrder();
    endResetModel();
}

void RecordListModel::BuildOrder() {
    order_.clear();
    if (!Ordered()) {
        return;
    }
    if (filtered_) {
        if (!matchesNothing_) {
            order_ = search_.Matching(list_, matcher_);
        }
    } else {
        order_.resize(static_cast<std::size_t>(rows_));
        std::iota(order_.begin(), order_.end(), 0);
    }
    std::reverse(order_.begin(), order_.end()); // newest first
    SortOrder();
}

void RecordListModel::SortOrder() {
    if (sortColumn_ < 0) {
        std::sort(order_.begin(), order_.end(), std::greater<int>());
        return;
    }
    // Ascending by the column's key, equal keys oldest first; descending is
    // the same order reversed, so that equal keys show the newest first.
    if (sortColumn_ == 2) {
        std::vector<std::pair<std::int64_t, int>> keys;
        keys.reserve(order_.size());
        for (int i : order_) {
            const std::optional<RecordPieces> pieces = SplitRecord(list_[static_cast<std::size_t>(i)]);
            const std::optional<std::int64_t> key = pieces ? DateSortKey(pieces->date) : std::nullopt;
            keys.emplace_back(key.value_or(std::numeric_limits<std::int64_t>::min()), i);
        }
        std::sort(keys.begin(), keys.end());
        for (std::size_t k = 0; k < keys.size(); ++k) {
            order_[k] = keys[k].second;
        }
    } else {
        std::vector<std::pair<std::string_view, int>> keys;
        keys.reserve(order_.size());
        for (int i : order_) {
            keys.emplace_back(search_.FoldedLine(list_, i, sortColumn_), i);
        }
        std::sort(keys.begin(), keys.end());
        for (std::size_t k = 0; k < keys.size(); ++k) {
            order_[k] = keys[k].second;
        }
    }
    if (sortOrder_ == Qt::DescendingOrder) {
        std::reverse(order_.begin(), order_.end());
    }
}

void RecordListModel::sort(int column, Qt::SortOrder order) {
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const QModelIndexList before = persistentIndexList();
    std::vector<int> records;
    records.reserve(static_cast<std::size_t>(before.size()));
    for (const QModelIndex& i : before) {
        records.push_back(RecordIndex(i.row()));
    }
    sortColumn_ = column >= 0 && column < 3 ? column : -1;
    sortOrder_ = order;
    if (filtered_) {
        SortOrder();
    } else {
        BuildOrder();
    }
    QModelIndexList after;
    for (qsizetype k = 0; k < before.size(); ++k) {
        const int row = RowOfRecord(records[static_cast<std::size_t>(k)]);
        after.append(row < 0 ? QModelIndex() : index(row, before[k].column()));
    }
    changePersistentIndexList(before, after);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

std::string_view RecordListModel::RecordOfRow(int row) const {
    const int index = RecordIndex(row);
    if (index < 0 || index >= list_.Count()) {
        return {};
    }
    return list_[static_cast<std::size_t>(index)];
}

int RecordListModel::rowCount(const QModelIndex& parent) const {
    if (parent.isValid()) {
        return 0;
    }
    return Ordered() ? static_cast<int>(order_.size()) : std::min(rows_, list_.Count());
}

int RecordListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : 3;
}

int RecordListModel::IconIndex(std::string_view record) {
    const std::optional<PartSizes> sizes = ParseSizeBlock(record);
    const bool multipart = sizes && (*sizes)[kPartCount] >= 1;
    const bool read = sizes && (*sizes)[kReadMark] != 0;
    if (multipart) {
        return read ? 0 : 1;
    }
    return read ? 3 : 2;
}

QVariant RecordListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid()) {
        return {};
    }
    const std::string_view record = RecordOfRow(index.row());
    if (role == Qt::DecorationRole && index.column() == 0) {
        switch (IconIndex(record)) {
        case 0:
            return icons::AttachmentRead();
        case 1:
            return icons::AttachmentUnread();
        case 2:
            return icons::LetterUnread();
        default:
            return icons::LetterRead();
        }
    }
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole) {
        return {};
    }
    const std::optional<RecordPieces> pieces = SplitRecord(record);
    if (!pieces) {
        return {};
    }
    switch (index.column()) {
    case 0:
        return FromSjis(pieces->subject);
    case 1:
        return FromSjis(SenderColumnText(pieces->sender));
    default:
        return FromSjis(pieces->date);
    }
}

QVariant RecordListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) {
        return {};
    }
    switch (section) {
    case 0:
        return QStringLiteral("題 目");
    case 1:
        return QStringLiteral("差出人");
    default:
        return QStringLiteral("日　時");
    }
}

} // namespace tegalo
