// The program's mail sessions: the one connection to the mail server (CSock),
// the timer that checks for new mail, the account settings in effect and the
// state of the session under way. Windows give it commands and follow it by
// its signals; the run without a window drives it the same way.
#pragma once

#include "config/AccountSettings.h"
#include "transfer/SendStore.h"
#include "transfer/SessionEnd.h"
#include "transfer/SessionProgress.h"

#include <QObject>
#include <QTimer>

#include <functional>
#include <memory>
#include <string>

namespace tegalo {

class CSock;
class CTegaloDoc;
class StoreUi;

class MailSessions : public QObject {
    Q_OBJECT
public:
    // `doc` must have its mailbox open (the UIDL file lives beside it).
    explicit MailSessions(CTegaloDoc& doc, QObject* parent = nullptr);
    ~MailSessions() override;

    // Reads the mailbox's settings file into the settings in effect; a
    // failure was shown through `ui`.
    SettingsStatus ReadSettings(StoreUi& ui);
    const AccountSettings& Settings() const { return settings_; }
    // The settings dialog's result: the next session uses it. Nothing is
    // written here, and the check timer keeps the period it started with
    // (interval changes take effect at the next start).
    void ApplySettings(const AccountSettings& settings);
    // At start-up: starts the check timer when the settings ask for it, with
    // the period of their interval.
    void StartCheckTimer();
    const QTimer& checkTimer() const { return checkTimer_; }

    // Starts a receive session (the toolbar's "送受信開始", the check timer,
    // start-up). While another session runs, the socket adapter refuses it
    // with a status text.
    void StartReceive();
    // Sends the waiting folder ("送信待").
    void SendWaiting();
    // Sends a composed message at once. False when another session runs or
    // the message was refused before it went out (the message was not
    // taken), or when the session ended other than normally before this
    // returned. When it was taken but the server does not accept it,
    // `keepIfNotSent` (when given) stores it in the waiting folder.
    bool SendComposed(OutgoingMessage message, std::function<bool()> keepIfNotSent = {});

    // Stops the running session ("中止", Esc): what it stored or sent stands,
    // nothing is stored or sent twice, and it ends (see CSock::Stop).
    void Stop();

    // True while a session runs.
    bool Busy() const;
    // Where the running session stands (Idle when none runs).
    SessionProgress Progress() const;
    // How the last session ended (None while one runs).
    SessionEnd LastEnd() const { return lastEnd_; }
    CSock& socket() { return *socket_; }

signals:
    // Texts in Shift_JIS. Status texts go to the status bar (or standard
    // output); notices must not block while a session runs.
    void statusText(const std::string& text);
    void notice(const std::string& text);
    // A message was stored in the received folder; one was sent (and moved
    // from the waiting folder to the sent one).
    void received();
    void sent();
    // A composed message the server did not take was kept in the waiting folder.
    void unsentKept();
    void ended(tegalo::SessionEnd how);
    // The running session moved on: see Progress().
    void progress();
    // A receive session ended having stored `count` (> 0) new messages.
    void newMail(int count);
    // True when a command begins a session, false when it ended or was
    // refused before it began.
    void busyChanged(bool busy);
    void settingsChanged();
    // The session's connection became encrypted (true) or it ended (false).
    void encryptedChanged(bool encrypted);

private:
    void Begin();
    void SettleBusy();
    void OnEnded(SessionEnd how);

    CTegaloDoc& doc_;
    std::unique_ptr<CSock> socket_;
    AccountSettings settings_;
    QTimer checkTimer_;
    bool busy_ = false;
    SessionEnd lastEnd_ = SessionEnd::None;
    std::function<bool()> keepIfNotSent_; // for the composed message being sent
};

} // namespace tegalo
