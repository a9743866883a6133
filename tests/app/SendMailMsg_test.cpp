// The compose dialog and the new-message command: the fields between runs,
// attachments, the checks before a message may end the dialog, the address
// selection, and the record a saved message leaves in the waiting folder.
#include "gui/Commands.h"
#include "app/MainFrm.h"
#include "app/TegaloApp.h"
#include "config/AccountSettings.h"
#include "store/Attachments.h"
#include "mime/Outgoing.h"
#include "store/Record.h"
#include "store/TegaloDoc.h"
#include "text/unicode.h"
#include "gui/QtText.h"
#include "ui/SendMailMsg.h"
#include "ui/TegaloListView.h"

#include "support/DialogScript.h"
#include "support/ScriptedPrompter.h"
#include "support/TestMailbox.h"

#include <QAction>
#include <QClipboard>
#include <QFile>
#include <QGuiApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

using namespace tegalo;
using namespace tegalo::literals;
using namespace tegalo::testing_support;

namespace {

const std::string kAccount = "taro@example.jp";
const std::string kDate = "Mon, Dec 07, 2026";
const std::string kDelimiter = "------=_NextPart_000_0017_01C3CBA8.DEA1DD40\r\n";
const std::string kTextPartRecord = "Content-Transfer-Encoding: " + std::string(71, ' ') + "\r\n" + std::string(9, ' ');

LocalTime December7() {
    LocalTime t;
    t.year = 2026;
    t.month = 12;
    t.day = 7;
    t.hour = 23;
    t.weekday = 1;
    t.utcOffsetMinutes = 540;
    return t;
}

// The waiting folder holding one record of these sizes and text.
std::string OneRecordFolder(PartSizes sizes, const std::string& text) {
    sizes[0] = sizes[1] + sizes[2] + sizes[3] + sizes[6] + sizes[7] + sizes[8] + sizes[9] + sizes[10] + 60;
    std::string folder = "     1";
    for (int field : sizes) {
        folder += FormatField(field);
    }
    return folder + text;
}

// The one record of a waiting folder file, cut into its pieces.
struct StoredRecord {
    std::string file;
    std::optional<RecordPieces> pieces;
};

} // namespace

class SendMailMsgTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TestMailbox> box;
    std::unique_ptr<QTemporaryDir> files;
    std::unique_ptr<ScriptedPrompter> prompter;
    std::unique_ptr<CTegaloApp> app;

    CMainFrame& frame() { return *app->mainFrame(); }
    CTegaloListView& list() { return *frame().listView(); }
    CSendMailMsg& dialog() { return list().composeDialog(); }

    void Start() {
        AccountSettings settings;
        settings.mailAccount = kAccount;
        box->Write("comconfig", FormatAccountSettings(settings));
        QVERIFY(app->InitInstance(box->QDir()));
        list().SetComposeClock(December7);
    }

    // A file to attach; its directory has no "." in its path.
    QString File(const QString& name, const QByteArray& content) {
        const QString path = files->path() + QLatin1Char('/') + name;
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size()) {
            qFatal("cannot write a test file");
        }
        return path;
    }

    void Fill(const QString& to, const QString& cc, const QString& subject, const QString& body) {
        dialog().toEdit()->setText(to);
        dialog().ccEdit()->setText(cc);
        dialog().subjectEdit()->setText(subject);
        dialog().bodyEdit()->setPlainText(body);
    }

    // Presses "添付" with `path` chosen in the file dialog.
    void Attach(const QString& path) {
        prompter->filesToOpen.enqueue(path);
        dialog().attachButton()->click();
    }

    QStringList ShownAttachments() {
        QStringList shown;
        for (int i = 0; i < dialog().attachmentList()->count(); ++i) {
            shown << dialog().attachmentList()->item(i)->text();
        }
        return shown;
    }

    void RunNewMessage(DialogScript& script, int command = ID_NEW_MESSAGE) {
        frame().OnCommand(command);
        QVERIFY2(script.Done(), "the dialog did not run the steps as expected");
    }

    StoredRecord Waiting() {
        StoredRecord stored{box->Read("reserv"), std::nullopt};
        if (stored.file.size() > 6 && stored.file.substr(0, 6) == "     1") {
            stored.pieces = SplitRecord(std::string_view(stored.file).substr(6));
        }
        return stored;
    }

private slots:
    void init() {
        box = std::make_unique<TestMailbox>();
        files = std::make_unique<QTemporaryDir>(QStringLiteral("/tmp/tegalo_compose_XXXXXX"));
        QVERIFY(files->isValid());
        QVERIFY(!files->path().contains(QLatin1Char('.')));
        prompter = std::make_unique<ScriptedPrompter>();
        app = std::make_unique<CTegaloApp>();
    }

    void cleanup() {
        app.reset();
        prompter.reset();
        files.reset();
        box.reset();
    }

    void cancelAsksBeforeThrowingAwayWhatWasTyped() {
        Start();
        const QString path = File(QStringLiteral("a.doc"), "doc");
        DialogScript script(dialog());
        script
            .Then([&] {
                QCOMPARE(dialog().windowTitle(), QStringLiteral("メッセージ作成"));
                QVERIFY(!dialog().attachmentList()->isVisible());
                Fill(QStringLiteral("to@example.jp"), QStringLiteral("cc@example.jp"), QStringLiteral("件名"),
                     QStringLiteral("本文"));
                Attach(path);
                prompter->choiceAnswers.enqueue(2); // 戻る
                dialog().cancelButton()->click();
                QCOMPARE(prompter->choices, QStringList{QStringLiteral("作成中のメッセージを破棄しますか")});
                QCOMPARE(prompter->choiceButtons, (QStringList{QStringLiteral("破棄"), QStringLiteral("送信待ちに保存"),
                                                               QStringLiteral("戻る")}));
                QVERIFY(dialog().isVisible());
                QCOMPARE(dialog().bodyEdit()->toPlainText(), QStringLiteral("本文"));
                prompter->choiceAnswers.enqueue(-1); // Esc on the question is 戻る too
                QTest::keyClick(dialog().subjectEdit(), Qt::Key_Escape);
                QVERIFY(dialog().isVisible());
                prompter->choiceAnswers.enqueue(0); // 破棄
                QTest::keyClick(dialog().subjectEdit(), Qt::Key_Escape);
            })
            .Then([&] {
                // The next message starts empty: nothing of the one thrown away.
                QCOMPARE(dialog().toEdit()->text() + dialog().ccEdit()->text() + dialog().subjectEdit()->text() +
                             dialog().bodyEdit()->toPlainText(),
                         QString());
                QCOMPARE(ShownAttachments(), QStringList());
                QVERIFY(!dialog().attachmentList()->isVisible());
                dialog().cancelButton()->click(); // nothing typed: no question
                QCOMPARE(prompter->choices.size(), 3);
            })
            .Then([&] {
                Fill(QStringLiteral("to@example.jp"), QString(), QString(), QStringLiteral("下書き"));
                prompter->choiceAnswers.enqueue(1); // 送信待ちに保存
                dialog().cancelButton()->click();
                // Saving checks like "保存": the subject is missing, the dialog stays.
                QCOMPARE(prompter->LastMessage(), QStringLiteral("件名を入力してください"));
                QVERIFY(dialog().isVisible());
                dialog().subjectEdit()->setText(QStringLiteral("件名"));
                prompter->choiceAnswers.enqueue(1);
                dialog().cancelButton()->click();
            });
        frame().OnCommand(ID_NEW_MESSAGE);
        frame().OnCommand(ID_FILE_NEW);
        frame().OnCommand(ID_NEW_MESSAGE);
        QVERIFY(script.Done());
        QCOMPARE(script.Shown(), 3);
        const StoredRecord stored = Waiting();
        QVERIFY(stored.pieces);
        QCOMPARE(stored.pieces->subject, std::string_view("件名"_sjis));
        QCOMPARE(stored.pieces->body, std::string_view("下書き"_sjis));
    }

    void ctrlEnterSends() {
        Start();
        DialogScript script(dialog());
        script.Then([&] {
            QVERIFY(QTest::qWaitForWindowActive(&dialog()));
            Fill(QString(), QString(), QStringLiteral("件名"), QStringLiteral("本文"));
            dialog().bodyEdit()->setFocus();
            QTest::keyClick(dialog().bodyEdit(), Qt::Key_Return, Qt::ControlModifier);
            // It took the send button's path, which first wants a recipient.
            QCOMPARE(prompter->messages, QStringList{QStringLiteral("宛先を入力してください")});
            QCOMPARE(dialog().bodyEdit()->toPlainText(), QStringLiteral("本文"));
            prompter->choiceAnswers.enqueue(0);
            dialog().cancelButton()->click();
        });
        RunNewMessage(script);
    }

    void attachTakesAtMostThreeFiles() {
        Start();
        const QStringList paths{File(QStringLiteral("1.doc"), "1"), File(QStringLiteral("2.xls"), "2"),
                                File(QStringLiteral("3.txt"), "3")};
        DialogScript script(dialog());
        script.Then([&] {
            for (const QString& path : paths) {
                Attach(path);
            }
            QVERIFY(prompter->messages.isEmpty());
            QCOMPARE(prompter->fileFilters, (QStringList{QStringLiteral("Document Files(*.doc)"),
                                                         QStringLiteral("Excel Files(*.xls)"),
                                                         QStringLiteral("All.Files(*.*)")}));
            Attach(File(QStringLiteral("4.doc"), "4"));
            QCOMPARE(prompter->messages, QStringList{QStringLiteral("添付ファイルは３件までです")});
            QCOMPARE(prompter->filesToOpen.size(), 1); // the file dialog did not open
            QCOMPARE(ShownAttachments(), paths);
            dialog().cancelButton()->click();
        });
        RunNewMessage(script);
    }

    void sendAndSaveRefuseMissingInput_data() {
        QTest::addColumn<bool>("send");
        QTest::newRow("送信") << true;
        QTest::newRow("保存") << false;
    }

    void sendAndSaveRefuseMissingInput() {
        QFETCH(bool, send);
        Start();
        DialogScript script(dialog());
        QPushButton* button = nullptr;
        script
            .Then([&] {
                button = send ? dialog().sendButton() : dialog().saveButton();
                Fill(QString(), QStringLiteral("cc@example.jp"), QStringLiteral("件名"), QStringLiteral("本文"));
                button->click();
            })
            .Then([&] {
                QCOMPARE(prompter->LastMessage(), QStringLiteral("宛先を入力してください"));
                dialog().toEdit()->setText(QStringLiteral("to@example.jp"));
                dialog().subjectEdit()->clear();
                button->click();
            })
            .Then([&] {
                QCOMPARE(prompter->LastMessage(), QStringLiteral("件名を入力してください"));
                QCOMPARE(dialog().toEdit()->text(), QStringLiteral("to@example.jp"));
                QCOMPARE(dialog().ccEdit()->text(), QStringLiteral("cc@example.jp"));
                QCOMPARE(dialog().bodyEdit()->toPlainText(), QStringLiteral("本文"));
                // Enter in a one-line field neither sends nor throws the input away.
                QTest::keyClick(dialog().toEdit(), Qt::Key_Return);
                QVERIFY(dialog().isVisible());
                QCOMPARE(dialog().toEdit()->text(), QStringLiteral("to@example.jp"));
                dialog().cancelButton()->click();
            });
        RunNewMessage(script);
        QCOMPARE(prompter->messages.size(), 2);
        QCOMPARE(box->Read("reserv"), std::string("     0"));
    }

    void charactersWithoutShiftJisAreNamedBeforeSaving() {
        Start();
        DialogScript script(dialog());
        script
            .Then([&] {
                Fill(QStringLiteral("to@example.jp"), QString(), QStringLiteral("件名😀"),
                     QStringLiteral("本文𠀋と😀"));
                dialog().saveButton()->click();
            })
            .Then([&] {
                const QString message = prompter->LastMessage();
                QVERIFY2(message.contains(QStringLiteral("件名に送れない文字があります: 😀")), qPrintable(message));
                QVERIFY2(message.contains(QStringLiteral("本文に送れない文字があります: 𠀋 😀")), qPrintable(message));
                QCOMPARE(dialog().subjectEdit()->text(), QStringLiteral("件名😀"));
                QCOMPARE(box->Read("reserv"), std::string("     0"));
                dialog().subjectEdit()->setText(QStringLiteral("件名"));
                dialog().bodyEdit()->setPlainText(QStringLiteral("本文"));
                dialog().saveButton()->click();
            });
        RunNewMessage(script);
        QCOMPARE(prompter->messages.size(), 1);
        QCOMPARE(box->Read("reserv").substr(0, 6), std::string("     1"));
    }

    void unreadableAddressIsRefusedWithItsText() {
        Start();
        DialogScript script(dialog());
        script
            .Then([&] {
                Fill(QStringLiteral("\"Suzuki, Ichiro\" <s@example.jp>, 山田"), QStringLiteral("cc@example.jp"),
                     QStringLiteral("件名"), QStringLiteral("本文"));
                dialog().saveButton()->click();
            })
            .Then([&] {
                QCOMPARE(prompter->LastMessage(), QStringLiteral("宛先のアドレスを読み取れません: 山田"));
                QCOMPARE(box->Read("reserv"), std::string("     0"));
                dialog().toEdit()->setText(QStringLiteral("\"Suzuki, Ichiro\" <s@example.jp>"));
                dialog().saveButton()->click();
            });
        RunNewMessage(script);
        QCOMPARE(prompter->messages.size(), 1);
        QCOMPARE(box->Read("reserv").substr(0, 6), std::string("     1"));
    }

    void saveWithoutAttachmentStoresThePlainRecord() {
        Start();
        DialogScript script(dialog());
        script.Then([&] {
            Fill(QStringLiteral("hanako@example.jp"), QString(), QStringLiteral("テスト"),
                 QStringLiteral("一行目\n二行目"));
            dialog().saveButton()->click();
        });
        RunNewMessage(script);
        const std::string subject = "テスト"_sjis;
        const std::string header = "Subject: =?iso-2022-jp?B?GyRCJUYlOSVIGyhC?=\r\n"
                                   "From: taro@example.jp\r\n"
                                   "To: hanako@example.jp\r\n"
                                   "Date: Mon, Dec 07, 2026\r\n"
                                   "MIME-Version: 1.0\r\n"
                                   "Content-Type: text/plain; charset=ISO-2022-JP\r\n"
                                   "Content-Transfer-Encoding: 7bit\r\n"
                                   "\r\n";
        const std::string body = "一行目\r\n二行目"_sjis;
        PartSizes sizes{};
        sizes[1] = static_cast<int>(subject.size());
        sizes[2] = static_cast<int>(kAccount.size());
        sizes[3] = static_cast<int>(kDate.size());
        sizes[6] = static_cast<int>(header.size());
        sizes[7] = static_cast<int>(body.size());
        QCOMPARE(box->Read("reserv"), OneRecordFolder(sizes, subject + kAccount + kDate + header + body));
        // A completed run empties every field.
        QCOMPARE(dialog().toText + dialog().ccText + dialog().subjectText + dialog().bodyText + dialog().attachText,
                 QString());
    }

    void saveWithAttachmentStoresPartRecords() {
        Start();
        const QString path = File(QStringLiteral("a.jpg"), "0123456789012345678901234567890123456789"
                                                            "0123456789abcdefgh");
        DialogScript script(dialog());
        script.Then([&] {
            Fill(QStringLiteral("hanako@example.jp"), QStringLiteral("jiro@example.jp"), QStringLiteral("photo"),
                 QStringLiteral("本文"));
            Attach(path);
            dialog().saveButton()->click();
        });
        RunNewMessage(script);
        const std::string header = "Subject: photo\r\n"
                                   "From: taro@example.jp\r\n"
                                   "To: hanako@example.jp,\r\n"
                                   "Cc: jiro@example.jp\r\n"
                                   "Date: Mon, Dec 07, 2026\r\n"
                                   "MIME-Version: 1.0\r\n"
                                   "Content-Type: multipart/mixed;\r\n"
                                   "  boundary=\"----=_NextPart_000_0017_01C3CBA8.DEA1DD40\"\r\n"
                                   "\r\n";
        const std::string text = "本文\r\n"_sjis;
        const std::string attachment = "MDEyMzQ1Njc4OTAxMjM0NTY3ODkwMTIzNDU2Nzg5MDEyMzQ1Njc4OTAxMjM0NTY3ODlhYmNkZWZn\r\n"
                                       "aA==\r\n" +
                                       kDelimiter;
        const std::string attachmentRecord = "a.jpg" + std::string(93, ' ') + "\r\nbase64   ";
        PartSizes sizes{};
        sizes[1] = 5;
        sizes[2] = static_cast<int>(kAccount.size());
        sizes[3] = static_cast<int>(kDate.size());
        sizes[4] = 2;
        sizes[6] = static_cast<int>(header.size());
        sizes[7] = static_cast<int>(109 + text.size());
        sizes[8] = static_cast<int>(109 + attachment.size());
        QCOMPARE(box->Read("reserv"), OneRecordFolder(sizes, "photo" + kAccount + kDate + header + kTextPartRecord +
                                                                 text + attachmentRecord + attachment));
    }

    void htmlPartsAreChosenByTheExactExtension_data() {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QStringList>("storedNames");
        QTest::addColumn<QStringList>("encodings");
        QTest::newRow(".html is quoted-printable HTML")
            << QStringList{QStringLiteral("page.html")} << QStringList{QStringLiteral("HTML形式.html")}
            << QStringList{QStringLiteral("quoted-pr")};
        QTest::newRow(".htm too") << QStringList{QStringLiteral("page.htm")}
                                  << QStringList{QStringLiteral("HTML形式.html")}
                                  << QStringList{QStringLiteral("quoted-pr")};
        QTest::newRow(".HTML is a file like any other (the test is case-sensitive)")
            << QStringList{QStringLiteral("PAGE.HTML")} << QStringList{QStringLiteral("PAGE.HTML")}
            << QStringList{QStringLiteral("base64")};
        // A name without "." is a file of its own: the extension of the next
        // line must not make it an HTML part with a base64 header.
        QTest::newRow("a name without \".\" before an .html file")
            << QStringList{QStringLiteral("README"), QStringLiteral("page.html")}
            << QStringList{QStringLiteral("README"), QStringLiteral("HTML形式.html")}
            << QStringList{QStringLiteral("base64"), QStringLiteral("quoted-pr")};
    }

    void htmlPartsAreChosenByTheExactExtension() {
        QFETCH(QStringList, names);
        QFETCH(QStringList, storedNames);
        QFETCH(QStringList, encodings);
        Start();
        DialogScript script(dialog());
        script.Then([&] {
            Fill(QStringLiteral("to@example.jp"), QString(), QStringLiteral("s"), QStringLiteral("t"));
            for (const QString& name : names) {
                Attach(File(name, "<p>\x93\xfa\x96\x7b</p>\r\n")); // "日本" in Shift_JIS
            }
            dialog().saveButton()->click();
        });
        RunNewMessage(script);
        const StoredRecord stored = Waiting();
        QVERIFY(stored.pieces);
        for (int i = 0; i < names.size(); ++i) {
            const std::string_view part = stored.pieces->attachments[static_cast<std::size_t>(i)];
            QCOMPARE(FromSjis(PartRecordName(part)), storedNames[i]);
            QCOMPARE(QString::fromLatin1(PartRecordEncoding(part)), encodings[i]);
            const std::string_view content = PartRecordContent(part);
            if (encodings[i] == QStringLiteral("base64")) {
                QVERIFY(content.starts_with("PHA+")); // "<p>" in base64
            } else {
                QVERIFY(content.starts_with("<p>=1B$BF|K\\=1B(B</p>\r\n"));
            }
        }
    }

    void anUnreadableAttachmentGoesBackToTheDialog() {
        Start();
        const QString readable = File(QStringLiteral("ok.txt"), "fine");
        const QString missing = files->path() + QStringLiteral("/gone.doc");
        DialogScript script(dialog());
        script
            .Then([&] {
                Fill(QStringLiteral("to@example.jp"), QStringLiteral("cc@example.jp"), QStringLiteral("s"),
                     QStringLiteral("text"));
                Attach(readable);
                Attach(missing);
                dialog().saveButton()->click();
            })
            .Then([&] {
                QCOMPARE(prompter->messages, QStringList{QStringLiteral("ファイルが開けません7 CSbodyMsgA")});
                QCOMPARE(box->Read("reserv"), std::string("     0"));
                QCOMPARE(dialog().toEdit()->text(), QStringLiteral("to@example.jp"));
                QCOMPARE(dialog().ccEdit()->text(), QStringLiteral("cc@example.jp"));
                QCOMPARE(dialog().bodyEdit()->toPlainText(), QStringLiteral("text"));
                QCOMPARE(ShownAttachments(), (QStringList{readable, missing}));
                QVERIFY(dialog().Changed()); // Esc now would ask before throwing it away
                // The list cannot be edited, but a line can be taken off it.
                dialog().attachmentList()->setCurrentRow(1);
                dialog().attachmentList()->actions().first()->trigger();
                QCOMPARE(ShownAttachments(), QStringList{readable});
                dialog().saveButton()->click();
            });
        RunNewMessage(script);
        const StoredRecord stored = Waiting();
        QVERIFY(stored.pieces);
        QCOMPARE(PartRecordName(stored.pieces->attachments[0]), std::string_view("ok.txt"));
        QVERIFY(stored.pieces->attachments[1].empty());
    }

    void addressSelectionAddsToTheFields() {
        Start();
        box->Write("addr.txt", "花子,hanako@example.jp\r\n次郎,jiro@example.jp\r\nsaburo@example.jp\r\n"_sjis);
        DialogScript compose(dialog());
        DialogScript select(dialog().addressDialog);
        CAdrSelDlg& address = dialog().addressDialog;
        select
            .Then([&] {
                address.addressList()->setCurrentRow(1);
                address.toButton()->click();
                address.addressList()->setCurrentRow(2);
                address.toButton()->click();
                address.okButton()->click();
            })
            .Then([&] {
                // A Cc alone leaves the To that was typed.
                QCOMPARE(address.toBox()->toPlainText(), QString());
                address.addressList()->setCurrentRow(0);
                address.ccButton()->click();
                address.okButton()->click();
            })
            .Then([&] { address.okButton()->click(); }) // nothing picked
            .Then([&] { address.reject(); });
        compose.Then([&] {
            Fill(QStringLiteral("old@example.jp,"), QStringLiteral("oldcc@example.jp"), QString(), QString());
            dialog().toButton()->click();
            QCOMPARE(dialog().toEdit()->text(),
                     QStringLiteral("old@example.jp,次郎<jiro@example.jp>,<saburo@example.jp>"));
            QCOMPARE(dialog().ccEdit()->text(), QStringLiteral("oldcc@example.jp"));
            QCOMPARE(address.toLines, QString());
            QCOMPARE(address.ccLines, QString());
            dialog().ccButton()->click();
            QCOMPARE(dialog().toEdit()->text(),
                     QStringLiteral("old@example.jp,次郎<jiro@example.jp>,<saburo@example.jp>"));
            QCOMPARE(dialog().ccEdit()->text(), QStringLiteral("oldcc@example.jp,花子<hanako@example.jp>"));
            dialog().toButton()->click();
            dialog().toButton()->click();
            QCOMPARE(dialog().ccEdit()->text(), QStringLiteral("oldcc@example.jp,花子<hanako@example.jp>"));
            dialog().cancelButton()->click();
        });
        RunNewMessage(compose);
        QVERIFY(select.Done());
        QVERIFY(prompter->messages.isEmpty());
    }

    void cutCopyAndPasteWorkOnTheText() {
        Start();
        DialogScript script(dialog());
        script.Then([&] {
            dialog().bodyEdit()->setPlainText(QStringLiteral("一二三"));
            QTextCursor cursor = dialog().bodyEdit()->textCursor();
            cursor.setPosition(0);
            cursor.setPosition(1, QTextCursor::KeepAnchor);
            dialog().bodyEdit()->setTextCursor(cursor);
            dialog().cutButton()->click();
            QCOMPARE(dialog().bodyEdit()->toPlainText(), QStringLiteral("二三"));
            QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("一"));
            dialog().bodyEdit()->moveCursor(QTextCursor::End);
            dialog().pasteButton()->click();
            QCOMPARE(dialog().bodyEdit()->toPlainText(), QStringLiteral("二三一"));
            dialog().bodyEdit()->selectAll();
            dialog().copyButton()->click();
            QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("二三一"));
            dialog().cancelButton()->click();
        });
        RunNewMessage(script);
    }
};

QTEST_MAIN(SendMailMsgTest)
#include "SendMailMsg_test.moc"
