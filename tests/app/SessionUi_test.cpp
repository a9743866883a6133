// Sessions seen and stopped from the main window: the receive, send and stop
// commands in the menu, toolbar and keys; the progress in the status bar;
// a stop at each step of a receive from a real POP3 server (a private
// Dovecot) and of a send to a real SMTP sink; the last status text staying;
// the notice of a failed session; the new-mail notification.
#include "app/MainFrm.h"
#include "app/NewMailNotifier.h"
#include "app/TegaloApp.h"
#include "config/AccountSettings.h"
#include "config/qt/MailComset.h"
#include "config/qt/Preferences.h"
#include "gui/Commands.h"
#include "gui/QtText.h"
#include "session/MailSessions.h"
#include "store/TegaloDoc.h"
#include "text/unicode.h"
#include "ui/RecordListModel.h"
#include "ui/TegaloListView.h"

#include "../support/ComposeWaiting.h"
#include "../support/Dovecot.h"
#include "../support/FakeSendStore.h"
#include "../support/MailSink.h"
#include "support/ScriptedPrompter.h"
#include "support/TestMailbox.h"

#include <QCheckBox>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QProgressBar>
#include <QStandardPaths>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QToolBar>

using namespace tegalo;
using namespace tegalo::literals;
using namespace tegalo::testing_support;

namespace {

std::string Message(int i) {
    return "From: sender@example.jp\r\nTo: taro@example.jp\r\nSubject: m" + std::to_string(i) +
           "\r\nDate: Mon, 07 Dec 2026 10:00:00 +0900\r\n\r\nbody " + std::to_string(i) + "\r\n";
}

int FolderCount(const TestMailbox& box, std::string_view folder) {
    return std::stoi(box.Read(folder).substr(0, 6));
}

// The menus holding `action`, by their titles.
QStringList MenusHolding(QWidget* menuOwner, QAction* action) {
    QStringList titles;
    for (QMenu* menu : menuOwner->findChildren<QMenu*>()) {
        if (menu->actions().contains(action)) {
            titles << menu->title();
        }
    }
    return titles;
}

} // namespace

class SessionUiTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<ScriptedPrompter> prompter;

    // Stops the session (queued, as a key press would come) when `when`
    // first holds for its progress.
    static void StopWhen(CMainFrame& frame, std::function<bool(const SessionProgress&)> when, bool byKey) {
        MailSessions& sessions = frame.listView()->sessions();
        auto done = std::make_shared<bool>(false);
        QObject::connect(&sessions, &MailSessions::progress, &frame, [&frame, &sessions, when, byKey, done] {
            if (*done || !when(sessions.Progress())) {
                return;
            }
            *done = true;
            QMetaObject::invokeMethod(
                &frame,
                [&frame, byKey] {
                    if (byKey) {
                        QTest::keyClick(&frame, Qt::Key_Escape);
                    } else {
                        frame.action(ID_STOP_SESSION)->trigger();
                    }
                },
                Qt::QueuedConnection);
        });
    }

private slots:
    void initTestCase() {
        QStandardPaths::setTestModeEnabled(true); // the preferences go to a test place
    }

    void init() { prompter = std::make_unique<ScriptedPrompter>(); }
    void cleanup() { prompter.reset(); }

    void commandsInMenuToolbarAndKeys() {
        TestMailbox box;
        CTegaloApp app;
        QVERIFY(app.InitInstance(box.QDir()));
        CMainFrame& frame = *app.mainFrame();
        QAction* receive = frame.action(ID_START_RECEIVE);
        QAction* send = frame.action(ID_SEND_WAITING);
        QAction* stop = frame.action(ID_STOP_SESSION);
        QCOMPARE(receive->shortcut(), QKeySequence(Qt::Key_F5));
        QCOMPARE(send->shortcut(), QKeySequence(Qt::SHIFT | Qt::Key_F5));
        QCOMPARE(stop->shortcut(), QKeySequence(Qt::Key_Escape));
        QCOMPARE(stop->text(), QStringLiteral("中止"));
        QCOMPARE(MenusHolding(frame.menuBar(), receive), QStringList{QStringLiteral("ﾌｧｲﾙ(&F)")});
        QCOMPARE(MenusHolding(frame.menuBar(), stop), QStringList{QStringLiteral("ﾌｧｲﾙ(&F)")});
        QCOMPARE(MenusHolding(frame.menuBar(), send), QStringList{QStringLiteral("送信(&D)...")});
        // One action per command: the toolbar's buttons are the menu's items.
        auto* toolBar = frame.findChild<QToolBar*>(QStringLiteral("toolBar"));
        QVERIFY(toolBar->actions().contains(receive));
        QVERIFY(toolBar->actions().contains(stop));
        QVERIFY(!stop->isEnabled()); // nothing runs: Esc is left to others

        // F5 starts a session (the settings name no server: the notice says so).
        frame.show();
        frame.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&frame));
        QTest::keyClick(&frame, Qt::Key_F5);
        QCOMPARE(prompter->LastMessage(), QStringLiteral("サーバ名またはポートNoを設定して下さい"));
    }

    void statusTextStaysWhenTheTipGoes() {
        TestMailbox box;
        CTegaloApp app;
        QVERIFY(app.InitInstance(box.QDir()));
        CMainFrame& frame = *app.mainFrame();
        frame.SetStatusText(QStringLiteral("3 Messages Recieved"));
        QStatusTipEvent tip(QStringLiteral("送受信開始"));
        QApplication::sendEvent(&frame, &tip);
        QCOMPARE(frame.statusBar()->currentMessage(), QStringLiteral("送受信開始"));
        QStatusTipEvent gone{QString()};
        QApplication::sendEvent(&frame, &gone);
        QCOMPARE(frame.statusBar()->currentMessage(), QStringLiteral("3 Messages Recieved"));
    }

    // At each step of a receive the user stops it: nothing is lost, nothing
    // deleted from the server that was not stored, and the next session
    // leaves each message stored exactly once.
    void stopAtEveryStepOfAReceive() {
        pop3_test::DovecotServer server;
        const std::string error = server.Start({{"taro", "secret"}});
        QVERIFY2(error.empty(), error.c_str());
        using Step = SessionProgress::Step;
        const struct {
            const char* name;
            std::function<bool(const SessionProgress&)> when;
            bool byKey;
        } rows[] = {
            {"connecting", [](const SessionProgress& p) { return p.step == Step::Connecting; }, false},
            {"first message", [](const SessionProgress& p) { return p.step == Step::Receiving && p.current == 1; }, true},
            {"second message", [](const SessionProgress& p) { return p.step == Step::Receiving && p.current == 2; }, false},
            {"last message", [](const SessionProgress& p) { return p.step == Step::Receiving && p.current == 3; }, false},
            {"first deletion", [](const SessionProgress& p) { return p.step == Step::Deleting && p.current == 1; }, true},
            {"last deletion", [](const SessionProgress& p) { return p.step == Step::Deleting && p.current == 3; }, false},
        };
        for (const auto& row : rows) {
            for (int i = 1; i <= 3; ++i) {
                server.Deliver("taro", Message(i));
            }
            TestMailbox box;
            AccountSettings settings;
            settings.serverName = "127.0.0.1";
            settings.pop3Port = server.Port();
            settings.userName = "taro";
            settings.password = "secret";
            box.Write("comconfig", FormatAccountSettings(settings));
            CTegaloApp app;
            QVERIFY(app.InitInstance(box.QDir()));
            CMainFrame& frame = *app.mainFrame();
            frame.show();
            frame.activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(&frame));
            MailSessions& sessions = frame.listView()->sessions();
            StopWhen(frame, row.when, row.byKey);
            QStringList progressTexts;
            connect(&sessions, &MailSessions::progress, &frame,
                    [&] { progressTexts << frame.progressLabel()->text(); });
            frame.OnCommand(ID_START_RECEIVE);
            QVERIFY(frame.action(ID_STOP_SESSION)->isEnabled());
            QTRY_VERIFY_WITH_TIMEOUT(!sessions.Busy(), 20000);
            QVERIFY2(sessions.LastEnd() == SessionEnd::Stopped || sessions.LastEnd() == SessionEnd::Normal, row.name);
            QVERIFY(!frame.progressBar()->isVisible());
            QVERIFY(!frame.action(ID_STOP_SESSION)->isEnabled());
            const int stored = FolderCount(box, "recv");
            QVERIFY2(stored + server.MessageCount("taro") >= 3, row.name);
            if (sessions.LastEnd() == SessionEnd::Stopped) {
                QVERIFY2(frame.StatusText().startsWith(QStringLiteral("受信を中止しました（")), row.name);
            }
            if (std::string_view(row.name) == "second message") {
                QVERIFY2(progressTexts.contains(QStringLiteral("受信中 2/3")), qPrintable(progressTexts.join(u',')));
            }

            frame.OnCommand(ID_START_RECEIVE);
            QTRY_VERIFY_WITH_TIMEOUT(!sessions.Busy(), 20000);
            QCOMPARE(sessions.LastEnd(), SessionEnd::Normal);
            QCOMPARE(server.MessageCount("taro"), 0);
            QCOMPARE(FolderCount(box, "recv"), 3);
            const std::string folder = box.Read("recv");
            for (int i = 1; i <= 3; ++i) {
                const std::string body = "body " + std::to_string(i);
                QVERIFY2(folder.find(body) != std::string::npos && folder.find(body) == folder.rfind(body), row.name);
            }
            QVERIFY(prompter->messages.isEmpty());
        }
    }

    // At each step of a send the user stops it: each message is either in
    // the sent folder (the server took it) or still waiting, never both.
    void stopAtEveryStepOfASend() {
        smtp_test::MailSink sink;
        const std::string error = sink.Start();
        QVERIFY2(error.empty(), error.c_str());
        using Step = SessionProgress::Step;
        const struct {
            const char* name;
            std::function<bool(const SessionProgress&)> when;
        } rows[] = {
            {"connecting", [](const SessionProgress& p) { return p.step == Step::Connecting; }},
            {"first message", [](const SessionProgress& p) { return p.step == Step::Sending && p.current == 1; }},
            {"second message", [](const SessionProgress& p) { return p.step == Step::Sending && p.current == 2; }},
            {"last message", [](const SessionProgress& p) { return p.step == Step::Sending && p.current == 3; }},
        };
        for (const auto& row : rows) {
            sink.Clear();
            TestMailbox box;
            AccountSettings settings;
            settings.serverName = "127.0.0.1";
            settings.smtpPort = sink.Port();
            settings.mailAccount = "taro@example.jp";
            box.Write("comconfig", FormatAccountSettings(settings));
            {
                class Silent : public StoreUi {
                    void Message(std::string_view) override {}
                } ui;
                CTegaloDoc doc(ui);
                QVERIFY(Loaded(doc.Start(box.Dir())));
                for (const char* subject : {"s1", "s2", "s3"}) {
                    smtp_test::Draft draft{subject, "hanako@example.jp", "", "text\r\n", {}};
                    QCOMPARE(smtp_test::SaveWaiting(doc, "taro@example.jp", draft), StoreStatus::kOk);
                }
            }
            CTegaloApp app;
            QVERIFY(app.InitInstance(box.QDir()));
            CMainFrame& frame = *app.mainFrame();
            MailSessions& sessions = frame.listView()->sessions();
            StopWhen(frame, row.when, false);
            frame.OnCommand(ID_SEND_WAITING);
            QTRY_VERIFY_WITH_TIMEOUT(!sessions.Busy(), 20000);
            const int sent = FolderCount(box, "sent");
            const int waiting = FolderCount(box, "reserv");
            QCOMPARE(sent + waiting, 3);
            QCOMPARE(static_cast<int>(sink.Messages().size()), sent);
            const std::string sentFolder = box.Read("sent");
            const std::string waitingFolder = box.Read("reserv");
            for (const char* subject : {"s1", "s2", "s3"}) {
                const bool inSent = sentFolder.find(subject) != std::string::npos;
                const bool inWaiting = waitingFolder.find(subject) != std::string::npos;
                QVERIFY2(inSent != inWaiting, row.name);
            }
        }
    }

    // A composed message the server took is filed as sent; a stop while
    // QUIT waits for its answer must not also keep it waiting.
    void composedMessageAcceptedThenStoppedIsNotKeptAgain() {
        QTcpServer smtp;
        QVERIFY(smtp.listen(QHostAddress::LocalHost));
        connect(&smtp, &QTcpServer::newConnection, this, [&] {
            QTcpSocket* c = smtp.nextPendingConnection();
            c->write("220 ready\r\n");
            auto data = std::make_shared<bool>(false);
            connect(c, &QTcpSocket::readyRead, c, [c, data] {
                while (c->canReadLine()) {
                    const QByteArray line = c->readLine();
                    if (*data) {
                        if (line == ".\r\n") {
                            *data = false;
                            c->write("250 queued\r\n");
                        }
                    } else if (line.startsWith("DATA")) {
                        *data = true;
                        c->write("354 go ahead\r\n");
                    } else if (!line.startsWith("QUIT")) { // QUIT is never answered
                        c->write("250 ok\r\n");
                    }
                }
            });
        });
        TestMailbox box;
        class Silent : public StoreUi {
            void Message(std::string_view) override {}
        } ui;
        CTegaloDoc doc(ui);
        QVERIFY(Loaded(doc.Start(box.Dir())));
        MailSessions sessions(doc);
        AccountSettings settings;
        settings.serverName = "127.0.0.1";
        settings.smtpPort = smtp.serverPort();
        settings.mailAccount = "taro@example.jp";
        sessions.ApplySettings(settings);
        int kept = 0;
        connect(&sessions, &MailSessions::sent, &sessions, [&] { sessions.Stop(); });
        QVERIFY(sessions.SendComposed(smtp_test::Composed("hello", "hanako@example.jp", "text"), [&] {
            ++kept;
            return true;
        }));
        QTRY_VERIFY_WITH_TIMEOUT(!sessions.Busy(), 20000);
        QCOMPARE(sessions.LastEnd(), SessionEnd::Stopped);
        QCOMPARE(kept, 0);
        QCOMPARE(FolderCount(box, "sent"), 1);
    }

    void failedSessionRaisesANoticeThatDoesNotBlock() {
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost));
        const quint16 port = closed.serverPort();
        closed.close(); // nothing listens there now
        TestMailbox box;
        AccountSettings settings;
        settings.serverName = "127.0.0.1";
        settings.pop3Port = port;
        box.Write("comconfig", FormatAccountSettings(settings));
        CTegaloApp app;
        QVERIFY(app.InitInstance(box.QDir()));
        CMainFrame& frame = *app.mainFrame();
        frame.OnCommand(ID_START_RECEIVE);
        QTRY_VERIFY_WITH_TIMEOUT(!frame.listView()->sessions().Busy(), 20000);
        QVERIFY(frame.failureNotice() != nullptr);
        QVERIFY(frame.failureNotice()->isVisible());
        QCOMPARE(frame.failureNotice()->windowModality(), Qt::NonModal);
        QVERIFY(frame.failureNotice()->text().startsWith(QStringLiteral("受信できませんでした\n")));
        QVERIFY(frame.StatusText().startsWith(QStringLiteral("Server Connection Failed")));
    }

    void newMailNotificationFollowsThePreference() {
        TestMailbox box;
        CTegaloApp app;
        QVERIFY(app.InitInstance(box.QDir()));
        CMainFrame& frame = *app.mainFrame();
        NewMailNotifier& notifier = *frame.notifier();
        frame.showMinimized();
        preferences::SetNotifyNewMail(false);
        QCOMPARE(notifier.Notify(3), NewMailNotifier::Channel::None);
        preferences::SetNotifyNewMail(true);
        QVERIFY(notifier.Notify(3) != NewMailNotifier::Channel::None);
        QCOMPARE(NewMailNotifier::Text(3), QStringLiteral("3 通の新着メッセージがあります"));
        // In front, the list itself shows the new mail.
        frame.showNormal();
        frame.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&frame));
        QCOMPARE(notifier.Notify(3), NewMailNotifier::Channel::None);

        // The settings dialog shows and keeps the preference.
        CMailComset dialog;
        dialog.Prepare(AccountSettings{});
        QVERIFY(dialog.checkBox(CMailComset::kNotifyNewMail)->isChecked());
        dialog.checkBox(CMailComset::kNotifyNewMail)->setChecked(false);
        dialog.accept();
        QVERIFY(!preferences::NotifyNewMail());
        preferences::SetNotifyNewMail(true);
    }
};

QTEST_MAIN(SessionUiTest)
#include "SessionUi_test.moc"
