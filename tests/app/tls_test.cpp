// Secure connections through the program's socket adapter against real
// servers on loopback: a private Dovecot with STLS and POP3S, and the mail
// sink with STARTTLS, SMTPS and logins, all with certificates from a private
// authority made for the test. In the window's process and with
// `tegalo --receive` / `--send-waiting`.
#include "app/MainFrm.h"
#include "app/TegaloApp.h"
#include "config/AccountSettings.h"
#include "config/qt/MailComset.h"
#include "gui/Commands.h"
#include "session/MailSessions.h"
#include "store/TegaloDoc.h"
#include "text/unicode.h"
#include "transfer/TrustedCerts.h"
#include "transfer/qt/Sock.h"
#include "ui/TegaloListView.h"

#include "../support/ComposeWaiting.h"
#include "../support/Dovecot.h"
#include "../support/MailSink.h"
#include "../support/TestCa.h"
#include "support/ScriptedPrompter.h"
#include "support/TestMailbox.h"

#include <QComboBox>
#include <QEventLoop>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QSslConfiguration>
#include <QStatusBar>
#include <QTest>
#include <QTimer>

using namespace tegalo;
using namespace tegalo::literals;
using namespace tegalo::testing_support;

namespace {

class SilentUi : public StoreUi {
public:
    void Message(std::string_view) override {}
};

struct Run {
    std::vector<std::string> status;
    SessionEnd end = SessionEnd::None;
    bool encrypted = false; // the lock sign was lit
    bool lockOffAtEnd = false;

    std::string Last() const { return status.empty() ? std::string() : status.back(); }
    std::string All() const {
        std::string all;
        for (const std::string& line : status) {
            all += SjisToUtf8(line) + "\n";
        }
        return all;
    }
};

// Runs one session of `sock` started by `start` until it ends.
template <typename Start>
Run RunSession(CSock& sock, Start start) {
    Run run;
    QEventLoop loop;
    sock.onStatusText = [&](const std::string& text) { run.status.push_back(text); };
    sock.onNotice = [&](const std::string& text) { run.status.push_back(text); };
    sock.onEncrypted = [&](bool on) {
        run.encrypted = run.encrypted || on;
        run.lockOffAtEnd = !on;
    };
    sock.onEnded = [&](SessionEnd how) {
        run.end = how;
        loop.quit();
    };
    start();
    if (sock.Busy()) {
        QTimer::singleShot(60000, &loop, &QEventLoop::quit); // a hung session fails the test, not the suite
        loop.exec();
    }
    return run;
}

// The system's authorities, plus the test's own when `trusted`.
void TrustTestCa(const std::string& caPath, bool trusted) {
    static const QSslConfiguration original = QSslConfiguration::defaultConfiguration();
    QSslConfiguration config = original;
    if (trusted) {
        config.addCaCertificates(QString::fromStdString(caPath));
    }
    QSslConfiguration::setDefaultConfiguration(config);
}

std::string Plain(int n) {
    return "From: a@example.jp\r\nSubject: tls " + std::to_string(n) + "\r\nContent-Type: text/plain\r\n\r\nbody\r\n";
}

} // namespace

class TlsTest : public QObject {
    Q_OBJECT

private:
    tls_test::TestCa ca;
    tls_test::ServerCert server; // signed by the test's authority
    tls_test::ServerCert other;  // another certificate of the same authority
    std::unique_ptr<TestMailbox> box;
    std::unique_ptr<SilentUi> ui;
    std::unique_ptr<CTegaloDoc> doc;
    std::unique_ptr<CSock> sock;

    AccountSettings Pop3Settings(int port, Security security) {
        AccountSettings settings;
        settings.serverName = "127.0.0.1";
        settings.pop3Port = port;
        settings.userName = "taro";
        settings.password = "secret";
        settings.keepOnServer = true;
        settings.pop3Security = security;
        return settings;
    }

    AccountSettings SmtpSettings(int port, Security security, SmtpLogin login, const std::string& password = "secret") {
        AccountSettings settings;
        settings.serverName = "127.0.0.1";
        settings.smtpPort = port;
        settings.mailAccount = "taro@example.jp";
        settings.userName = "taro";
        settings.password = password;
        settings.smtpSecurity = security;
        settings.smtpLogin = login;
        return settings;
    }

    void Wait(const std::string& subject) {
        smtp_test::Draft draft{subject, "hanako@example.jp", "", "本文\r\n"_sjis, {}};
        QCOMPARE(smtp_test::SaveWaiting(*doc, "taro@example.jp", draft), StoreStatus::kOk);
    }

    int Waiting() const { return std::stoi(box->Read("reserv").substr(0, 6)); }

    void StartSink(smtp_test::MailSink& sink, smtp_test::SinkOptions options) {
        if (!options.tls.empty()) {
            options.certPath = server.certPath;
            options.keyPath = server.keyPath;
        }
        const std::string error = sink.Start(options);
        QVERIFY2(error.empty(), error.c_str());
    }

    void StartDovecot(pop3_test::DovecotServer& dovecot, const tls_test::ServerCert& cert, int port = 0,
                      int tlsPort = 0) {
        pop3_test::DovecotServer::Options options;
        options.certPath = cert.certPath;
        options.keyPath = cert.keyPath;
        options.port = port;
        options.tlsPort = tlsPort;
        const std::string error = dovecot.Start({{"taro", "secret"}}, options);
        QVERIFY2(error.empty(), error.c_str());
    }

private slots:
    void initTestCase() {
        std::string error = ca.Start();
        QVERIFY2(error.empty(), error.c_str());
        error = ca.MakeServer("server", server);
        QVERIFY2(error.empty(), error.c_str());
        error = ca.MakeServer("other", other);
        QVERIFY2(error.empty(), error.c_str());
        QVERIFY(server.fingerprint != other.fingerprint);
    }

    void init() {
        box = std::make_unique<TestMailbox>();
        ui = std::make_unique<SilentUi>();
        doc = std::make_unique<CTegaloDoc>(*ui);
        QVERIFY(Loaded(doc->Start(box->Dir())));
        sock = std::make_unique<CSock>(*doc);
        TrustTestCa(ca.CaPath(), true);
    }

    void cleanup() {
        sock.reset();
        doc.reset();
        ui.reset();
        box.reset();
    }

    // POP3S and STLS with a certificate the authorities vouch for; the ids
    // kept for the account hold whatever the port and security.
    void receivesOverTlsAndKeepsTheIdsOfTheAccount() {
        pop3_test::DovecotServer dovecot;
        StartDovecot(dovecot, server);
        dovecot.Deliver("taro", Plain(1));

        Run plain = RunSession(*sock, [&] { sock->StartReceive(Pop3Settings(dovecot.Port(), Security::None)); });
        QCOMPARE(plain.end, SessionEnd::Normal);
        QVERIFY(!plain.encrypted);
        QCOMPARE(plain.Last(), std::string("1 Messages Recieved"));

        dovecot.Deliver("taro", Plain(2));
        Run pop3s = RunSession(*sock, [&] { sock->StartReceive(Pop3Settings(dovecot.TlsPort(), Security::Implicit)); });
        QVERIFY2(pop3s.end == SessionEnd::Normal, pop3s.All().c_str());
        QVERIFY(pop3s.encrypted);
        QVERIFY(pop3s.lockOffAtEnd);
        // The first message is not fetched again.
        QCOMPARE(pop3s.Last(), std::string("1 Messages Recieved"));

        dovecot.Deliver("taro", Plain(3));
        Run stls = RunSession(*sock, [&] { sock->StartReceive(Pop3Settings(dovecot.Port(), Security::StartTls)); });
        QVERIFY2(stls.end == SessionEnd::Normal, stls.All().c_str());
        QVERIFY(stls.encrypted);
        QCOMPARE(stls.Last(), std::string("1 Messages Recieved"));
        QCOMPARE(std::stoi(box->Read("recv").substr(0, 6)), 3);
    }

    // A certificate no authority vouches for is refused, then accepted once
    // the user trusts it, and refused again when the server shows another.
    void untrustedCertificateRefusedThenPinnedThenChanged() {
        TrustTestCa(ca.CaPath(), false);
        int port = 0;
        int tlsPort = 0;
        {
            pop3_test::DovecotServer dovecot;
            StartDovecot(dovecot, server);
            port = dovecot.Port();
            tlsPort = dovecot.TlsPort();
            dovecot.Deliver("taro", Plain(1));

            const Run refused =
                RunSession(*sock, [&] { sock->StartReceive(Pop3Settings(tlsPort, Security::Implicit)); });
            QCOMPARE(refused.end, SessionEnd::Failed);
            QVERIFY2(refused.Last().find(server.fingerprint) != std::string::npos, refused.All().c_str());
            QVERIFY2(refused.Last().find("127.0.0.1:" + std::to_string(tlsPort)) != std::string::npos,
                     refused.All().c_str());
            QVERIFY(refused.Last().find("証明書を信頼できません"_sjis) != std::string::npos);
            QCOMPARE(dovecot.MessageCount("taro"), 1);
            QVERIFY(sock->RefusedCertificate().has_value());
            QCOMPARE(sock->RefusedCertificate()->fingerprint, server.fingerprint);

            // STLS on the plain port: refused as well, and no login was sent.
            const Run stls = RunSession(*sock, [&] { sock->StartReceive(Pop3Settings(port, Security::StartTls)); });
            QCOMPARE(stls.end, SessionEnd::Failed);
            QVERIFY(stls.Last().find(server.fingerprint) != std::string::npos);
            QVERIFY(dovecot.Log().find("user=<taro>") == std::string::npos);

            // Trusted for the POP3S port only.
            const Run again = RunSession(*sock, [&] { sock->StartReceive(Pop3Settings(tlsPort, Security::Implicit)); });
            QCOMPARE(again.end, SessionEnd::Failed);
            QCOMPARE(sock->TrustRefusedCertificate(), std::string());
            QCOMPARE(box->Read("trusted-certs"),
                     "127.0.0.1:" + std::to_string(tlsPort) + " " + server.fingerprint + "\r\n");
            const Run pinned =
                RunSession(*sock, [&] { sock->StartReceive(Pop3Settings(tlsPort, Security::Implicit)); });
            QVERIFY2(pinned.end == SessionEnd::Normal, pinned.All().c_str());
            QCOMPARE(pinned.Last(), std::string("1 Messages Recieved"));
            const Run otherPort =
                RunSession(*sock, [&] { sock->StartReceive(Pop3Settings(port, Security::StartTls)); });
            QCOMPARE(otherPort.end, SessionEnd::Failed);
        }
        // The same server, now with another certificate.
        pop3_test::DovecotServer changed;
        StartDovecot(changed, other, port, tlsPort);
        const Run refused = RunSession(*sock, [&] { sock->StartReceive(Pop3Settings(tlsPort, Security::Implicit)); });
        QCOMPARE(refused.end, SessionEnd::Failed);
        QVERIFY2(refused.Last().find(other.fingerprint) != std::string::npos, refused.All().c_str());
        QVERIFY(refused.Last().find("変わっています"_sjis) != std::string::npos);
    }

    // STARTTLS then a login, SMTPS with a login, a login without TLS.
    void sendsWithTlsAndLogin() {
        const struct {
            const char* name;
            smtp_test::SinkOptions sink;
            Security security;
            SmtpLogin login;
            std::vector<std::string> commands; // the sink's log up to MAIL FROM
        } rows[] = {
            {"STARTTLS required, then AUTH",
             {"", "", "starttls", "taro:secret", false},
             Security::StartTls,
             SmtpLogin::Automatic,
             {"EHLO example.jp", "STARTTLS", "EHLO example.jp", "AUTH PLAIN taro ok"}},
            {"SMTPS with AUTH LOGIN",
             {"", "", "smtps", "taro:secret", false},
             Security::Implicit,
             SmtpLogin::Login,
             {"EHLO example.jp", "AUTH LOGIN taro ok"}},
            {"AUTH without TLS",
             {"", "", "", "taro:secret", true},
             Security::None,
             SmtpLogin::Plain,
             {"EHLO example.jp", "AUTH PLAIN taro ok"}},
        };
        for (const auto& row : rows) {
            smtp_test::MailSink sink;
            StartSink(sink, row.sink);
            Wait(row.name);
            const Run run =
                RunSession(*sock, [&] { sock->SendWaiting(SmtpSettings(sink.Port(), row.security, row.login)); });
            QVERIFY2(run.end == SessionEnd::Normal, (std::string(row.name) + "\n" + run.All()).c_str());
            QCOMPARE(run.encrypted, row.security != Security::None);
            QCOMPARE(sink.Messages().size(), std::size_t{1});
            std::vector<std::string> commands = sink.Commands();
            commands.resize(row.commands.size());
            QCOMPARE(commands, row.commands);
            QCOMPARE(Waiting(), 0);
        }
    }

    void refusedLoginsAndMissingStartTls() {
        {
            smtp_test::MailSink sink;
            StartSink(sink, {"", "", "smtps", "taro:secret", false});
            Wait("wrong password");
            const Run run = RunSession(*sock, [&] {
                sock->SendWaiting(SmtpSettings(sink.Port(), Security::Implicit, SmtpLogin::Plain, "wrong"));
            });
            QCOMPARE(run.end, SessionEnd::Failed);
            QVERIFY2(run.All().find("ユーザ名またはパスワードが拒否されました") != std::string::npos,
                     run.All().c_str());
            QVERIFY(sink.Messages().empty());
            QCOMPARE(Waiting(), 1);
        }
        {
            // STARTTLS chosen, the server has none: nothing but EHLO and QUIT.
            smtp_test::MailSink sink;
            StartSink(sink, {"", "", "", "taro:secret", true});
            const Run run = RunSession(
                *sock, [&] { sock->SendWaiting(SmtpSettings(sink.Port(), Security::StartTls, SmtpLogin::Plain)); });
            QCOMPARE(run.end, SessionEnd::Failed);
            QVERIFY2(run.All().find("STARTTLS Not Offered") != std::string::npos, run.All().c_str());
            QCOMPARE(sink.Commands(), (std::vector<std::string>{"EHLO example.jp", "QUIT"}));
            QCOMPARE(Waiting(), 1);
        }
    }

    // In the window the user is asked whether to trust a refused
    // certificate; trusted, it holds for the next session.
    void windowOffersToTrustTheCertificate() {
        TrustTestCa(ca.CaPath(), false);
        pop3_test::DovecotServer dovecot;
        StartDovecot(dovecot, server);
        dovecot.Deliver("taro", Plain(1));
        box->Write("comconfig", FormatAccountSettings(Pop3Settings(dovecot.TlsPort(), Security::Implicit)));
        sock.reset();
        doc.reset();
        ScriptedPrompter prompter;
        prompter.answers.enqueue(true);
        CTegaloApp app;
        QVERIFY(app.InitInstance(box->QDir()));
        CMainFrame& frame = *app.mainFrame();
        auto* lock = frame.statusBar()->findChild<QLabel*>(QStringLiteral("lock"));
        QVERIFY(lock != nullptr);
        frame.OnCommand(ID_START_RECEIVE);
        QTRY_VERIFY_WITH_TIMEOUT(!frame.listView()->sessions().Busy(), 30000);
        QCOMPARE(prompter.questions.size(), 1);
        QVERIFY2(prompter.questions[0].contains(QString::fromStdString(server.fingerprint)),
                 qPrintable(prompter.questions[0]));
        QCOMPARE(box->Read("trusted-certs"),
                 "127.0.0.1:" + std::to_string(dovecot.TlsPort()) + " " + server.fingerprint + "\r\n");

        frame.OnCommand(ID_START_RECEIVE);
        QTRY_VERIFY_WITH_TIMEOUT(!frame.listView()->sessions().Busy(), 30000);
        QCOMPARE(frame.statusBar()->currentMessage(), QStringLiteral("1 Messages Recieved"));
        QCOMPARE(prompter.questions.size(), 1);
        QVERIFY(lock->isHidden()); // the lock goes with the encrypted session

        // The settings dialog: choosing a security fills in its usual port
        // while the port is a usual one, and keeps a port of the user's own.
        CMailComset dialog;
        dialog.Prepare(AccountSettings{});
        dialog.choice(CMailComset::kPop3Security)->setCurrentIndex(2);
        emit dialog.choice(CMailComset::kPop3Security)->activated(2);
        QCOMPARE(dialog.field(CMailComset::kPop3Port)->text(), QStringLiteral("995"));
        dialog.choice(CMailComset::kSmtpSecurity)->setCurrentIndex(1);
        emit dialog.choice(CMailComset::kSmtpSecurity)->activated(1);
        QCOMPARE(dialog.field(CMailComset::kSmtpPort)->text(), QStringLiteral("587"));
        dialog.field(CMailComset::kSmtpPort)->setText(QStringLiteral("2525"));
        dialog.choice(CMailComset::kSmtpSecurity)->setCurrentIndex(2);
        emit dialog.choice(CMailComset::kSmtpSecurity)->activated(2);
        QCOMPARE(dialog.field(CMailComset::kSmtpPort)->text(), QStringLiteral("2525"));
        dialog.choice(CMailComset::kSmtpLogin)->setCurrentIndex(4);
        dialog.field(CMailComset::kSmtpUserName)->setText(QStringLiteral("taro@example.jp"));
        dialog.accept();
        QCOMPARE(dialog.Result().pop3Security, Security::Implicit);
        QCOMPARE(dialog.Result().pop3Port, 995);
        QCOMPARE(dialog.Result().smtpSecurity, Security::Implicit);
        QCOMPARE(dialog.Result().smtpLogin, SmtpLogin::CramMd5);
        QCOMPARE(dialog.Result().smtpUserName, std::string("taro@example.jp"));
    }

    // Without a window, the pins of trusted-certs hold and nothing is asked.
    void headlessReceiveAndSendHonourThePins() {
        TrustTestCa(ca.CaPath(), false);
        pop3_test::DovecotServer dovecot;
        StartDovecot(dovecot, server);
        dovecot.Deliver("taro", Plain(1));
        smtp_test::MailSink sink;
        StartSink(sink, {"", "", "smtps", "taro:secret", false});
        Wait("headless");
        AccountSettings settings = Pop3Settings(dovecot.TlsPort(), Security::Implicit);
        settings.smtpPort = sink.Port();
        settings.smtpSecurity = Security::Implicit;
        settings.smtpLogin = SmtpLogin::Automatic;
        settings.mailAccount = "taro@example.jp";
        box->Write("comconfig", FormatAccountSettings(settings));
        sock.reset(); // the mailbox is the program's now
        doc.reset();

        const auto tegalo = [&](const char* what) {
            QProcess process;
            process.start(QStringLiteral(TEGALO_EXE),
                          {QString::fromLatin1(what), QStringLiteral("--dir"), box->QDir()});
            process.closeWriteChannel();
            if (!process.waitForFinished(60000)) {
                process.kill();
                process.waitForFinished();
            }
            return std::make_pair(process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()));
        };
        auto [code, out] = tegalo("--receive");
        QCOMPARE(code, 1);
        QVERIFY2(out.contains(QString::fromStdString(server.fingerprint)), qPrintable(out));
        QVERIFY(!std::filesystem::exists(box->Dir() + "trusted-certs"));

        box->Write("trusted-certs",
                   FormatTrustedCerts({{"127.0.0.1:" + std::to_string(dovecot.TlsPort()), server.fingerprint},
                                       {"127.0.0.1:" + std::to_string(sink.Port()), server.fingerprint}}));
        std::tie(code, out) = tegalo("--receive");
        QVERIFY2(code == 0, qPrintable(out));
        QVERIFY2(out.endsWith(QStringLiteral("1 Messages Recieved\n")), qPrintable(out));
        std::tie(code, out) = tegalo("--send-waiting");
        QVERIFY2(code == 0, qPrintable(out));
        QVERIFY2(out.endsWith(QStringLiteral("1 Messages Sent\n")), qPrintable(out));
        QCOMPARE(sink.Messages().size(), std::size_t{1});
    }
};

QTEST_MAIN(TlsTest)
#include "tls_test.moc"
