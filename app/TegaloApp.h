// Start-up: the command line, the mailbox, the document and the main window.
#pragma once

#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

namespace tegalo {

class CMainFrame;
class CTegaloDoc;
class MailSessions;
class QtStoreUi;

struct StartOptions {
    QString dir;          // the working directory; empty for the current one
    bool init = false;    // --init: create a mailbox and stop
    bool receive = false; // --receive: one receive session without a window
    bool sendWaiting = false; // --send-waiting: send the waiting folder without a window
    bool repair = false;  // --repair: repair damaged folder files without a window
};

// Reads `tegalo [--dir DIR] [--init | --receive | --send-waiting | --repair]`. On a
// wrong command line returns nullopt and sets *error.
std::optional<StartOptions> ParseStartOptions(const QStringList& arguments, QString* error);

class CTegaloApp {
public:
    CTegaloApp();
    ~CTegaloApp();

    // Opens the mailbox in `dir` (offering to create one when it has no
    // received folder) and shows the main window. False when the program
    // is to end.
    bool InitInstance(const QString& dir);

    // --repair: in every damaged folder file of `dir`, keeps the whole
    // records and moves the damaged tail into a side file; prints what it
    // kept and moved. 0 when nothing failed.
    static int RepairWithoutWindow(const QString& dir);

    // --init: creates a new mailbox in `dir` without a window; messages go
    // to standard error. Returns the exit status.
    static int CreateMailboxOnly(const QString& dir);

    // --receive and --send-waiting: one session with the account of DIR's
    // settings and no window. Every status text and message goes to
    // standard output in UTF-8, a line each. Needs a QCoreApplication.
    // Returns 0 when the session ended normally (for sending: every waiting
    // message was accepted).
    static int SessionWithoutWindow(const QString& dir, bool send);

    CTegaloDoc& doc() { return *doc_; }
    CMainFrame* mainFrame() const { return frame_.get(); }
    // The mail sessions of the window (after InitInstance).
    MailSessions* sessions() const { return sessions_.get(); }

private:
    std::unique_ptr<QtStoreUi> ui_;
    std::unique_ptr<CTegaloDoc> doc_;
    std::unique_ptr<MailSessions> sessions_;
    std::unique_ptr<CMainFrame> frame_;
};

} // namespace tegalo
