// Sending the waiting folder to a real SMTP server (a Python sink on
// loopback), in the window and with `tegalo --send-waiting`.
#include "gui/Commands.h"
#include "app/MainFrm.h"
#include "app/TegaloApp.h"
#include "session/MailSessions.h"
#include "config/AccountSettings.h"
#include "mime/Outgoing.h"
#include "store/TegaloDoc.h"
#include "text/unicode.h"
#include "ui/TegaloListView.h"

#include "../support/ComposeWaiting.h"
#include "../support/MailSink.h"
#include "support/ScriptedPrompter.h"
#include "support/TestMailbox.h"

#include <QProcess>
#include <QStatusBar>
#include <QTest>

using namespace tegalo;
using namespace tegalo::literals;
using namespace tegalo::testing_support;

class SendTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<smtp_test::MailSink> sink;
    std::unique_ptr<TestMailbox> box;
    std::unique_ptr<ScriptedPrompter> prompter;

    void Configure() {
        AccountSettings settings;
        settings.serverName = "127.0.0.1";
        settings.smtpPort = sink->Port();
        settings.mailAccount = "taro@example.jp";
        settings.displayName = "山田太郎"_sjis;
        box->Write("comconfig", FormatAccountSettings(settings));
    }

    // Puts messages into the waiting folder the way the compose dialog saves them.
    void Wait(const std::vector<std::string>& subjects) {
        class Silent : public StoreUi {
            void Message(std::string_view) override {}
        } ui;
        CTegaloDoc doc(ui);
        QVERIFY(Loaded(doc.Start(box->Dir())));
        for (const std::string& subject : subjects) {
            smtp_test::Draft draft{subject, "hanako@example.jp", "", "本文\r\n.\r\n.x\r\n"_sjis, {}};
            QCOMPARE(smtp_test::SaveWaiting(doc, "taro@example.jp", draft), StoreStatus::kOk);
        }
    }

private slots:
    void init() {
        sink = std::make_unique<smtp_test::MailSink>();
        const std::string error = sink->Start();
        QVERIFY2(error.empty(), error.c_str());
        box = std::make_unique<TestMailbox>();
        prompter = std::make_unique<ScriptedPrompter>();
        Configure();
    }

    void cleanup() {
        prompter.reset();
        box.reset();
        sink.reset();
    }

    void sendsTheWaitingFolderFromTheWindow() {
        Wait({"一通目"_sjis, "second", "三通目"_sjis});
        CTegaloApp app;
        QVERIFY(app.InitInstance(box->QDir()));
        CMainFrame& frame = *app.mainFrame();
        frame.OnCommand(ID_SEND_WAITING);
        QVERIFY(frame.listView()->sessions().Busy());
        // A message composed meanwhile is not taken while the batch runs.
        QVERIFY(!frame.listView()->SendComposed(OutgoingMessage{}));
        QCOMPARE(prompter->LastMessage(), QStringLiteral("送受信中のため送信できません"));
        QTRY_VERIFY_WITH_TIMEOUT(!frame.listView()->sessions().Busy(), 20000);
        QCOMPARE(frame.statusBar()->currentMessage(), QStringLiteral("3 Messages Sent"));
        const std::vector<smtp_test::SinkMessage> received = sink->Messages();
        QCOMPARE(received.size(), std::size_t{3});
        QCOMPARE(received[0].subject, std::string("一通目"));
        QCOMPARE(received[0].fromName, std::string("山田太郎"));
        QCOMPARE(received[0].rcptTos, std::vector<std::string>{"hanako@example.jp"});
        QVERIFY(received[1].text.find("\n.\r\n.x\r\n") != std::string::npos || received[1].text.find("\n.\n.x") != std::string::npos);
        QCOMPARE(box->Read("reserv"), std::string("     0"));
        QCOMPARE(box->Read("sent").substr(0, 6), std::string("     3"));
    }

    // A composed message that the server refuses after the send began is
    // kept (the compose path stores it in the waiting folder); one that is
    // accepted is not.
    void aRefusedComposedMessageIsKept() {
        CTegaloApp app;
        QVERIFY(app.InitInstance(box->QDir()));
        CTegaloListView& list = *app.mainFrame()->listView();
        CTegaloDoc& doc = app.doc();
        for (const std::string to : {"refuse-message@example.jp", "hanako@example.jp"}) {
            BodyParts parts = NewBodyParts();
            QCOMPARE(doc.CSbodyMsgA(parts, "本文\r\n"_sjis, "", 0, plainText), PartError::none);
            Envelope envelope = doc.SetRecipients("subject", "Mon, Dec 07, 2026", to);
            QCOMPARE(envelope.status, StoreStatus::kOk);
            int kept = 0;
            prompter->messages.clear();
            QVERIFY(list.SendComposed(OutgoingMessage{std::move(envelope.sendEnvelope), parts, to}, [&kept] {
                ++kept;
                return true;
            }));
            QTRY_VERIFY_WITH_TIMEOUT(!list.sessions().Busy(), 20000);
            const bool refused = to.starts_with("refuse");
            QCOMPARE(kept, refused ? 1 : 0);
            QCOMPARE(prompter->messages.contains(QStringLiteral("送信できなかったメッセージを送信待ちフォルダーに保存しました")),
                     refused);
        }
    }

    void sendsWithoutAWindow() {
        Wait({"headless"});
        QProcess tegalo;
        tegalo.start(QStringLiteral(TEGALO_EXE), {QStringLiteral("--send-waiting"), QStringLiteral("--dir"), box->QDir()});
        QVERIFY(tegalo.waitForFinished(30000));
        const QString out = QString::fromUtf8(tegalo.readAllStandardOutput());
        QCOMPARE(tegalo.exitCode(), 0);
        QVERIFY2(out.contains(QStringLiteral("Server Connection OK\n")), qPrintable(out));
        QVERIFY2(out.endsWith(QStringLiteral("1 Messages Sent\n")), qPrintable(out));
        QCOMPARE(sink->Messages().size(), std::size_t{1});
        QCOMPARE(box->Read("reserv"), std::string("     0"));

        // Nothing left to send: still a normal end.
        tegalo.start(QStringLiteral(TEGALO_EXE), {QStringLiteral("--send-waiting"), QStringLiteral("--dir"), box->QDir()});
        QVERIFY(tegalo.waitForFinished(30000));
        QCOMPARE(tegalo.exitCode(), 0);
    }
};

QTEST_MAIN(SendTest)
#include "send_test.moc"
