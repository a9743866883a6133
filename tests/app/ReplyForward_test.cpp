// Reply and forward: from the menu and from the viewer, what they put into
// the compose dialog, and what a saved reply or forward holds.
#include "gui/Commands.h"
#include "app/MainFrm.h"
#include "app/TegaloApp.h"
#include "config/AccountSettings.h"
#include "store/Attachments.h"
#include "mime/Outgoing.h"
#include "store/Record.h"
#include "store/TegaloDoc.h"
#include "text/unicode.h"
#include "ui/MailMsg.h"
#include "gui/QtText.h"
#include "ui/RecordListModel.h"
#include "ui/SendMailMsg.h"
#include "ui/TegaloListView.h"

#include "support/DialogScript.h"
#include "support/ScriptedPrompter.h"
#include "support/TestMailbox.h"
#include "support/WindowUnderTest.h"

#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

using namespace tegalo;
using namespace tegalo::literals;
using namespace tegalo::testing_support;

namespace {

const std::string kDelimiter = "------=_NextPart_000_0017_01C3CBA8.DEA1DD40\r\n";

TestMessage Message(const std::string& subject, const std::string& sender = "someone@example.jp") {
    TestMessage m;
    m.subject = subject;
    m.sender = sender;
    m.date = "Mon, 07 Dec 2026 10:00:00 +0900";
    m.header = "Subject: x\r\n\r\n";
    m.body = "body of " + subject + "\r\nsecond line\r\n";
    return m;
}

TestMessage WithAttachments(TestMessage m, std::vector<TestMessage::Attachment> attachments) {
    m.attachments = std::move(attachments);
    return m;
}

std::string_view After(std::string_view text, std::string_view marker) {
    const std::size_t pos = text.find(marker);
    return pos == std::string_view::npos ? std::string_view() : text.substr(pos + marker.size());
}

} // namespace

class ReplyForwardTest : public QObject, protected WindowUnderTest {
    Q_OBJECT

private:

    CSendMailMsg& dialog() { return list().composeDialog(); }
    CTegaloDoc& doc() { return app->doc(); }

    void Start() {
        AccountSettings settings;
        settings.mailAccount = "taro@example.jp";
        box->Write("comconfig", FormatAccountSettings(settings));
        QVERIFY(app->InitInstance(box->QDir()));
    }
    void Focus(int row) { list().setCurrentIndex(list().recordModel()->index(row, 0)); }

    QStringList ShownAttachments() {
        QStringList shown;
        for (int i = 0; i < dialog().attachmentList()->count(); ++i) {
            shown << dialog().attachmentList()->item(i)->text();
        }
        return shown;
    }

    // The pieces of waiting record `index`, read back from the file.
    std::optional<RecordPieces> Waiting(int index, std::string& file) {
        file = box->Read("reserv");
        std::string_view rest = std::string_view(file).substr(6);
        for (int i = 0; i < index; ++i) {
            rest.remove_prefix(static_cast<std::size_t>(ParseField(rest.substr(0, 6)).value_or(0)) + 6);
        }
        const int length = ParseField(rest.substr(0, 6)).value_or(0);
        return SplitRecord(rest.substr(0, static_cast<std::size_t>(length) + 6));
    }

private slots:
    void init() {
        OpenWindowTest();
    }

    void cleanup() { CloseWindowTest(); }

    void replyToTheBottomRowKeepsTheTextAndTheSender() {
        const TestMessage oldest = Message("Re: 質問"_sjis, "山田 花子 <hanako@example.jp>"_sjis);
        box->Add("recv", {oldest, Message("B"), Message("C")});
        Start();
        DialogScript script(dialog());
        script.Then([&] {
            QCOMPARE(dialog().toEdit()->text(), QStringLiteral("山田 花子 <hanako@example.jp>"));
            QCOMPARE(dialog().ccEdit()->text(), QString());
            // "Re: " is added every time.
            QCOMPARE(dialog().subjectEdit()->text(), QStringLiteral("Re: Re: 質問"));
            QCOMPARE(dialog().bodyEdit()->toPlainText(), QStringLiteral("body of Re: 質問\nsecond line\n"));
            QVERIFY(!dialog().attachmentList()->isVisible());
            dialog().saveButton()->click();
        });
        Focus(2);
        frame().OnCommand(ID_REPLY);
        QVERIFY(script.Done());
        QCOMPARE(list().currentMessage().currentRecordIndex, 0);
        std::string file;
        const std::optional<RecordPieces> saved = Waiting(0, file);
        QVERIFY(saved);
        QCOMPARE(saved->subject, std::string_view("Re: Re: 質問"_sjis));
        QVERIFY(saved->header.find("\r\nTo: " + oldest.sender + "\r\n") != std::string_view::npos);
        // The text goes out as it was stored, byte for byte.
        QCOMPARE(saved->body, std::string_view(oldest.body));
    }

    void replyAndForwardWithoutAFocusedRow() {
        box->Add("recv", {Message("A")});
        Start();
        DialogScript script(dialog());
        list().setCurrentIndex(QModelIndex());
        frame().OnCommand(ID_REPLY);
        frame().OnCommand(ID_FORWARD);
        QCOMPARE(prompter->messages, QStringList(2, QStringLiteral("電文を選択してください")));
        QCOMPARE(script.Shown(), 0);
    }

    void theViewersButtonsReplyAndForward() {
        box->Add("recv", {WithAttachments(Message("Mail"), {{"a.jpg", "base64", "QUJD\r\n"}})});
        Start();
        DialogScript viewer(list().viewerDialog());
        viewer.Then([&] { list().viewerDialog().done(CMailMsg::kReply); })
            .Then([&] { list().viewerDialog().done(CMailMsg::kForward); });
        DialogScript compose(dialog());
        compose
            .Then([&] {
                QCOMPARE(dialog().subjectEdit()->text(), QStringLiteral("Re: Mail"));
                QCOMPARE(dialog().toEdit()->text(), QStringLiteral("someone@example.jp"));
                QCOMPARE(ShownAttachments(), QStringList());
                dialog().cancelButton()->click();
            })
            .Then([&] {
                QCOMPARE(dialog().subjectEdit()->text(), QStringLiteral("Fwd: Mail"));
                QCOMPARE(dialog().toEdit()->text(), QString());
                QCOMPARE(ShownAttachments(), QStringList{QStringLiteral("a.jpg")});
                dialog().cancelButton()->click();
            });
        Focus(0);
        frame().OnCommand(ID_FILE_OPEN);
        QCOMPARE(list().currentMessage().lastAttachmentIndex, 0); // reply takes no attachments
        frame().OnCommand(ID_FILE_OPEN);
        QVERIFY(viewer.Done());
        QVERIFY(compose.Done());
    }

    void forwardTwoAttachmentsThenSave() {
        box->Add("recv", {Message("A"), WithAttachments(Message("B"), {{"a.jpg", "base64", "QUJD\r\n"},
                                                                       {"b.txt", "base64", "REVG\r\n"}})});
        Start();
        DialogScript script(dialog());
        script
            .Then([&] {
                QCOMPARE(dialog().subjectEdit()->text(), QStringLiteral("Fwd: B"));
                QCOMPARE(dialog().bodyEdit()->toPlainText(), QStringLiteral("body of B\nsecond line\n"));
                QCOMPARE(dialog().attachText, QStringLiteral("a.jpg\x1b\r\nb.txt\x1b\r\n"));
                QCOMPARE(ShownAttachments(), (QStringList{QStringLiteral("a.jpg"), QStringLiteral("b.txt")}));
                QCOMPARE(dialog().toEdit()->text(), QString());
                dialog().saveButton()->click();
            })
            .Then([&] {
                QCOMPARE(prompter->LastMessage(), QStringLiteral("宛先を入力してください"));
                dialog().toEdit()->setText(QStringLiteral("hanako@example.jp"));
                dialog().saveButton()->click();
            });
        Focus(0);
        frame().OnCommand(ID_FORWARD);
        QVERIFY(script.Done());
        QCOMPARE(prompter->messages.size(), 1);

        std::string file;
        const std::optional<RecordPieces> saved = Waiting(0, file);
        QVERIFY(saved);
        QCOMPARE(saved->subject, std::string_view("Fwd: B"));
        QCOMPARE(PartRecordName(saved->attachments[0]), std::string_view("a.jpg"));
        QCOMPARE(PartRecordName(saved->attachments[1]), std::string_view("b.txt"));
        QCOMPARE(PartRecordEncoding(saved->attachments[0]), std::string_view("base64"));

        // Sending it later loads both attachments' stored content back.
        const PreparedSend prepared = doc().PrepareSend(0, "reserv");
        QCOMPARE(prepared.status, StoreStatus::kOk);
        const BodyParts& parts = prepared.bodyParts;
        QCOMPARE(parts[0], std::string("2"));
        QVERIFY(parts[2].find("name=\"a.jpg\"") != std::string::npos);
        QVERIFY(After(parts[2], "\r\n\r\n").starts_with("QUJD\r\n" + kDelimiter));
        QVERIFY(parts[3].find("name=\"b.txt\"") != std::string::npos);
        QVERIFY(After(parts[3], "\r\n\r\n").starts_with("REVG\r\n" + kDelimiter));
    }

    void forwardSendsEachOfTwoAttachmentsOfTheSameName() {
        box->Add("recv", {WithAttachments(Message("B"), {{"x.bin", "base64", "MQ==\r\n"},
                                                         {"x.bin", "base64", "Mg==\r\n"}})});
        Start();
        DialogScript script(dialog());
        script.Then([&] {
            dialog().toEdit()->setText(QStringLiteral("hanako@example.jp"));
            dialog().saveButton()->click();
        });
        Focus(0);
        frame().OnCommand(ID_FORWARD);
        QVERIFY(script.Done());
        std::string file;
        const std::optional<RecordPieces> saved = Waiting(0, file);
        QVERIFY(saved);
        QVERIFY(PartRecordContent(saved->attachments[0]).starts_with("MQ==\r\n"));
        QVERIFY(PartRecordContent(saved->attachments[1]).starts_with("Mg==\r\n"));
    }

    void forwardWithoutAttachmentsIsPlainText() {
        const TestMessage plain = Message("A");
        box->Add("recv", {plain});
        Start();
        DialogScript script(dialog());
        script.Then([&] {
            QCOMPARE(dialog().attachText, QString());
            QVERIFY(!dialog().attachmentList()->isVisible());
            dialog().toEdit()->setText(QStringLiteral("hanako@example.jp"));
            dialog().saveButton()->click();
        });
        Focus(0);
        frame().OnCommand(ID_FORWARD);
        QVERIFY(script.Done());
        std::string file;
        const std::optional<RecordPieces> saved = Waiting(0, file);
        QVERIFY(saved);
        QCOMPARE(ParseSizeBlock(std::string_view(file).substr(6))->at(kPartCount), 0);
        QCOMPARE(saved->body, std::string_view(plain.body));
        QVERIFY(saved->header.find("Content-Transfer-Encoding: 7bit\r\n") != std::string_view::npos);
    }

    void eachComposeStartsFromItsOwnFields() {
        box->Add("recv", {Message("A"), WithAttachments(Message("B"), {{"a.jpg", "base64", "QUJD\r\n"}})});
        Start();
        DialogScript script(dialog());
        script
            .Then([&] {
                // A forward the user gave a Cc and then threw away.
                dialog().ccEdit()->setText(QStringLiteral("cc@example.jp"));
                prompter->choiceAnswers.enqueue(0); // 破棄
                dialog().cancelButton()->click();
            })
            .Then([&] {
                // The next reply has its own To and nothing of the forward.
                QCOMPARE(dialog().toEdit()->text(), QStringLiteral("someone@example.jp"));
                QCOMPARE(dialog().ccEdit()->text(), QString());
                QCOMPARE(ShownAttachments(), QStringList());
                dialog().ccEdit()->setText(QStringLiteral("cc2@example.jp"));
                prompter->choiceAnswers.enqueue(0);
                dialog().cancelButton()->click();
            })
            .Then([&] {
                // And a new message starts empty.
                QCOMPARE(dialog().toEdit()->text() + dialog().ccEdit()->text() + dialog().subjectEdit()->text() +
                             dialog().bodyEdit()->toPlainText(),
                         QString());
                QVERIFY(!dialog().attachmentList()->isVisible());
                dialog().cancelButton()->click();
            });
        Focus(0);
        frame().OnCommand(ID_FORWARD);
        Focus(1);
        frame().OnCommand(ID_REPLY);
        frame().OnCommand(ID_NEW_MESSAGE);
        QVERIFY(script.Done());
        QCOMPARE(prompter->choices.size(), 2); // the untouched new message closed without a question
        QCOMPARE(box->Read("reserv"), std::string("     0"));
    }
};

QTEST_MAIN(ReplyForwardTest)
#include "ReplyForward_test.moc"
