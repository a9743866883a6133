// Receiving from a real POP3 server (a private Dovecot on loopback), in the
// window and with `tegalo --receive`.
#include "gui/Commands.h"
#include "app/MainFrm.h"
#include "app/TegaloApp.h"
#include "session/MailSessions.h"
#include "config/AccountSettings.h"
#include "store/Originals.h"
#include "store/TegaloDoc.h"
#include "text/jis.h"
#include "text/transfer_encoding.h"
#include "text/unicode.h"
#include "gui/QtText.h"
#include "ui/RecordListModel.h"
#include "ui/TegaloListView.h"

#include "../support/Dovecot.h"
#include "support/ScriptedPrompter.h"
#include "support/TestMailbox.h"

#include <QDir>
#include <algorithm>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QStatusBar>
#include <QTest>

using namespace tegalo;
using namespace tegalo::literals;
using namespace tegalo::testing_support;

namespace {

std::string Message(const std::string& subjectJis, const std::string& body) {
    return "From: sender@example.jp\r\nTo: user@example.jp\r\nSubject: " + subjectJis +
           "\r\nDate: Mon, 07 Dec 2026 10:00:00 +0900\r\nContent-Type: text/plain; charset=ISO-2022-JP\r\n\r\n" + body;
}

} // namespace

class ReceiveTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<pop3_test::DovecotServer> server;
    std::unique_ptr<TestMailbox> box;
    std::vector<std::string> delivered; // the messages on the server, as delivered
    std::unique_ptr<ScriptedPrompter> prompter;

    void Configure(bool keep, const std::string& password = "secret", bool noServer = false) {
        AccountSettings settings;
        settings.serverName = noServer ? "" : "127.0.0.1";
        settings.pop3Port = server->Port();
        settings.userName = "taro";
        settings.password = password;
        settings.keepOnServer = keep;
        box->Write("comconfig", FormatAccountSettings(settings));
    }

private slots:
    void init() {
        server = std::make_unique<pop3_test::DovecotServer>();
        const std::string error = server->Start({{"taro", "secret"}});
        QVERIFY2(error.empty(), error.c_str());
        box = std::make_unique<TestMailbox>();
        prompter = std::make_unique<ScriptedPrompter>();
        const std::string subject = "=?ISO-2022-JP?B?" + EncodeBase64(SjisToJis("会議"_sjis)) + "?=";
        delivered = {Message(subject, SjisToJis("本文です。\r\n"_sjis)), Message("plain", "second\r\n.dot line\r\n")};
        for (const std::string& message : delivered) {
            server->Deliver("taro", message);
        }
    }

    void cleanup() {
        prompter.reset();
        box.reset();
        server.reset();
    }

    void receivesInTheWindow() {
        Configure(false);
        CTegaloApp app;
        QVERIFY(app.InitInstance(box->QDir()));
        CMainFrame& frame = *app.mainFrame();
        frame.OnCommand(ID_START_RECEIVE);
        QVERIFY(frame.listView()->sessions().Busy());
        frame.OnCommand(ID_START_RECEIVE); // a second start while the first runs
        QTRY_VERIFY_WITH_TIMEOUT(!frame.listView()->sessions().Busy(), 20000);
        QCOMPARE(frame.listView()->recordModel()->rowCount(), 2);
        // The subject keeps the blank after "Subject:".
        QCOMPARE(frame.listView()->recordModel()->index(1, 0).data().toString(), QStringLiteral(" 会議"));
        QCOMPARE(frame.statusBar()->currentMessage(), QStringLiteral("2 Messages Received! Server messages Deleted"));
        QCOMPARE(server->MessageCount("taro"), 0);
        QVERIFY(prompter->messages.isEmpty());
        const std::optional<std::string> second = app.doc().GetRecord(1);
        QVERIFY(second.has_value());
        QVERIFY2(second->ends_with("second\r\n.dot line"), second->c_str()); // the dot the server stuffed is gone
    }

    void withoutServerNameNothingConnects() {
        Configure(false, "secret", true);
        CTegaloApp app;
        QVERIFY(app.InitInstance(box->QDir()));
        app.mainFrame()->OnCommand(ID_START_RECEIVE);
        QVERIFY(!app.mainFrame()->listView()->sessions().Busy());
        QCOMPARE(prompter->LastMessage(), QStringLiteral("サーバ名またはポートNoを設定して下さい"));
    }

    // A scripted server on loopback that breaks off in the middle of the
    // first message (NUL bytes and a long line included): nothing is
    // stored, nothing deleted, and the window says the session ended.
    void serverClosingMidMessage() {
        QTcpServer hostile;
        QVERIFY(hostile.listen(QHostAddress::LocalHost));
        QStringList commands;
        connect(&hostile, &QTcpServer::newConnection, this, [&] {
            QTcpSocket* c = hostile.nextPendingConnection();
            c->write("+OK hello\r\n");
            connect(c, &QTcpSocket::readyRead, c, [c, &commands] {
                while (c->canReadLine()) {
                    const QByteArray line = c->readLine().trimmed();
                    commands << QString::fromLatin1(line);
                    if (line.startsWith("STAT")) {
                        c->write("+OK 1 20000\r\n");
                    } else if (line.startsWith("UIDL")) {
                        c->write("-ERR no\r\n");
                    } else if (line.startsWith("RETR")) {
                        QByteArray partial = "+OK\r\nSubject: cut\r\n\r\n";
                        partial += QByteArray(10001, 'x') + QByteArray(3, '\0') + "\r\n";
                        c->write(partial);
                        c->flush();
                        c->disconnectFromHost();
                    } else {
                        c->write("+OK\r\n");
                    }
                }
            });
        });
        AccountSettings settings;
        settings.serverName = "127.0.0.1";
        settings.pop3Port = hostile.serverPort();
        settings.userName = "u";
        settings.password = "p";
        box->Write("comconfig", FormatAccountSettings(settings));
        CTegaloApp app;
        QVERIFY(app.InitInstance(box->QDir()));
        CMainFrame& frame = *app.mainFrame();
        frame.OnCommand(ID_START_RECEIVE);
        QTRY_VERIFY_WITH_TIMEOUT(!frame.listView()->sessions().Busy(), 20000);
        QCOMPARE(box->Read("recv"), std::string("     0"));
        QVERIFY2(commands.filter(QStringLiteral("DELE")).isEmpty(), qPrintable(commands.join(QLatin1Char(','))));
        QVERIFY(!frame.statusBar()->currentMessage().isEmpty());
        QCOMPARE(frame.listView()->recordModel()->rowCount(), 0);
    }

    void receivesWithoutAWindow() {
        Configure(true);
        QProcess tegalo;
        tegalo.start(QStringLiteral(TEGALO_EXE), {QStringLiteral("--receive"), QStringLiteral("--dir"), box->QDir()});
        QVERIFY(tegalo.waitForFinished(30000));
        const QString out = QString::fromUtf8(tegalo.readAllStandardOutput());
        QCOMPARE(tegalo.exitCode(), 0);
        QVERIFY2(out.contains(QStringLiteral("Server Connection OK\n")), qPrintable(out));
        QVERIFY2(out.endsWith(QStringLiteral("2 Messages Recieved\n")), qPrintable(out));
        QCOMPARE(server->MessageCount("taro"), 2); // kept on the server
        // Each message is kept as received beside its record, as the window
        // keeps it: both in the one pack of the session.
        QCOMPARE(QDir(box->QDir() + QStringLiteral("/originals")).entryList({QStringLiteral("*.pack")}).size(), 1);
        OriginalStore originals;
        originals.Open(box->QDir().toStdString() + "/");
        const RecordList received = ParseFolderBytes(box->Read("recv"), kReceived);
        QCOMPARE(received.size(), std::size_t{2});
        std::vector<std::string> kept;
        for (const std::string_view record : received) {
            const std::optional<std::string> original = originals.Read(OriginalKey(record));
            QVERIFY(original.has_value());
            kept.push_back(*original);
        }
        std::vector<std::string> sent = delivered;
        std::sort(kept.begin(), kept.end());
        std::sort(sent.begin(), sent.end());
        QVERIFY(kept == sent);

        // A second session finds nothing new.
        tegalo.start(QStringLiteral(TEGALO_EXE), {QStringLiteral("--receive"), QStringLiteral("--dir"), box->QDir()});
        QVERIFY(tegalo.waitForFinished(30000));
        QCOMPARE(tegalo.exitCode(), 0);
        QVERIFY(QString::fromUtf8(tegalo.readAllStandardOutput()).endsWith(QStringLiteral("No New Message\n")));
        QCOMPARE(box->Read("recv").substr(0, 6), std::string("     2"));

        // A wrong password fails with its step and suffix.
        Configure(true, "wrong");
        tegalo.start(QStringLiteral(TEGALO_EXE), {QStringLiteral("--receive"), QStringLiteral("--dir"), box->QDir()});
        QVERIFY(tegalo.waitForFinished(30000));
        const QString failed = QString::fromUtf8(tegalo.readAllStandardOutput());
        QVERIFY(tegalo.exitCode() != 0);
        QVERIFY2(failed.contains(QStringLiteral("\n3 -ERR")), qPrintable(failed)); // the answer to PASS
    }
};

QTEST_MAIN(ReceiveTest)
#include "receive_test.moc"
