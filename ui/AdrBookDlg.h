// "アドレス帳": looks through, corrects and deletes the entries of the
// address book ".\addr". The list is a working copy read when the dialog
// opens; nothing is written before "保存", which replaces the whole file.
#pragma once

#include <QDialog>

#include <string>

class QLineEdit;
class QPushButton;
class QTreeWidget;

namespace tegalo {

class CAdrBookDlg : public QDialog {
    Q_OBJECT
public:
    // How the dialog ends: saved, or left with "ｷｬﾝｾﾙ" (Esc and the close
    // box end it with 0).
    enum Result : int {
        kSaved = 1050,
        kCancelled = 1051,
    };

    explicit CAdrBookDlg(QWidget* parent = nullptr);

    // The directory of the address book file, ending with "/".
    std::string directory;

    // The row last picked. It outlives a run: when the dialog opens again
    // and the row exists, it is picked again, so that the edits always show
    // the row that "修正" and "削除" act on.
    int selectedAddressRow = 0;

    // Reads the file into the list, the last line of the file as the top
    // row, and disables "保存". Call before each run. A file that cannot be
    // read gives "アドレスファイルが開けません" and an empty list.
    void Prepare();

    // Puts the focused row into the edits and makes it `selectedAddressRow`
    // (a click in the list does this).
    void Pick();
    // Writes the edits into the picked row.
    void Modify();
    // Deletes the picked row after a confirmation.
    void Delete();
    // Writes the list to the file, bottom row first, and ends with kSaved.
    // When the file cannot be written the dialog stays open as it was.
    void Save();
    // Ends with kCancelled; nothing is written.
    void Cancel();

    QTreeWidget* addressList() const { return list_; }
    QLineEdit* nameEdit() const { return name_; }
    QLineEdit* addressEdit() const { return address_; }
    QPushButton* modifyButton() const { return modify_; }
    QPushButton* deleteButton() const { return delete_; }
    QPushButton* saveButton() const { return save_; }
    QPushButton* cancelButton() const { return cancel_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool PickedRowExists() const;
    void ShowRow(int row);

    QTreeWidget* list_ = nullptr;
    QLineEdit* name_ = nullptr;
    QLineEdit* address_ = nullptr;
    QPushButton* modify_ = nullptr;
    QPushButton* delete_ = nullptr;
    QPushButton* save_ = nullptr;
    QPushButton* cancel_ = nullptr;
};

} // namespace tegalo
