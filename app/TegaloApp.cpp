#include "app/TegaloApp.h"

#include "app/MainFrm.h"
#include "cli/Headless.h"
#include "config/NewMailbox.h"
#include "gui/Prompter.h"
#include "gui/QtStoreUi.h"
#include "gui/QtText.h"
#include "session/MailSessions.h"
#include "store/Record.h"
#include "store/TegaloDoc.h"
#include "text/unicode.h"

#include <QDir>
#include <QFileInfo>

#include <string>
#include <vector>

namespace tegalo {

using namespace tegalo::literals;

CTegaloApp::CTegaloApp() : ui_(std::make_unique<QtStoreUi>()), doc_(std::make_unique<CTegaloDoc>(*ui_)) {}

CTegaloApp::~CTegaloApp() {
    frame_.reset(); // the views go before the sessions and the document they show
    sessions_.reset();
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
