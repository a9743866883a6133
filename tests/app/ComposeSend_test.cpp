// Composing and sending at once, to a real SMTP server (the Python sink on
// loopback): what arrives there, and a send refused while another session
// runs, which the user may save to the waiting folder instead.
#include "gui/Commands.h"
#include "app/MainFrm.h"
#include "app/TegaloApp.h"
#include "session/MailSessions.h"
#include "config/AccountSettings.h"
#include "store/Record.h"
#include "text/unicode.h"
#include "ui/SendMailMsg.h"
#include "ui/TegaloListView.h"

#include "../support/MailSink.h"
#include "support/DialogScript.h"
#include "support/ScriptedPrompter.h"
#include "support/TestMailbox.h"

#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

using namespace tegalo;
using namespace tegalo::literals;
using namespace tegalo::testing_support;

class ComposeSendTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<smtp_test::MailSink> sink;
    std::unique_ptr<TestMailbox> box;
    std::unique_ptr<ScriptedPrompter> prompter;
    std::unique_ptr<CTegaloApp> app;

    CMainFrame& frame() { return *app->mainFrame(); }
    CTegaloListView& list() { return *frame().listView(); }
    CSendMailMsg& dialog() { return list().composeDialog(); }

    void Start(int pop3Port = 110) {
        AccountSettings settings;
        settings.serverName = "127.0.0.1";
        settings.pop3Port = pop3Port;
        settings.userName = "taro";
        settings.password = "secret";
        settings.smtpPort = sink->Port();
        settings.mailAccount = "taro@example.jp";
        settings.displayName = "山田太郎"_sjis;
        box->Write("comconfig", FormatAccountSettings(settings));
        QVERIFY(app->InitInstance(box->QDir()));
    }

    void Fill(const QString& to, const QString& cc, const QString& subject, const QString& body) {
        dialog().toEdit()->setText(to);
        dialog().ccEdit()->setText(cc);
        dialog().subjectEdit()->setText(subject);
        dialog().bodyEdit()->setPlainText(body);
    }

private slots:
    void init() {
        sink = std::make_unique<smtp_test::MailSink>();
        const std::string error = sink->Start();
        QVERIFY2(error.empty(), error.c_str());
        box = std::make_unique<TestMailbox>();
        prompter = std::make_unique<ScriptedPrompter>();
        app = std::make_unique<CTegaloApp>();
    }

    void cleanup() {
        app.reset();
        prompter.reset();
        box.reset();
        sink.reset();
    }

    void sendsAJapaneseMessageWithAnAttachment() {
        Start();
        QTemporaryDir files(QStringLiteral("/tmp/tegalo_send_XXXXXX"));
        QByteArray content;
        for (int i = 0; i < 300; ++i) {
            content.append(static_cast<char>(i % 256));
        }
        const QString path = files.path() + QStringLiteral("/report.pdf");
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(content) == content.size());
        file.close();

        DialogScript script(dialog());
        script.Then([&] {
            Fill(QStringLiteral("花子 <hanako@example.jp>"), QStringLiteral("jiro@example.jp"),
                 QStringLiteral("日本語の件名"), QStringLiteral("こんにちは\n二行目"));
            prompter->filesToOpen.enqueue(path);
            dialog().attachButton()->click();
            dialog().sendButton()->click();
        });
        frame().OnCommand(ID_NEW_MESSAGE);
        QVERIFY(script.Done());
        QTRY_VERIFY_WITH_TIMEOUT(!list().sessions().Busy(), 20000);
        QCOMPARE(frame().statusBar()->currentMessage(), QStringLiteral("Message was sent"));
        QVERIFY(prompter->messages.isEmpty());

        const std::vector<smtp_test::SinkMessage> received = sink->Messages();
        QCOMPARE(received.size(), std::size_t{1});
        const smtp_test::SinkMessage& m = received[0];
        QVERIFY2(m.decodeError.empty(), m.decodeError.c_str());
        QCOMPARE(m.mailFrom, std::string("taro@example.jp"));
        QCOMPARE(m.rcptTos, (std::vector<std::string>{"hanako@example.jp", "jiro@example.jp"}));
        QCOMPARE(m.subject, std::string("日本語の件名"));
        QCOMPARE(m.fromName, std::string("山田太郎"));
        QVERIFY2(m.to.find("hanako@example.jp") != std::string::npos, m.to.c_str());
        QCOMPARE(m.cc, std::string("jiro@example.jp"));
        // The line end in front of the delimiter belongs to the delimiter.
        QVERIFY2(m.text == "こんにちは\r\n二行目", m.text.c_str());
        QCOMPARE(m.attachments.size(), std::size_t{1});
        QCOMPARE(m.attachments[0].first, std::string("report.pdf"));
        QCOMPARE(m.attachments[0].second, content.toStdString());

        // The copy is filed as sent; nothing waits; the dialog starts empty.
        QCOMPARE(box->Read("sent").substr(0, 6), std::string("     1"));
        QCOMPARE(box->Read("reserv"), std::string("     0"));
        QCOMPARE(dialog().toText + dialog().ccText + dialog().subjectText + dialog().attachText, QString());
    }

    void aSendRefusedWhileReceivingCanBeSavedInstead() {
        // A POP3 server that never answers keeps a receive session running.
        QTcpServer silent;
        QVERIFY(silent.listen(QHostAddress::LocalHost));
        Start(silent.serverPort());
        frame().OnCommand(ID_START_RECEIVE);
        QVERIFY(list().sessions().Busy());

        DialogScript script(dialog());
        script
            .Then([&] {
                Fill(QStringLiteral("hanako@example.jp"), QString(), QStringLiteral("later"),
                     QStringLiteral("text"));
                prompter->answers.enqueue(false); // not saved: back to the dialog
                dialog().sendButton()->click();
            })
            .Then([&] {
                QCOMPARE(prompter->messages, QStringList{QStringLiteral("送受信中のため送信できません")});
                QCOMPARE(prompter->questions.size(), 1);
                QCOMPARE(dialog().subjectEdit()->text(), QStringLiteral("later"));
                QCOMPARE(box->Read("reserv"), std::string("     0"));
                prompter->answers.enqueue(true);
                dialog().sendButton()->click();
            });
        frame().OnCommand(ID_NEW_MESSAGE);
        QVERIFY(script.Done());
        QCOMPARE(prompter->questions,
                 QStringList(2, QStringLiteral("このメッセージは送信できませんでした。送信待ちフォルダーに保存しますか")));
        const std::string waiting = box->Read("reserv");
        QCOMPARE(waiting.substr(0, 6), std::string("     1"));
        QVERIFY(std::string_view(waiting).substr(6 + kSizeBlockLength).starts_with("latertaro@example.jp"));
        QCOMPARE(dialog().subjectText, QString());
        QVERIFY(sink->Messages().empty());

        // End the receive session before the next test.
        QTRY_VERIFY(silent.hasPendingConnections());
        delete silent.nextPendingConnection();
        QTRY_VERIFY_WITH_TIMEOUT(!list().sessions().Busy(), 20000);
    }
};

QTEST_MAIN(ComposeSendTest)
#include "ComposeSend_test.moc"
