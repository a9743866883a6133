// "宛先選択": picks recipients for the compose dialog from the lines of
// ".\addr.txt". The user moves lines into a To box and a Cc box (or types
// into them); on OK the compose dialog turns the collected lines into its
// To and Cc fields.
#pragma once

#include <QDialog>
#include <QString>

#include <string>

class QListWidget;
class QPlainTextEdit;
class QPushButton;

namespace tegalo {

class CAdrSelDlg : public QDialog {
    Q_OBJECT
public:
    // How the dialog ends. Esc and the close box end it with 0, like
    // "ｷｬﾝｾﾙ", but leave `toLines` and `ccLines` as they were.
    enum Result : int {
        kOk = 1043,
        kCancelled = 1044,
    };

    explicit CAdrSelDlg(QWidget* parent = nullptr);

    // The collected lines, each ending with CR LF. After a kOk run they hold
    // the choice; the caller empties them once it has used them.
    QString ccLines;
    QString toLines;

    // The directory of ".\addr.txt", ending with "/".
    std::string directory;

    // Fills the list from the file, in file order, then with the entries
    // of the address book ".\addr" not listed yet, and the boxes from
    // `toLines` and `ccLines`. Call before each run. A list file that cannot
    // be read gives "アドレスファイルが開けません" and only the address book.
    void Prepare();

    // "宛先→" and "CC→": append the selected line to the box, or say
    // "アドレスの選択をして下さい" when no line is selected.
    void AddTo();
    void AddCc();
    // OK: the boxes into `toLines` and `ccLines`, end with kOk.
    void Ok();
    // "ｷｬﾝｾﾙ": empties both members, ends with kCancelled.
    void Cancel();

    QListWidget* addressList() const { return list_; }
    QPlainTextEdit* toBox() const { return toBox_; }
    QPlainTextEdit* ccBox() const { return ccBox_; }
    QPushButton* toButton() const { return toButton_; }
    QPushButton* ccButton() const { return ccButton_; }
    QPushButton* okButton() const { return ok_; }
    QPushButton* cancelButton() const { return cancel_; }

private:
    void AddSelectedTo(QPlainTextEdit* box);

    QListWidget* list_ = nullptr;
    QPlainTextEdit* toBox_ = nullptr;
    QPlainTextEdit* ccBox_ = nullptr;
    QPushButton* toButton_ = nullptr;
    QPushButton* ccButton_ = nullptr;
    QPushButton* ok_ = nullptr;
    QPushButton* cancel_ = nullptr;
};

} // namespace tegalo
