#include "app/TegaloApp.h"

#include "app/MainFrm.h"
#include "config/AccountSettings.h"
#include "config/NewMailbox.h"
#include "gui/Prompter.h"
#include "gui/QtStoreUi.h"
#include "gui/QtText.h"
#include "session/MailSessions.h"
#include "store/FileIo.h"
#include "store/FolderRepair.h"
#include "store/Record.h"
#include "store/TegaloDoc.h"
#include "text/unicode.h"

#include <QDir>
#include <QEventLoop>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

namespace tegalo {

using namespace tegalo::literals;

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

CTegaloApp::CTegaloApp() : ui_(std::make_unique<QtStoreUi>()), doc_(std::make_unique<CTegaloDoc>(*ui_)) {}

CTegaloApp::~CTegaloApp() {
    frame_.reset(); // the views go before the sessions and the document they show
    sessions_.reset();
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

int CTegaloApp::SessionWithoutWindow(const QString& dir, bool send) {
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

namespace {

// Repairs every damaged folder file of the mailbox `path` (ending with "/")
// and tells what it kept and moved, a line for each folder. False when a
// repair failed.
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

} // namespace

int CTegaloApp::RepairWithoutWindow(const QString& dir) {
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

int CTegaloApp::CreateMailboxOnly(const QString& dir) {
    ConsoleStoreUi console(stderr);
    const QString path = dir.isEmpty() ? QDir::currentPath() : dir;
    return CreateMailbox(NativePath(path), console) == StoreStatus::kOk ? 0 : 1;
}

bool CTegaloApp::InitInstance(const QString& dir) {
    const QString path = QDir(dir.isEmpty() ? QDir::currentPath() : dir).absolutePath();
    if (!QFileInfo::exists(path + QStringLiteral("/recv"))) {
        const bool create = Prompter().Ask(
            nullptr, QStringLiteral("%1 にはメールボックスがありません。新しく作成しますか?").arg(path));
        if (!create) {
            ui_->Message("ファイルが開けません0"_sjis);
            return false;
        }
        if (CreateMailbox(NativePath(path), *ui_) != StoreStatus::kOk) {
            return false;
        }
    }
    const StoreStatus started = doc_->Start(NativePath(path));
    if (!Loaded(started)) {
        return false;
    }
    if (started == StoreStatus::kDamaged &&
        Prompter().Ask(nullptr, QStringLiteral("壊れたフォルダファイルを修復しますか?\n"
                                               "読めるメッセージはすべて残し、壊れた部分はメールボックスの"
                                               "別のファイル (recv.damaged-日付-時刻 など) に移します。"))) {
        // The document holds the mailbox; the repair works beside it and
        // the shown folder is read again afterwards.
        std::vector<std::string> lines;
        RepairMailbox(NativePath(path) + "/", lines);
        QString text;
        for (const std::string& line : lines) {
            text += QString::fromStdString(line) + QLatin1Char('\n');
        }
        Prompter().Message(nullptr, text);
        static_cast<void>(doc_->LoadList(FolderName(kReceived)));
    }
    sessions_ = std::make_unique<MailSessions>(*doc_);
    frame_ = std::make_unique<CMainFrame>(*doc_, *sessions_);
    ui_->parent = frame_.get();
    frame_->show();
    frame_->OnInitialUpdate();
    return true;
}

} // namespace tegalo
