// The message list in the right pane. It carries most of the program's
// commands: it opens, prints, moves and deletes the message under the
// focus, owns the dialogs and gives the mail sessions their commands.
#pragma once

#include "config/qt/MailComset.h"
#include "mime/ReceivedMessage.h"
#include "transfer/MailDate.h"
#include "transfer/qt/Sock.h"
#include "ui/AdrBookDlg.h"
#include "ui/MailMsg.h"
#include "ui/SendMailMsg.h"

#include <QTimer>
#include <QTreeView>

#include <array>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tegalo {

class CTegaloDoc;
class MailSessions;
class RecordListModel;

// The message loaded from the focused row, as the viewer, printing, reply
// and forward use it. Texts are Shift_JIS.
struct LoadedMessage {
    std::string subject;
    std::string from;
    std::string date;
    std::string body;
    // Entry 0: the part count (size field 4) as stored; 1 to 3: attachment names.
    std::array<std::string, 4> attachmentNames;
    int currentRecordIndex = -1;
    int lastAttachmentIndex = 0; // the number of attachments
    // The store keeps the message as it was received.
    bool hasOriginal = false;
    // Every attachment, from the original, when it has more than the record
    // holds; empty otherwise (the record's attachments are shown).
    std::vector<ReceivedAttachment> allAttachments;
};

class CTegaloListView : public QTreeView {
    Q_OBJECT
public:
    CTegaloListView(CTegaloDoc& doc, MailSessions& sessions, QWidget* parent = nullptr);
    ~CTegaloListView() override;

    // Reads the settings, sets up the columns and lists the received folder.
    // Without a settings file it stops after the message: no columns.
    void OnInitialUpdate();
    // Lists the folder shown anew.
    void OnUpdate(int hint);
    // Runs a command; returns false for one it does not handle.
    bool OnCommand(int id);

    // The record index of the focused row, or -1 (nothing shown) when no row
    // has the focus.
    int FocusedRecordIndex() const;

    // Loads the focused message into `currentMessage` and the viewer, marks
    // it read; returns its record index or -1 after "電文を選択してください".
    int LoadFocusedMessage();

    // Open: the viewer, then what its result asks for.
    void OpenFocusedMessage();
    void PrintFocusedMessage();
    // Prints the loaded message's body.
    void PrintCurrentBody();
    // Writes attachment `number` (1 to 3) of the loaded message to the
    // temporary directory and hands it to the desktop.
    void OpenAttachment(int number);
    // Asks where to, and writes the loaded message's original there.
    void SaveOriginalOfLoaded();
    void RunSettings();
    // Sends a composed message at once. False, after a message, when
    // another mail session runs or the message was refused before it went
    // out: the message was not taken. When it was taken but the server does
    // not accept it, `keepIfNotSent` (when given) stores it in the waiting
    // folder, so that a send that fails part way loses nothing.
    bool SendComposed(OutgoingMessage message, std::function<bool()> keepIfNotSent = {});
    MailSessions& sessions() { return sessions_; }

    // The Delete key: asks, then moves the focused message to the deleted
    // folder (deletes it for good when the deleted folder is shown).
    void DeleteFocusedMessage();
    // Moves the focused message to `folder` (1 to 4); nothing when that
    // folder is shown. A row leaves the list only when its record left the
    // folder file.
    void MoveFocusedMessage(int folder);
    // Adds the sender of the focused message to the address book.
    void RegisterSender();
    void RunAddressBook();

    // Narrows the list to the messages whose subject, sender or text holds
    // `text` (empty: all); the focused message stays focused when shown.
    void SetFilter(const QString& text);

    // "新規" and "新規作成": a new message from empty fields.
    void StartNewMessage();
    // Runs the compose dialog until its message was
    // sent or stored in the waiting folder, or the user cancelled. A message
    // that cannot go out (an attachment that cannot be read, characters
    // without a Shift_JIS form, a refused send the user does not want to
    // save) takes the user back to the dialog with everything kept.
    void NewMessage();
    // Reply and forward to the loaded message (LoadFocusedMessage first):
    // they fill the compose dialog and run NewMessage.
    void ReplyToLoaded();
    void ForwardLoaded();
    CSendMailMsg& composeDialog() { return composeDialog_; }
    // Where the date of composed messages comes from.
    void SetComposeClock(Clock clock);

    RecordListModel* recordModel() const { return model_; }
    CMailMsg& viewerDialog() { return viewerDialog_; }
    CMailComset& settingsDialog() { return settingsDialog_; }
    CAdrBookDlg& addressBookDialog() { return addressBookDialog_; }
    const LoadedMessage& currentMessage() const { return currentMessage_; }
    const std::string& lastAttachmentPath() const { return lastAttachmentPath_; }
    bool HasColumns() const { return columnsShown_; }

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    // Builds and sends or stores the compose dialog's message; false when
    // it was refused and the dialog should open again.
    bool DeliverComposed(int result);
    // Builds attachment part `index` (1 to 3) from one line of the
    // attachment list; false after telling the user why it cannot.
    bool BuildAttachmentPart(BodyParts& parts, const QString& line, int index, std::array<bool, 4>& taken);
    // The attachment of the forwarded message that a marked line names
    // (1 to 3), skipping those `taken` by earlier lines; 0 when there is none.
    int StoredAttachmentNumber(const QString& name, std::array<bool, 4>& taken) const;
    void FillViewer();
    // Adds the rows of newly received messages when the received folder is shown.
    void ShowReceived();
    // Messages wait while a session runs.
    void OnBusyChanged(bool busy);
    // After a session whose server showed a certificate nobody vouches for:
    // asks the user whether to trust it from now on.
    void OfferToTrustCertificate();

    CTegaloDoc& doc_;
    MailSessions& sessions_;
    RecordListModel* model_ = nullptr;
    CMailComset settingsDialog_;
    CMailMsg viewerDialog_;
    LoadedMessage currentMessage_;
    std::string lastAttachmentPath_;
    CAdrBookDlg addressBookDialog_{this};
    CSendMailMsg composeDialog_{this};
    Clock composeClock_ = SystemLocalTime;
    // The record forward took its attachment lines from, and its folder.
    std::string forwardRecord_;
    int forwardFolder_ = 0;
    bool columnsShown_ = false;
    QTimer refillTimer_;
};

} // namespace tegalo
