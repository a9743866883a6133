// The rows of the message list over the folder shown: the newest record on
// top, three columns (subject with the row's picture, sender, date). Rows are
// read from the records when Qt asks for them, so a folder of any size lists
// at once.
#pragma once

#include <QAbstractTableModel>

#include <string_view>

namespace tegalo {

class RecordList;

// The text of the sender column: the sender up to its first "<" when that
// stands at position 1 or later, the whole sender otherwise.
std::string_view SenderColumnText(std::string_view sender);

class RecordListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit RecordListModel(const RecordList& list, QObject* parent = nullptr);

    // Shows the list anew (after any change to it).
    void Refill();
    // Shows the records appended to the list since the last refill as new
    // rows at the top, keeping the rows (and the focus) already shown.
    void ShowAppended();
    // Removes one row without reading the list again.
    void RemoveRow(int row);

    // The record index of a row: row r of n is record n - 1 - r.
    int RecordIndex(int row) const { return rows_ - 1 - row; }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // 0 multipart read, 1 multipart unread, 2 single part unread, 3 single part read.
    static int IconIndex(std::string_view record);

private:
    const RecordList& list_;
    int rows_ = 0;
    std::string_view RecordOfRow(int row) const;
};

} // namespace tegalo
