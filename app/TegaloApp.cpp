#include "app/TegaloApp.h"

#include "app/MainFrm.h"
#include "store/Mailbox.h"
#include "store/TegaloDoc.h"
#include "text/unicode.h"
#include "ui/Prompter.h"
#include "ui/QtStoreUi.h"
#include "ui/QtText.h"

#include <QDir>
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
        } else {
            *error = QStringLiteral("unknown argument: ") + a;
            return std::nullopt;
        }
    }
    return options;
}

CTegaloApp::CTegaloApp() : ui_(std::make_unique<QtStoreUi>()), doc_(std::make_unique<CTegaloDoc>(*ui_)) {}

CTegaloApp::~CTegaloApp() {
    frame_.reset(); // the views go before the document they show
}

namespace {

// Messages of a run without a window, in UTF-8 on standard error.
class ConsoleStoreUi final : public StoreUi {
public:
    void Message(std::string_view sjisText) override {
        const std::string text = SjisToUtf8(sjisText) + "\n";
        std::fwrite(text.data(), 1, text.size(), stderr);
    }
    void RecipientsSet(std::string_view, int) override {}
};

} // namespace

int CTegaloApp::CreateMailboxOnly(const QString& dir) {
    ConsoleStoreUi console;
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
    frame_ = std::make_unique<CMainFrame>(*doc_);
    ui_->parent = frame_.get();
    frame_->show();
    frame_->OnInitialUpdate();
    return true;
}

} // namespace tegalo
