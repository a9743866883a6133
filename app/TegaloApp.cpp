#include "app/TegaloApp.h"

#include "app/MainFrm.h"
#include "config/AccountSettings.h"
#include "config/NewMailbox.h"
#include "gui/Prompter.h"
#include "gui/QtStoreUi.h"
#include "gui/QtText.h"
#include "session/MailSessions.h"
#include "store/TegaloDoc.h"
#include "text/unicode.h"

#include <QDir>
#include <QEventLoop>
#include <QFileInfo>

#include <cstdio>

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
        } else {
            *error = QStringLiteral("unknown argument: ") + a;
            return std::nullopt;
        }
    }
    if (int(options.init) + int(options.receive) + int(options.sendWaiting) > 1) {
        *error = QStringLiteral("--init, --receive and --send-waiting exclude each other");
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
    if (!Loaded(doc_->Start(NativePath(path)))) {
        return false;
    }
    sessions_ = std::make_unique<MailSessions>(*doc_);
    frame_ = std::make_unique<CMainFrame>(*doc_, *sessions_);
    ui_->parent = frame_.get();
    frame_->show();
    frame_->OnInitialUpdate();
    return true;
}

} // namespace tegalo
