// The mail sessions object the window and the run without a window share:
// the settings it uses, refusing a second session, the check timer.
#include "config/AccountSettings.h"
#include "session/MailSessions.h"
#include "store/TegaloDoc.h"
#include "text/unicode.h"

#include "support/TestMailbox.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <memory>
#include <string>
#include <vector>

using namespace tegalo;
using namespace tegalo::testing_support;

namespace {

class CollectingUi final : public StoreUi {
public:
    void Message(std::string_view sjisText) override { messages.emplace_back(sjisText); }
    std::vector<std::string> messages;
};

// A POP3 server that greets and then answers nothing until told to close.
class SilentPop3 {
public:
    SilentPop3() {
        server.listen(QHostAddress::LocalHost);
        QObject::connect(&server, &QTcpServer::newConnection, [this] {
            while (QTcpSocket* c = server.nextPendingConnection()) {
                ++connections;
                c->write("+OK ready\r\n");
                clients.push_back(c);
            }
        });
    }
    void CloseAll() {
        for (QTcpSocket* c : clients) {
            c->disconnectFromHost();
        }
    }
    QTcpServer server;
    std::vector<QTcpSocket*> clients;
    int connections = 0;
};

AccountSettings Account(int pop3Port) {
    AccountSettings settings;
    settings.serverName = "127.0.0.1";
    settings.pop3Port = pop3Port;
    settings.smtpPort = pop3Port;
    settings.userName = "u";
    settings.password = "p";
    settings.mailAccount = "taro@example.jp";
    return settings;
}

} // namespace

class MailSessionsTest : public QObject {
    Q_OBJECT

    std::unique_ptr<TestMailbox> box;
    CollectingUi ui;
    std::unique_ptr<CTegaloDoc> doc;

    std::unique_ptr<MailSessions> Open(const AccountSettings& onFile) {
        box->Write("comconfig", FormatAccountSettings(onFile));
        doc = std::make_unique<CTegaloDoc>(ui);
        if (doc->Start(box->Dir()) != StoreStatus::kOk) {
            return nullptr;
        }
        auto sessions = std::make_unique<MailSessions>(*doc);
        if (sessions->ReadSettings(ui) != SettingsStatus::kOk) {
            return nullptr;
        }
        return sessions;
    }

private slots:
    void init() { box = std::make_unique<TestMailbox>(); }
    void cleanup() {
        doc.reset();
        box.reset();
    }

    // The settings handed back from the dialog are the next session's; a
    // second command while that session runs is refused and takes nothing.
    void appliedSettingsDriveTheNextSessionAndBusyRefuses() {
        SilentPop3 pop3;
        QTcpServer unused; // the port on file: listening, so a connection there would show
        QVERIFY(unused.listen(QHostAddress::LocalHost));
        std::unique_ptr<MailSessions> sessions = Open(Account(unused.serverPort()));
        QVERIFY(sessions);
        std::vector<bool> busy;
        std::vector<std::string> status;
        int ended = 0;
        connect(sessions.get(), &MailSessions::busyChanged, [&](bool b) { busy.push_back(b); });
        connect(sessions.get(), &MailSessions::statusText, [&](const std::string& t) { status.push_back(t); });
        connect(sessions.get(), &MailSessions::ended, [&] { ++ended; });

        sessions->ApplySettings(Account(pop3.server.serverPort()));
        QCOMPARE(sessions->Settings().pop3Port, int(pop3.server.serverPort()));
        sessions->StartReceive();
        QVERIFY(sessions->Busy());
        QTRY_COMPARE_WITH_TIMEOUT(pop3.connections, 1, 20000);
        QVERIFY(!unused.hasPendingConnections());

        // While it runs: sending is refused with a status text, the
        // composed message is not taken, and no second connection is made.
        const std::size_t before = status.size();
        sessions->SendWaiting();
        QVERIFY(status.size() > before);
        QCOMPARE(status.back(), std::string("Session Running: Request Ignored"));
        QVERIFY(!sessions->SendComposed(OutgoingMessage{}, [] { return true; }));
        QVERIFY(sessions->Busy());
        QCOMPARE(busy, std::vector<bool>{true});

        pop3.CloseAll();
        QTRY_VERIFY_WITH_TIMEOUT(!sessions->Busy(), 20000);
        QCOMPARE(ended, 1);
        QCOMPARE(busy, (std::vector<bool>{true, false}));
        QCOMPARE(sessions->LastEnd(), SessionEnd::Failed);
        QCOMPARE(pop3.connections, 1);
        QVERIFY(!unused.hasPendingConnections());
    }

    // The check timer runs at start-up with the interval on file, and keeps
    // that period when the dialog changes it (the change counts from the
    // next start); without "check for new mail" no timer runs.
    void checkTimerFollowsTheIntervalReadAtStart() {
        AccountSettings onFile = Account(1);
        onFile.checkNewMail = true;
        onFile.checkInterval = "20";
        std::unique_ptr<MailSessions> sessions = Open(onFile);
        QVERIFY(sessions);
        QVERIFY(!sessions->checkTimer().isActive());
        sessions->StartCheckTimer();
        QVERIFY(sessions->checkTimer().isActive());
        QCOMPARE(sessions->checkTimer().interval(), 20 * 60'000);

        AccountSettings changed = onFile;
        changed.checkInterval = "10";
        changed.checkNewMail = false;
        sessions->ApplySettings(changed);
        QVERIFY(sessions->checkTimer().isActive());
        QCOMPARE(sessions->checkTimer().interval(), 20 * 60'000);

        onFile.checkNewMail = false;
        sessions = Open(onFile);
        QVERIFY(sessions);
        sessions->StartCheckTimer();
        QVERIFY(!sessions->checkTimer().isActive());
    }
};

QTEST_MAIN(MailSessionsTest)
#include "MailSessions_test.moc"
