// "メッセージ作成": the compose dialog. It collects To, Cc, subject, text
// and up to three attachments; its send and save buttons only check the
// input and end the dialog with their code, and the list view builds and
// sends or stores the message (NewMessage). One dialog serves every
// message: its fields keep their values from one run to the next until the
// list view clears them.
#pragma once

#include "ui/AdrSelDlg.h"

#include <QDialog>
#include <QString>
#include <QStringList>

class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;

namespace tegalo {

class CSendMailMsg : public QDialog {
    Q_OBJECT
public:
    enum Result : int {
        kSend = 1006,
        kSave = 1013,
        kCancel = 1031, // also Esc and the close box
    };

    // Marks a line of `attachText` as an attachment of the opened message
    // (written by forward) rather than a file path: the line is the
    // attachment's stored name, this character, and the line end.
    static constexpr char16_t kStoredAttachmentMark = u'\x1b';

    explicit CSendMailMsg(QWidget* parent = nullptr);

    // Picks the recipients for "宛先：" and "ＣＣ：".
    CAdrSelDlg addressDialog{this};

    // The fields as the user sees them (line ends in `bodyText` as Qt writes
    // them). `attachText` holds one line per attachment, each ending with
    // CR LF: a file path, or a stored attachment's name and the mark.
    QString ccText;
    QString bodyText;
    QString subjectText;
    QString toText;
    QString attachText;

    // At most this many attachments.
    static constexpr int kMaxAttachments = 3;

    // Puts the fields into the controls; the attachment list shows only
    // when there is an attachment. Call before each run. `again` for a run
    // that goes on with a message that was refused: what the first run
    // opened with stays the mark of "nothing typed".
    void Prepare(bool again = false);
    // Takes the controls' text into the fields.
    void Collect();
    // Empties all five fields (after a message was sent or saved).
    void Clear();

    // "添付": asks for a file and adds it to the attachment list; refuses a
    // fourth ("添付ファイルは３件までです").
    void Attach();
    // Takes attachment line `index` (from 0) off the list.
    void RemoveAttachment(int index);
    // "宛先：" and "ＣＣ：": the address selection; on its OK both fields
    // become the picked lines as name<address>,... (empty when none).
    void ChooseRecipients();
    // "送信" and "保存": end with their code once the input can go out;
    // otherwise say what is missing or wrong and stay open.
    void Send();
    void Save();
    // "ｷｬﾝｾﾙ", Esc, the close box. When anything was typed or attached
    // since the dialog opened, asks first: "破棄" empties every field and
    // ends with kCancel, "送信待ちに保存" is "保存", "戻る" (or Esc) keeps
    // the dialog open. With nothing typed it ends at once, fields emptied.
    void reject() override;

    // True when the fields differ from what the dialog opened with.
    bool Changed() const;

    // The lines of `attachText`, without their line ends.
    QStringList AttachmentLines() const;

    QLineEdit* toEdit() const { return to_; }
    QLineEdit* ccEdit() const { return cc_; }
    QLineEdit* subjectEdit() const { return subject_; }
    QPlainTextEdit* bodyEdit() const { return body_; }
    QListWidget* attachmentList() const { return attachments_; }
    QPushButton* cutButton() const { return cut_; }
    QPushButton* copyButton() const { return copy_; }
    QPushButton* pasteButton() const { return paste_; }
    QPushButton* toButton() const { return toButton_; }
    QPushButton* ccButton() const { return ccButton_; }
    QPushButton* attachButton() const { return attach_; }
    QPushButton* sendButton() const { return send_; }
    QPushButton* saveButton() const { return save_; }
    QPushButton* cancelButton() const { return cancel_; }

private:
    void ShowAttachments();
    // What the dialog opened with, to tell whether anything was typed.
    QStringList Snapshot() const;
    QStringList opened_;
    // True when the input may end the dialog; otherwise the user was told why.
    bool Acceptable();

    QPushButton* cut_ = nullptr;
    QPushButton* copy_ = nullptr;
    QPushButton* paste_ = nullptr;
    QPushButton* toButton_ = nullptr;
    QLineEdit* to_ = nullptr;
    QPushButton* ccButton_ = nullptr;
    QLineEdit* cc_ = nullptr;
    QLineEdit* subject_ = nullptr;
    QPushButton* attach_ = nullptr;
    QListWidget* attachments_ = nullptr;
    QPlainTextEdit* body_ = nullptr;
    QPushButton* send_ = nullptr;
    QPushButton* save_ = nullptr;
    QPushButton* cancel_ = nullptr;
};

} // namespace tegalo
