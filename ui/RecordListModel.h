// The rows of the message list over the folder shown: the newest record on
// top, three columns (subject with the row's picture, sender, date). Rows are
// read from the records when Qt asks for them, so a folder of any size lists
// at once.
#pragma once

#include "store/RecordSearch.h"

#include <QAbstractTableModel>

#include <string_view>
#include <vector>

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
    // The record of `row` changed in place (its read mark): the row is drawn anew.
    void RowChanged(int row);

    // Shows only the records whose subject, sender or text holds
    // `sjisQuery`, ignoring ASCII case and full-/half-width forms; an empty
    // query shows every record. `matchesNothing` for a query with
    // characters no record can hold.
    void SetFilter(std::string_view sjisQuery, bool matchesNothing = false);
    bool Filtered() const { return filtered_; }

    // Sorts the rows by a column (0 subject, 1 sender, 2 date); -1 goes back
    // to the list's own order, the newest record on top. Rows keep their
    // focus and selection.
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

    // The record index of a row: without filter and sort, row r of n is
    // record n - 1 - r.
    int RecordIndex(int row) const;
    // The row that shows record `index`, or -1 when none does.
    int RowOfRecord(int index) const;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // 0 multipart read, 1 multipart unread, 2 single part unread, 3 single part read.
    static int IconIndex(std::string_view record);

private:
    // True when the rows are listed in `order_` rather than newest first.
    bool Ordered() const { return filtered_ || sortColumn_ >= 0; }
    // Fills `order_` from the list: the filter, then the sort.
    void BuildOrder();
    void SortOrder();
    std::string_view RecordOfRow(int row) const;

    const RecordList& list_;
    int rows_ = 0; // records of the list the rows know of
    FolderSearch search_;
    TextMatcher matcher_{""};
    bool filtered_ = false;
    bool matchesNothing_ = false;
    int sortColumn_ = -1;
    Qt::SortOrder sortOrder_ = Qt::AscendingOrder;
    std::vector<int> order_; // record index of each row, when Ordered()
};

} // namespace tegalo
