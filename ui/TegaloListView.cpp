#include "ui/TegaloListView.h"

#include "gui/Commands.h"
#include "gui/Printing.h"
#include "gui/Prompter.h"
#include "gui/QtStoreUi.h"
#include "gui/QtText.h"
#include "session/MailSessions.h"
#include "store/AddressBook.h"
#include "store/Attachments.h"
#include "store/PartName.h"
#include "store/TegaloDoc.h"
#include "text/unicode.h"
#include "ui/RecordListModel.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QPrinter>

#include <algorithm>
#include <cstdio>
#include <utility>

namespace tegalo {

using namespace tegalo::literals;

namespace {

const QString kSelectMessage = QStringLiteral("電文を選択してください");

// Moves the record of `row` from the folder shown to `target` ("recycle"
// from "recycle" deletes it for good). The row leaves the list only when the
// record left the folder file; after a failure, which the store has shown,
// the list still matches the file.
void MoveRecordOfRow(CTegaloDoc& doc, RecordListModel& model, int row, int target) {
    const StoreStatus status =
        doc.DelData(model.RecordIndex(row), FolderName(doc.CurrentFolder()), FolderName(target));
    if (status == StoreStatus::kOk) {
        model.RemoveRow(row);
    }
}

// The viewer's editor shows line ends as Qt writes them.
QString DisplayText(std::string_view sjis) {
    QString text = FromSjis(sjis);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return text;
}

} // namespace

CTegaloListView::CTegaloListView(CTegaloDoc& doc, MailSessions& sessions, QWidget* parent)
    : QTreeView(parent), doc_(doc), sessions_(sessions), settingsDialog_(this), viewerDialog_(this) {
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setAllColumnsShowFocus(true);
    model_ = new RecordListModel(doc_.GetRecordList(), this);
    connect(this, &QTreeView::doubleClicked, this, [this] { OpenFocusedMessage(); });

    connect(&sessions_, &MailSessions::notice, this, [](const std::string& text) { QtStoreUi::Defer(text); });
    // Messages arrive one after another: new rows are shown at most a few
    // times a second, and when the session ends, and only while the list
    // shows the received folder.
    refillTimer_.setSingleShot(true);
    refillTimer_.setInterval(300);
    connect(&refillTimer_, &QTimer::timeout, this, [this] { ShowReceived(); });
    connect(&sessions_, &MailSessions::received, this, [this] {
        if (!refillTimer_.isActive()) {
            refillTimer_.start();
        }
    });
    connect(&sessions_, &MailSessions::sent, this, [this] {
        // A sent message left the waiting folder and reached the sent one.
        const int folder = doc_.CurrentFolder();
        if ((folder == kWaiting || folder == kSent) && model() == model_) {
            model_->Refill();
        }
    });
    connect(&sessions_, &MailSessions::unsentKept, this, [this] {
        if (doc_.CurrentFolder() == kWaiting && model() == model_) {
            model_->Refill();
        }
    });
    connect(&sessions_, &MailSessions::ended, this, [this] {
        refillTimer_.stop();
        ShowReceived();
    });
    connect(&sessions_, &MailSessions::busyChanged, this, [this](bool busy) { OnBusyChanged(busy); });
}

CTegaloListView::~CTegaloListView() {
    // The last attachment copy opened goes with the window; only a file in
    // the attachment directory is ever deleted.
    if (!lastAttachmentPath_.empty() && IsAttachmentCopyPath(lastAttachmentPath_, AttachmentDirectory())) {
        std::remove(lastAttachmentPath_.c_str());
    }
}

void CTegaloListView::OnInitialUpdate() {
    QtStoreUi ui;
    ui.parent = this;
    if (sessions_.ReadSettings(ui) == SettingsStatus::kCannotOpen) {
        return;
    }
    setModel(model_);
    header()->resizeSection(0, 200);
    header()->resizeSection(1, 100);
    // The date column is as wide as a date as received, when that is wider.
    header()->resizeSection(2, std::max(100, fontMetrics().horizontalAdvance(QStringLiteral("Mon, 07 Dec 2026 10:00:00 +0900")) + 12));
    header()->setStretchLastSection(false);
    // The subject takes the width the other columns leave.
    header()->setSectionResizeMode(0, QHeaderView::Stretch);
    header()->setMinimumSectionSize(40);
    // A click on a column title sorts by it; a third click goes back to
    // the folder's own order, newest first, which is where the list starts.
    header()->setSortIndicatorClearable(true);
    header()->setSortIndicator(-1, Qt::DescendingOrder);
    setSortingEnabled(true);
    columnsShown_ = true;
    OnUpdate(kReceived);
    if (sessions_.Settings().receiveAtStartup) {
        sessions_.StartReceive();
    }
    sessions_.StartCheckTimer();
}

void CTegaloListView::ShowReceived() {
    if (doc_.CurrentFolder() == kReceived && model() == model_) {
        model_->ShowAppended();
    }
}

void CTegaloListView::OnBusyChanged(bool busy) {
    QtStoreUi::SetDeferring(busy);
    if (!busy) {
        refillTimer_.stop();
        ShowReceived();
        QtStoreUi::ShowDeferred(this);
        OfferToTrustCertificate();
    }
}

void CTegaloListView::OfferToTrustCertificate() {
    CSock& socket = sessions_.socket();
    if (socket.Busy() || !socket.RefusedCertificate()) {
        return;
    }
    const CSock::RefusedCert cert = *socket.RefusedCertificate();
    const QString question =
        QStringLiteral("サーバ %1:%2 の証明書は信頼されていません。\nSHA-256 指紋: %3\n\n"
                       "この証明書が本当にこのサーバのものであると確認できた場合だけ信頼してください。"
                       "このサーバのこの証明書を今後信頼しますか?")
            .arg(QString::fromStdString(cert.host))
            .arg(cert.port)
            .arg(QString::fromStdString(cert.fingerprint));
    if (!Prompter().Ask(this, question)) {
        return;
    }
    if (const std::string error = socket.TrustRefusedCertificate(); !error.empty()) {
        Prompter().Message(this, QStringLiteral("証明書を保存できません: ") + QString::fromStdString(error));
        return;
    }
    emit sessions_.statusText("証明書を信頼しました。もう一度実行してください"_sjis);
}

bool CTegaloListView::SendComposed(OutgoingMessage message, std::function<bool()> keepIfNotSent) {
    if (sessions_.Busy()) {
        Prompter().Message(this, QStringLiteral("送受信中のため送信できません"));
        return false;
    }
    return sessions_.SendComposed(std::move(message), std::move(keepIfNotSent));
}

void CTegaloListView::OnUpdate(int) {
    model_->Refill();
}

bool CTegaloListView::OnCommand(int id) {
    switch (id) {
    case ID_FILE_OPEN:
        OpenFocusedMessage();
        return true;
    case ID_FILE_PRINT:
        PrintFocusedMessage();
        return true;
    case ID_SETTINGS:
        RunSettings();
        return true;
    case ID_START_RECEIVE:
        sessions_.StartReceive();
        return true;
    case ID_SEND_WAITING:
        sessions_.SendWaiting();
        return true;
    case ID_REGISTER_SENDER:
        RegisterSender();
        return true;
    case ID_ADDRESS_BOOK:
        RunAddressBook();
        return true;
    case ID_NEW_MESSAGE:
    case ID_FILE_NEW:
        StartNewMessage();
        return true;
    case ID_REPLY:
        if (LoadFocusedMessage() >= 0) {
            ReplyToLoaded();
        }
        return true;
    case ID_FORWARD:
        if (LoadFocusedMessage() >= 0) {
            ForwardLoaded();
        }
        return true;
    case ID_MOVE_TO_RECEIVED:
        MoveFocusedMessage(kReceived);
        return true;
    case ID_MOVE_TO_WAITING:
        MoveFocusedMessage(kWaiting);
        return true;
    case ID_MOVE_TO_SENT:
        MoveFocusedMessage(kSent);
        return true;
    case ID_MOVE_TO_DELETED:
        MoveFocusedMessage(kDeleted);
        return true;
    default:
        return false;
    }
}

int CTegaloListView::FocusedRecordIndex() const {
    const QModelIndex focused = currentIndex();
    if (!focused.isValid() || model() != model_) {
        return -1;
    }
    return model_->RecordIndex(focused.row());
}

int CTegaloListView::LoadFocusedMessage() {
    const int k = FocusedRecordIndex();
    const std::optional<std::string> record = k < 0 ? std::nullopt : doc_.GetRecord(k);
    if (!record) {
        Prompter().Message(this, kSelectMessage);
        return -1;
    }
    const std::optional<RecordPieces> pieces = SplitRecord(*record);
    const std::optional<PartSizes> sizes = ParseSizeBlock(*record);
    if (!pieces || !sizes) {
        Prompter().Message(this, QStringLiteral("この電文は壊れていて読めません"));
        return -1;
    }
    LoadedMessage& m = currentMessage_;
    m.subject.assign(pieces->subject);
    m.from.assign(pieces->sender);
    m.date.assign(pieces->date);
    m.body.assign(pieces->body);
    if ((*sizes)[kReadMark] == 0) {
        const int row = currentIndex().row();
        const int count = doc_.GetRecordList().Count();
        if (doc_.RegData(k, WithReadMark(*record), FolderName(doc_.CurrentFolder())) == StoreStatus::kOk) {
            if (doc_.GetRecordList().Count() == count) {
                model_->RowChanged(row); // only the picture changes
            } else {
                model_->Refill();
                setCurrentIndex(model_->index(row, 0));
            }
        }
    }
    const int parts = (*sizes)[kPartCount];
    m.attachmentNames = {};
    m.attachmentNames[0] = std::string(std::string_view(*record).substr(kFieldWidth * kPartCount, kFieldWidth));
    if (parts != 0) {
        m.body.assign(PartRecordContent(m.body));
    }
    m.lastAttachmentIndex = 0;
    for (int j = 1; j < parts && j <= 3; ++j) {
        // Names of composed messages are stored as they went out (ISO-2022-JP).
        m.attachmentNames[static_cast<std::size_t>(j)] =
            ShownPartName(PartRecordName(pieces->attachments[static_cast<std::size_t>(j - 1)]));
        m.lastAttachmentIndex = j;
    }
    m.currentRecordIndex = k;
    m.allAttachments.clear();
    const std::optional<std::string> original = doc_.OriginalOf(k);
    m.hasOriginal = original.has_value();
    if (original) {
        std::vector<ReceivedAttachment> all = ListReceivedAttachments(*original);
        if (all.size() > static_cast<std::size_t>(m.lastAttachmentIndex)) {
            m.allAttachments = std::move(all);
        }
    }
    FillViewer();
    return k;
}

void CTegaloListView::FillViewer() {
    const LoadedMessage& m = currentMessage_;
    viewerDialog_.viewerHeader = QStringLiteral("送信者：  ") + FromSjis(m.from) + QStringLiteral("\n日付　：　") +
                                 FromSjis(m.date) + QStringLiteral("\n主題　：　") + FromSjis(m.subject);
    viewerDialog_.viewerBody = DisplayText(m.body);
    viewerDialog_.attachments.clear();
    for (int j = 1; j <= m.lastAttachmentIndex; ++j) {
        viewerDialog_.attachments.append(FromSjis(m.attachmentNames[static_cast<std::size_t>(j)]));
    }
    viewerDialog_.multipart = std::atoi(m.attachmentNames[0].c_str()) >= 1;
    if (!m.allAttachments.empty()) {
        viewerDialog_.attachments.clear();
        for (const ReceivedAttachment& attachment : m.allAttachments) {
            viewerDialog_.attachments.append(FromSjis(attachment.name));
        }
        viewerDialog_.multipart = true;
    }
    viewerDialog_.hasOriginal = m.hasOriginal;
}

void CTegaloListView::OpenFocusedMessage() {
    if (LoadFocusedMessage() < 0) {
        return;
    }
    viewerDialog_.Prepare();
    const int result = viewerDialog_.exec();
    if (result == CMailMsg::kPrint) {
        PrintCurrentBody();
    } else if (result == CMailMsg::kReply) {
        ReplyToLoaded();
    } else if (result == CMailMsg::kForward) {
        ForwardLoaded();
    } else if (result == CMailMsg::kSaveOriginal) {
        SaveOriginalOfLoaded();
    } else if (result >= CMailMsg::kFirstAttachment && result - CMailMsg::kFirstAttachment < viewerDialog_.attachments.size()) {
        OpenAttachment(result - CMailMsg::kFirstAttachment + 1);
    }
}

void CTegaloListView::PrintFocusedMessage() {
    if (LoadFocusedMessage() >= 0) {
        PrintCurrentBody();
    }
}

void CTegaloListView::PrintCurrentBody() {
    std::unique_ptr<QPrinter> printer = ChoosePrintTarget(this, FromSjis(currentMessage_.subject));
    if (printer && !PrintBody(*printer, currentMessage_.body)) {
        Prompter().Message(this, QStringLiteral("印刷を開始できません"));
    }
}

void CTegaloListView::OpenAttachment(int number) {
    const LoadedMessage& m = currentMessage_;
    const bool fromOriginal = !m.allAttachments.empty();
    const int count = fromOriginal ? static_cast<int>(m.allAttachments.size()) : m.lastAttachmentIndex;
    if (number < 1 || number > count) {
        return;
    }
    const auto at = static_cast<std::size_t>(number);
    std::string name;
    for (char c : fromOriginal ? m.allAttachments[at - 1].name : m.attachmentNames[at]) {
        if (static_cast<unsigned char>(c) >= 32) {
            name.push_back(c);
        }
    }
    const std::optional<std::string> path =
        fromOriginal ? doc_.SaveDecodedCopy(m.allAttachments[at - 1].bytes, name)
                     : doc_.SaveAttachment(m.currentRecordIndex, number, name);
    if (!path) {
        return; // the store said why; nothing is opened
    }
    lastAttachmentPath_ = *path;
    const QString file = FromNativePath(*path);
    if (MayRunCode(NativePath(file.section(QLatin1Char('/'), -1))) &&
        !Prompter().Ask(this, QStringLiteral("「%1」はプログラムとして実行される可能性があります。開きますか?")
                                  .arg(file.section(QLatin1Char('/'), -1)))) {
        return;
    }
    if (!Prompter().OpenWithDesktop(file)) {
        Prompter().Message(this, QStringLiteral("Can't Execute"));
    }
}

void CTegaloListView::SaveOriginalOfLoaded() {
    const LoadedMessage& m = currentMessage_;
    std::string subject;
    for (char c : m.subject) {
        if (static_cast<unsigned char>(c) >= 32) {
            subject.push_back(c);
        }
    }
    const std::size_t start = subject.find_first_not_of(' ');
    subject = start == std::string::npos ? std::string("message") : subject.substr(start);
    const QString suggested = FromNativePath(SafeAttachmentName(subject + ".eml"));
    QString path = Prompter().ChooseFileToSave(this, suggested, {QStringLiteral("メール (*.eml)")});
    if (path.isEmpty()) {
        return;
    }
    if (doc_.SaveOriginal(m.currentRecordIndex, NativePath(path))) {
        lastAttachmentPath_ = NativePath(path);
    }
}

void CTegaloListView::RunSettings() {
    settingsDialog_.Prepare(sessions_.Settings());
    if (settingsDialog_.exec() != QDialog::Accepted) {
        return;
    }
    sessions_.ApplySettings(settingsDialog_.Result());
    QtStoreUi ui;
    ui.parent = this;
    const SettingsStatus status = SaveAccountSettings(doc_.BaseDir(), sessions_.Settings(), ui);
    static_cast<void>(status); // a failure was shown; the new values stay in effect for this run
}

void CTegaloListView::keyPressEvent(QKeyEvent* event) {
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && event->modifiers() == Qt::NoModifier) {
        OpenFocusedMessage();
        return;
    }
    if (event->key() == Qt::Key_Delete) {
        DeleteFocusedMessage();
    }
    QTreeView::keyPressEvent(event);
}

void CTegaloListView::SetFilter(const QString& text) {
    if (model() != model_) {
        return;
    }
    const int focused = FocusedRecordIndex();
    QStringList unmapped;
    const std::string query = ToSjis(text, &unmapped);
    // A character without a Shift_JIS form is in no message.
    model_->SetFilter(query, !unmapped.isEmpty());
    const int row = model_->RowOfRecord(focused);
    if (row >= 0) {
        setCurrentIndex(model_->index(row, 0));
        scrollTo(currentIndex());
    }
}

void CTegaloListView::DeleteFocusedMessage() {
    const int k = FocusedRecordIndex();
    if (k < 0) {
        return;
    }
    const int row = currentIndex().row();
    const std::optional<std::string> record = doc_.GetRecord(k);
    const std::optional<RecordPieces> pieces = record ? SplitRecord(*record) : std::nullopt;
    QString subject = pieces ? FromSjis(pieces->subject) : QString();
    if (subject.trimmed().isEmpty()) {
        subject = QStringLiteral("(件名なし)");
    }
    // Deleting in the deleted folder itself is for good.
    const QString question =
        doc_.CurrentFolder() == kDeleted
            ? QStringLiteral("「%1」を完全に消去します。削除フォルダーから消去したメッセージは元に戻せません。よろしいですか")
            : QStringLiteral("「%1」を削除フォルダーへ移します。よろしいですか");
    if (!Prompter().Confirm(this, question.arg(subject))) {
        return;
    }
    MoveRecordOfRow(doc_, *model_, row, kDeleted);
}

void CTegaloListView::MoveFocusedMessage(int folder) {
    if (FocusedRecordIndex() < 0) {
        Prompter().Message(this, kSelectMessage);
        return;
    }
    if (doc_.CurrentFolder() == folder) {
        return;
    }
    MoveRecordOfRow(doc_, *model_, currentIndex().row(), folder);
}

void CTegaloListView::RegisterSender() {
    if (LoadFocusedMessage() < 0) {
        return;
    }
    if (currentMessage_.from.find_first_not_of(' ') == std::string::npos) {
        Prompter().Message(this, QStringLiteral("差出人がありません"));
        return;
    }
    const StoreStatus status = doc_.RegAddress(SenderAddressEntry(currentMessage_.from), "addr", 1);
    static_cast<void>(status); // a refusal was shown by the store; the file is unchanged
}

void CTegaloListView::RunAddressBook() {
    addressBookDialog_.directory = doc_.BaseDir();
    addressBookDialog_.Prepare();
    addressBookDialog_.exec();
}

} // namespace tegalo
