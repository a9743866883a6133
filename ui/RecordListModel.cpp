#include "ui/RecordListModel.h"

#include "gui/Icons.h"
#include "gui/QtText.h"
#include "store/FolderFile.h"
#include "store/Record.h"

#include <algorithm>

namespace tegalo {

std::string_view SenderColumnText(std::string_view sender) {
    const std::size_t lt = sender.find('<');
    return lt != std::string_view::npos && lt >= 1 ? sender.substr(0, lt) : sender;
}

RecordListModel::RecordListModel(const RecordList& list, QObject* parent) : QAbstractTableModel(parent), list_(list) {}

void RecordListModel::Refill() {
    beginResetModel();
    rows_ = list_.Count();
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
    beginInsertRows(QModelIndex(), 0, count - rows_ - 1);
    rows_ = count;
    endInsertRows();
}

void RecordListModel::RemoveRow(int row) {
    if (row < 0 || row >= rows_) {
        return;
    }
    beginRemoveRows(QModelIndex(), row, row);
    // The list itself already lost the record; the rows above it keep their
    // records, the ones below shift by one.
    --rows_;
    endRemoveRows();
}

std::string_view RecordListModel::RecordOfRow(int row) const {
    const int index = list_.Count() - 1 - row;
    if (index < 0 || index >= list_.Count()) {
        return {};
    }
    return list_[static_cast<std::size_t>(index)];
}

int RecordListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : std::min(rows_, list_.Count());
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
