// "受信メール電文": one received message with its header, body and
// attachments. Its buttons only end it with a code; the list view acts.
#pragma once

#include <QDialog>
#include <QStringList>

class QLabel;
class QListWidget;
class QPlainTextEdit;
class QPushButton;

namespace tegalo {

class CMailMsg : public QDialog {
    Q_OBJECT
public:
    enum Result : int {
        kPrint = 1005,
        kReply = 1014,
        kForward = 1015,
        kSaveOriginal = 1016,    // "元のメッセージを保存..."
        kFirstAttachment = 1017, // + the attachment's entry (0, 1, 2, ...)
    };

    explicit CMailMsg(QWidget* parent = nullptr);

    // The texts shown at the next run: "Message" and empty at first.
    QString viewerBody = QStringLiteral("Message");
    QString viewerHeader;
    // The attachment names; an empty list with `multipart` set shows the
    // label and an empty list, without it both are hidden.
    QStringList attachments;
    bool multipart = false;
    // The store keeps the message as received: "元のメッセージを保存..." is offered.
    bool hasOriginal = false;

    // Puts the texts into the controls (before exec).
    void Prepare();

    QPlainTextEdit* bodyEdit() const { return body_; }
    QListWidget* attachmentList() const { return list_; }
    QLabel* attachmentLabel() const { return listLabel_; }
    QLabel* headerLabel() const { return header_; }
    QPushButton* saveOriginalButton() const { return saveOriginal_; }

private:
    QLabel* header_ = nullptr;
    QLabel* listLabel_ = nullptr;
    QListWidget* list_ = nullptr;
    QPlainTextEdit* body_ = nullptr;
    QPushButton* saveOriginal_ = nullptr;
};

} // namespace tegalo
