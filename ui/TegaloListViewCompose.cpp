// The list view's compose commands: a new message, reply and forward. The
// compose dialog collects the message; here it is built into the
// document's parts and sent, or stored in the waiting folder.
#include "ui/TegaloListView.h"

#include "gui/Prompter.h"
#include "gui/QtText.h"
#include "mime/ComposedMessage.h"
#include "mime/Outgoing.h"
#include "session/MailSessions.h"
#include "store/Record.h"
#include "store/TegaloDoc.h"
#include "ui/RecordListModel.h"

#include <utility>

namespace tegalo {

namespace {

const QChar kMark(CSendMailMsg::kStoredAttachmentMark);

// A stored text as the compose dialog's editor holds it.
QString EditorText(std::string_view sjis) {
    QString text = FromSjis(sjis);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return text;
}

// Forward's attachment list: one line per attachment of the loaded
// message, its stored name followed by the mark.
QString ForwardAttachmentList(const LoadedMessage& m) {
    QString list;
    if (std::atoi(m.attachmentNames[0].c_str()) == 0) {
        return list;
    }
    for (int k = 1; k <= m.lastAttachmentIndex && k <= 3; ++k) {
        list += FromSjis(m.attachmentNames[static_cast<std::size_t>(k)]) + kMark + QStringLiteral("\r\n");
    }
    return list;
}

} // namespace

void CTegaloListView::SetComposeClock(Clock clock) {
    composeClock_ = std::move(clock);
}

void CTegaloListView::StartNewMessage() {
    composeDialog_.Clear();
    NewMessage();
}

void CTegaloListView::ReplyToLoaded() {
    LoadedMessage& m = currentMessage_;
    composeDialog_.Clear(); // a reply starts from its own fields only
    m.lastAttachmentIndex = 0;
    m.subject = "Re: " + m.subject;
    composeDialog_.toText = FromSjis(m.from);
    composeDialog_.subjectText = FromSjis(m.subject);
    composeDialog_.bodyText = EditorText(m.body);
    composeDialog_.attachText.clear();
    NewMessage();
}

void CTegaloListView::ForwardLoaded() {
    LoadedMessage& m = currentMessage_;
    composeDialog_.Clear();
    m.subject = "Fwd: " + m.subject;
    composeDialog_.subjectText = FromSjis(m.subject);
    composeDialog_.bodyText = EditorText(m.body);
    composeDialog_.attachText = ForwardAttachmentList(m);
    // The lines name attachments of this record; remember it, so that they
    // are never taken from another message loaded later.
    forwardFolder_ = doc_.CurrentFolder();
    forwardRecord_ = doc_.GetRecord(m.currentRecordIndex).value_or(std::string());
    NewMessage();
}

void CTegaloListView::NewMessage() {
    composeDialog_.addressDialog.directory = doc_.BaseDir();
    for (bool again = false;; again = true) {
        composeDialog_.Prepare(again);
        const int result = composeDialog_.exec();
        if (result == CSendMailMsg::kCancel) {
            return;
        }
        if ((result != CSendMailMsg::kSend && result != CSendMailMsg::kSave) || DeliverComposed(result)) {
            composeDialog_.Clear();
            forwardRecord_.clear(); // no line names a forwarded attachment any more
            return;
        }
        // Refused (the user was told why): back to the dialog with
        // everything as it was typed.
    }
}

int CTegaloListView::StoredAttachmentNumber(const QString& name, std::array<bool, 4>& taken) const {
    const LoadedMessage& m = currentMessage_;
    if (forwardRecord_.empty() || doc_.CurrentFolder() != forwardFolder_ ||
        doc_.GetRecord(m.currentRecordIndex) != forwardRecord_) {
        return 0;
    }
    // Two attachments may share a name: each line takes the next one.
    for (int j = 1; j <= m.lastAttachmentIndex && j <= 3; ++j) {
        const auto k = static_cast<std::size_t>(j);
        if (!taken[k] && FromSjis(m.attachmentNames[k]) == name) {
            taken[k] = true;
            return j;
        }
    }
    return 0;
}

bool CTegaloListView::BuildAttachmentPart(BodyParts& parts, const QString& line, int index,
                                          std::array<bool, 4>& taken) {
    if (line.endsWith(kMark)) {
        const int j = StoredAttachmentNumber(line.chopped(1), taken);
        const std::optional<StoredAttachment> attachment =
            j == 0 ? std::nullopt : doc_.GetAttachment(currentMessage_.currentRecordIndex, j);
        if (!attachment) {
            Prompter().Message(this, QStringLiteral("添付ファイルがみつかりません"));
            return false;
        }
        // The part is named without the mark, so that its extension still
        // chooses the part's type.
        const std::string& name = currentMessage_.attachmentNames[static_cast<std::size_t>(j)];
        return doc_.CSbodyMsgA(parts, attachment->content, name, index, encodedContent, attachment->encoding) ==
               PartError::none;
    }
    const std::string path = NativePath(line);
    const PartError error = doc_.CSbodyMsgA(parts, "", path, index, IsHtmlPath(path) ? htmlFile : base64File);
    if (error != PartError::none && sessions_.Busy()) {
        // The store's message waits for the session to end; say it now.
        Prompter().Message(this, QStringLiteral("添付ファイルを読めません: ") + line);
    }
    return error == PartError::none;
}

bool CTegaloListView::DeliverComposed(int result) {
    const CSendMailMsg& d = composeDialog_;
    QStringList unmapped;
    const std::string to = ToSjis(d.toText, &unmapped);
    QStringList more;
    const std::string cc = ToSjis(d.ccText, &more);
    unmapped += more;
    const std::string subject = ToSjis(d.subjectText, &more);
    unmapped += more;
    const std::string body = WithCrLf(ToSjis(d.bodyText, &more));
    unmapped += more;
    if (!unmapped.isEmpty()) {
        // The dialog checks this before it ends; fields set from outside
        // are checked here too, so nothing is dropped in silence.
        Prompter().Message(this, QStringLiteral("送れない文字があります: ") + unmapped.join(QLatin1Char(' ')));
        return false;
    }
    const QStringList lines = d.AttachmentLines();
    if (lines.size() > CSendMailMsg::kMaxAttachments) {
        Prompter().Message(this, QStringLiteral("添付ファイルは３件までです"));
        return false;
    }

    BodyParts parts = NewBodyParts();
    const std::string recipients = ComposedRecipients(to, cc);
    const std::string date = StoredDate(composeClock_());
    if (lines.isEmpty()) {
        static_cast<void>(doc_.CSbodyMsgA(parts, body, "", 0, plainText));
    } else {
        static_cast<void>(doc_.CSbodyMsgA(parts, body, "", 0, textPart));
        std::array<bool, 4> taken{};
        for (int i = 0; i < lines.size(); ++i) {
            if (!BuildAttachmentPart(parts, lines[i], i + 1, taken)) {
                return false;
            }
        }
    }

    const std::string& account = sessions_.Settings().mailAccount;
    const std::string header = ComposedHeaderBlock(subject, account, recipients, date, !lines.isEmpty());
    const PartSizes sizes = ComposedSizes(subject, account, date, header);
    const std::string headerText = ComposedHeaderText(subject, account, date, header);
    if (result == CSendMailMsg::kSend) {
        Envelope envelope = doc_.SetRecipients(subject, date, recipients);
        if (envelope.status != StoreStatus::kOk) {
            return false; // the store said why
        }
        // Should the server not take it, the message goes to the waiting folder.
        auto keep = [this, parts, sizes, headerText] {
            return doc_.StoreComposedMessage(parts, sizes, headerText, "reserv") == StoreStatus::kOk;
        };
        if (SendComposed(OutgoingMessage{std::move(envelope.sendEnvelope), parts, recipients}, keep)) {
            return true;
        }
        if (!Prompter().Ask(this, QStringLiteral("このメッセージは送信できませんでした。送信待ちフォルダーに保存しますか"))) {
            return false;
        }
    }
    if (doc_.StoreComposedMessage(parts, sizes, headerText, "reserv") != StoreStatus::kOk) {
        return false; // the store said why
    }
    if (doc_.CurrentFolder() == kWaiting && model() == model_) {
        model_->Refill();
    }
    return true;
}

} // namespace tegalo
