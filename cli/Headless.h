// The command line, and the commands that run without a window: they need
// Qt's core and network only, so a run from cron or a script never loads
// the libraries of the screen.
#pragma once

#include <QString>
#include <QStringList>

#include <optional>
#include <string>
#include <vector>

namespace tegalo {

inline constexpr char kUsage[] = "usage: tegalo [--dir DIR] [--init | --receive | --send-waiting | --repair]\n";

struct StartOptions {
    QString dir;              // the working directory; empty for the current one
    bool init = false;        // --init: create a mailbox and stop
    bool receive = false;     // --receive: one receive session without a window
    bool sendWaiting = false; // --send-waiting: send the waiting folder without a window
    bool repair = false;      // --repair: repair damaged folder files without a window

    // True when the options ask for one of the commands without a window.
    bool WithoutWindow() const { return init || receive || sendWaiting || repair; }
};

// Reads `tegalo [--dir DIR] [--init | --receive | --send-waiting | --repair]`. On a
// wrong command line returns nullopt and sets *error.
std::optional<StartOptions> ParseStartOptions(const QStringList& arguments, QString* error);

// What `main` does first with its command line: reads it (a wrong one is
// told on standard error with the usage: status 2), and runs a command
// without a window (with a QCoreApplication of its own), returning its
// exit status. Returns nullopt, with `options` filled in, when a window is
// wanted.
std::optional<int> RunUnlessWindow(int argc, char** argv, StartOptions& options);

// Runs the command of `options` (WithoutWindow() must be true) and returns
// the exit status. --receive and --send-waiting need a QCoreApplication.
int RunWithoutWindow(const StartOptions& options);

// --repair: in every damaged folder file of `dir`, keeps the whole records
// and moves the damaged tail into a side file; prints what it kept and
// moved. 0 when nothing failed.
int RepairWithoutWindow(const QString& dir);

// --init: creates a new mailbox in `dir` without a window; messages go to
// standard error. Returns the exit status.
int CreateMailboxOnly(const QString& dir);

// --receive and --send-waiting: one session with the account of DIR's
// settings and no window. Every status text and message goes to standard
// output in UTF-8, a line each. Returns 0 when the session ended normally
// (for sending: every waiting message was accepted).
int SessionWithoutWindow(const QString& dir, bool send);

// Repairs every damaged folder file of the mailbox `path` (ending with "/")
// and tells what it kept and moved, a line for each folder. False when a
// repair failed.
bool RepairMailbox(const std::string& path, std::vector<std::string>& lines);

} // namespace tegalo
