#include "cli/Headless.h"

#include "config/NewMailbox.h"
#include "gui/QtText.h"
#include "session/MailSessions.h"
#include "store/FileIo.h"
#include "store/FolderRepair.h"
#include "store/Record.h"
#include "store/TegaloDoc.h"
#include "text/unicode.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QTextStream>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

namespace tegalo {

std::optional<StartOptions> ParseStartOptions(const QStringList& arguments, QString* error) {
    StartOptions options;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& a = arguments[i];
        if (a == QLatin1String("--dir") && i + 1 < arguments.size()) {
            options.dir = arguments[++i];
        } else if (a.startsWith(QLatin1String("--dir="))) {
            options.dir = a.mid(6);
        } else if (a == QLatin1String("--init")) {
            options.init = true;
        } else if (a == QLatin1String("--receive")) {
            options.receive = true;
        } else if (a == QLatin1String("--send-waiting")) {
            options.sendWaiting = true;
        } else if (a == QLatin1String("--repair")) {
            options.repair = true;
        } else {
            *error = QStringLiteral("unknown argument: ") + a;
            return std::nullopt;
        }
    }
    if (int(options.init) + int(options.receive) + int(options.sendWaiting) + int(options.repair) > 1) {
        *error = QStringLiteral("--init, --receive, --send-waiting and --repair exclude each other");
        return std::nullopt;
    }
    return options;
}

namespace {

// Messages of a run without a window, in UTF-8, a line each.
class ConsoleStoreUi final : public StoreUi {
public:
    explicit ConsoleStoreUi(std::FILE* out) : out_(out) {}
    void Message(std::string_view sjisText) override { Print(out_, sjisText); }

    static void Print(std::FILE* out, std::string_view sjisText) {
        const std::string text = SjisToUtf8(sjisText) + "\n";
        std::fwrite(text.data(), 1, text.size(), out);
        std::fflush(out);
    }

private:
    std::FILE* out_;
};

} // namespace

int SessionWithoutWindow(const QString& dir, bool send) {
    ConsoleStoreUi console(stdout);
    CTegaloDoc doc(console);
    const QString path = QDir(dir.isEmpty() ? QDir::currentPath() : dir).absolutePath();
    if (!Loaded(doc.Start(NativePath(path), false))) {
        return 1;
    }
    MailSessions sessions(doc);
    if (sessions.ReadSettings(console) == SettingsStatus::kCannotOpen) {
        return 1;
    }
    const auto print = [](const std::string& text) { ConsoleStoreUi::Print(stdout, text); };
    QObject::connect(&sessions, &MailSessions::statusText, print);
    QObject::connect(&sessions, &MailSessions::notice, print);
    SessionEnd end = SessionEnd::None;
    QEventLoop loop;
    QObject::connect(&sessions, &MailSessions::ended, [&](SessionEnd how) {
        end = how;
        loop.quit();
    });
    if (send) {
        sessions.SendWaiting();
    } else {
        sessions.StartReceive();
    }
    if (sessions.Busy()) {
        loop.exec();
    }
    return end == SessionEnd::Normal ? 0 : 1;
}

bool RepairMailbox(const std::string& path, std::vector<std::string>& lines) {
    char when[32] = {};
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    std::strftime(when, sizeof when, "%Y%m%d-%H%M%S", &local);
    bool ok = true;
    for (const int folder : {kReceived, kWaiting, kSent, kDeleted}) {
        FolderRepair report;
        const int error = RepairFolderFile(path, folder, when, report);
        const std::string name(FolderName(folder));
        if (error != 0) {
            lines.push_back(name + ": not repaired: " + std::strerror(error));
            ok = false;
        } else if (!report.damaged) {
            lines.push_back(name + ": not damaged, " + std::to_string(report.kept) + " records");
        } else if (report.sideFile.empty()) {
            lines.push_back(name + ": kept " + std::to_string(report.kept) + " records, count corrected");
        } else {
            lines.push_back(name + ": kept " + std::to_string(report.kept) + " records, moved " +
                            std::to_string(report.movedBytes) + " damaged bytes to " + report.sideFile);
        }
    }
    return ok;
}

int RepairWithoutWindow(const QString& dir) {
    const std::string path = NativePath(QDir(dir.isEmpty() ? QDir::currentPath() : dir).absolutePath()) + "/";
    MailboxLock lock;
    if (const int error = lock.Acquire(path); error != 0) {
        std::fprintf(stderr, "%s: %s\n", path.c_str(),
                     error == EWOULDBLOCK ? "another Tegalo uses this mailbox" : std::strerror(error));
        return 1;
    }
    std::vector<std::string> lines;
    const bool ok = RepairMailbox(path, lines);
    for (const std::string& line : lines) {
        std::printf("%s\n", line.c_str());
    }
    std::fflush(stdout);
    return ok ? 0 : 1;
}

int CreateMailboxOnly(const QString& dir) {
    ConsoleStoreUi console(stderr);
    const QString path = dir.isEmpty() ? QDir::currentPath() : dir;
    return CreateMailbox(NativePath(path), console) == StoreStatus::kOk ? 0 : 1;
}

std::optional<int> RunUnlessWindow(int argc, char** argv, StartOptions& options) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i) {
        arguments << QString::fromLocal8Bit(argv[i]);
    }
    QString error;
    std::optional<StartOptions> parsed = ParseStartOptions(arguments, &error);
    if (!parsed) {
        QTextStream(stderr) << error << '\n' << kUsage;
        return 2;
    }
    options = std::move(*parsed);
    if (!options.WithoutWindow()) {
        return std::nullopt;
    }
    QCoreApplication app(argc, argv);
    return RunWithoutWindow(options);
}

int RunWithoutWindow(const StartOptions& options) {
    if (options.repair) {
        return RepairWithoutWindow(options.dir);
    }
    if (options.init) {
        return CreateMailboxOnly(options.dir);
    }
    return SessionWithoutWindow(options.dir, options.sendWaiting);
}

} // namespace tegalo
