#include "ui/SendMailMsg.h"

#include "gui/Prompter.h"
#include "gui/QtText.h"
#include "mime/AddressList.h"
#include "mime/Outgoing.h"
#include "mime/RecipientList.h"
#include "text/unicode.h"

#include <QAction>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>

namespace tegalo {

using namespace tegalo::literals;

namespace {

const QString kLineEnd = QStringLiteral("\r\n");

QString FromUtf8(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// The address selection's lines as a recipient field: name<address>,...
QString RecipientFieldOf(const QString& lines) {
    const QByteArray utf8 = lines.toUtf8();
    return FromUtf8(RecipientField(std::string_view(utf8.constData(), static_cast<std::size_t>(utf8.size()))));
}

// A recipient field with the picked recipients added after what it held.
QString WithPicked(const QString& field, const QString& picked) {
    QString kept = field.trimmed();
    while (kept.endsWith(QLatin1Char(','))) {
        kept.chop(1);
        kept = kept.trimmed();
    }
    if (picked.isEmpty()) {
        return field;
    }
    return kept.isEmpty() ? picked : kept + QLatin1Char(',') + picked;
}

// What stands in the attachment list for one line: the path, or the name of
// a stored attachment without its mark.
QString ShownAttachment(const QString& line) {
    const qsizetype mark = line.lastIndexOf(QChar(CSendMailMsg::kStoredAttachmentMark));
    return mark > 0 ? line.left(mark) : line;
}

// Appends to `problems` why `text` (the field `what`) cannot go out: the
// characters that have no Shift_JIS form, or, for a header field, a line
// break or control character.
void CheckField(const QString& text, const QString& what, bool header, QStringList& problems) {
    QStringList unmapped;
    const std::string sjis = ToSjis(text, &unmapped);
    unmapped.removeDuplicates();
    if (!unmapped.isEmpty()) {
        problems << what + QStringLiteral("に送れない文字があります: ") + unmapped.join(QLatin1Char(' '));
    }
    if (header) {
        if (const std::string problem = HeaderValueProblem(sjis, ToSjis(what)); !problem.empty()) {
            problems << FromSjis(problem);
        }
    }
}

// Appends to `problems` the recipient of `text` that cannot be read as an
// address ("name <address>", an address, or a group), with its text.
void CheckAddresses(const QString& text, const QString& what, QStringList& problems) {
    const AddressListParse list = ParseAddressList(ToSjis(text));
    if (!list.Ok()) {
        problems << what + QStringLiteral("のアドレスを読み取れません: ") + FromSjis(list.badText);
    }
}

} // namespace

CSendMailMsg::CSendMailMsg(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("メッセージ作成"));

    cut_ = new QPushButton(QStringLiteral("切取り"), this);
    cut_->setObjectName(QStringLiteral("1028"));
    copy_ = new QPushButton(QStringLiteral("ｺﾋﾟｰ"), this);
    copy_->setObjectName(QStringLiteral("1029"));
    paste_ = new QPushButton(QStringLiteral("貼付け"), this);
    paste_->setObjectName(QStringLiteral("1030"));
    toButton_ = new QPushButton(QStringLiteral("宛先："), this);
    toButton_->setObjectName(QStringLiteral("1039"));
    to_ = new QLineEdit(this);
    to_->setObjectName(QStringLiteral("1007"));
    ccButton_ = new QPushButton(QStringLiteral("ＣＣ："), this);
    ccButton_->setObjectName(QStringLiteral("1040"));
    cc_ = new QLineEdit(this);
    cc_->setObjectName(QStringLiteral("1008"));
    subject_ = new QLineEdit(this);
    subject_->setObjectName(QStringLiteral("1009"));
    attach_ = new QPushButton(QStringLiteral("添付"), this);
    attach_->setObjectName(QStringLiteral("1021"));
    attachments_ = new QListWidget(this);
    attachments_->setObjectName(QStringLiteral("1019"));
    // Three lines high; a long path gives way in the middle, so that its
    // file name always shows whole (the whole path is the line's tooltip).
    attachments_->setMaximumHeight((attachments_->fontMetrics().lineSpacing() + 6) * kMaxAttachments +
                                   2 * attachments_->frameWidth());
    attachments_->setTextElideMode(Qt::ElideMiddle);
    attachments_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    body_ = new QPlainTextEdit(this);
    body_->setObjectName(QStringLiteral("1010"));
    body_->setMinimumSize(420, 260);
    send_ = new QPushButton(QStringLiteral("送信"), this);
    send_->setObjectName(QStringLiteral("1006"));
    save_ = new QPushButton(QStringLiteral("保存"), this);
    save_->setObjectName(QStringLiteral("1013"));
    cancel_ = new QPushButton(QStringLiteral("ｷｬﾝｾﾙ"), this);
    cancel_->setObjectName(QStringLiteral("1031"));
    // No default button: Enter in a one-line field does nothing, rather than
    // ending the dialog and losing what was typed.
    for (QPushButton* button :
         {cut_, copy_, paste_, toButton_, ccButton_, attach_, send_, save_, cancel_}) {
        button->setAutoDefault(false);
        button->setDefault(false);
    }

    // The attachment list cannot be edited, but a line can be taken off it,
    // for instance a file that can no longer be read.
    auto* remove = new QAction(QStringLiteral("添付を外す"), attachments_);
    remove->setShortcut(QKeySequence::Delete);
    remove->setShortcutContext(Qt::WidgetShortcut);
    attachments_->addAction(remove);
    attachments_->setContextMenuPolicy(Qt::ActionsContextMenu);
    connect(remove, &QAction::triggered, this, [this] {
        if (attachments_->currentRow() >= 0) {
            RemoveAttachment(attachments_->currentRow());
        }
    });

    // Ctrl+Enter sends, from any field.
    auto* sendKey = new QAction(this);
    sendKey->setShortcuts({QKeySequence(Qt::CTRL | Qt::Key_Return), QKeySequence(Qt::CTRL | Qt::Key_Enter)});
    sendKey->setShortcutContext(Qt::WindowShortcut);
    addAction(sendKey);
    connect(sendKey, &QAction::triggered, this, &CSendMailMsg::Send);
    send_->setToolTip(QStringLiteral("Ctrl+Enter"));

    auto* layout = new QGridLayout(this);
    auto* editing = new QHBoxLayout;
    editing->addWidget(cut_);
    editing->addWidget(copy_);
    editing->addWidget(paste_);
    editing->addStretch();
    layout->addLayout(editing, 0, 0, 1, 2);
    layout->addWidget(toButton_, 1, 0);
    layout->addWidget(to_, 1, 1);
    layout->addWidget(ccButton_, 2, 0);
    layout->addWidget(cc_, 2, 1);
    layout->addWidget(new QLabel(QStringLiteral("主題："), this), 3, 0, Qt::AlignRight);
    layout->addWidget(subject_, 3, 1);
    layout->addWidget(attach_, 4, 0, Qt::AlignTop);
    layout->addWidget(attachments_, 4, 1);
    layout->addWidget(body_, 5, 0, 1, 2);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(send_);
    buttons->addWidget(save_);
    buttons->addWidget(cancel_);
    layout->addLayout(buttons, 6, 0, 1, 2);
    layout->setRowStretch(5, 1);

    connect(cut_, &QPushButton::clicked, body_, &QPlainTextEdit::cut);
    connect(copy_, &QPushButton::clicked, body_, &QPlainTextEdit::copy);
    connect(paste_, &QPushButton::clicked, body_, &QPlainTextEdit::paste);
    connect(toButton_, &QPushButton::clicked, this, &CSendMailMsg::ChooseRecipients);
    connect(ccButton_, &QPushButton::clicked, this, &CSendMailMsg::ChooseRecipients);
    connect(attach_, &QPushButton::clicked, this, &CSendMailMsg::Attach);
    connect(send_, &QPushButton::clicked, this, &CSendMailMsg::Send);
    connect(save_, &QPushButton::clicked, this, &CSendMailMsg::Save);
    connect(cancel_, &QPushButton::clicked, this, &CSendMailMsg::reject);
}

void CSendMailMsg::Prepare(bool again) {
    to_->setText(toText);
    cc_->setText(ccText);
    subject_->setText(subjectText);
    body_->setPlainText(bodyText);
    ShowAttachments();
    attachments_->setVisible(!attachText.isEmpty());
    to_->setFocus();
    if (!again) {
        opened_ = Snapshot();
    }
}

QStringList CSendMailMsg::Snapshot() const {
    return {to_->text(), cc_->text(), subject_->text(), body_->toPlainText(), attachText};
}

bool CSendMailMsg::Changed() const {
    return Snapshot() != opened_;
}

void CSendMailMsg::Collect() {
    toText = to_->text();
    ccText = cc_->text();
    subjectText = subject_->text();
    bodyText = body_->toPlainText();
}

void CSendMailMsg::Clear() {
    ccText.clear();
    bodyText.clear();
    subjectText.clear();
    toText.clear();
    attachText.clear();
}

QStringList CSendMailMsg::AttachmentLines() const {
    QStringList lines = attachText.split(kLineEnd);
    if (!lines.isEmpty() && lines.last().isEmpty()) {
        lines.removeLast();
    }
    return lines;
}

void CSendMailMsg::ShowAttachments() {
    attachments_->clear();
    for (const QString& line : AttachmentLines()) {
        attachments_->addItem(ShownAttachment(line));
        attachments_->item(attachments_->count() - 1)->setToolTip(ShownAttachment(line));
    }
}

void CSendMailMsg::Attach() {
    attachments_->setVisible(true);
    if (attachText.count(kLineEnd) >= kMaxAttachments) {
        Prompter().Message(this, QStringLiteral("添付ファイルは３件までです"));
        return;
    }
    const QString path = Prompter().ChooseFileToOpen(
        this, {QStringLiteral("Document Files(*.doc)"), QStringLiteral("Excel Files(*.xls)"),
               QStringLiteral("All.Files(*.*)")});
    if (path.isEmpty()) {
        return;
    }
    // A line break or the mark in a file name would split or disguise its line.
    if (path.contains(QLatin1Char('\r')) || path.contains(QLatin1Char('\n')) ||
        path.contains(QChar(kStoredAttachmentMark))) {
        Prompter().Message(this, QStringLiteral("このファイルは名前に改行や制御文字があるため添付できません"));
        return;
    }
    Collect();
    attachText += path + kLineEnd;
    ShowAttachments();
}

void CSendMailMsg::RemoveAttachment(int index) {
    QStringList lines = AttachmentLines();
    if (index < 0 || index >= lines.size()) {
        return;
    }
    lines.removeAt(index);
    attachText.clear();
    for (const QString& line : lines) {
        attachText += line + kLineEnd;
    }
    ShowAttachments();
}

void CSendMailMsg::ChooseRecipients() {
    addressDialog.Prepare();
    if (addressDialog.exec() != CAdrSelDlg::kOk) {
        return;
    }
    // The picked recipients join those already in the fields.
    to_->setText(WithPicked(to_->text(), RecipientFieldOf(addressDialog.toLines)));
    addressDialog.toLines.clear();
    cc_->setText(WithPicked(cc_->text(), RecipientFieldOf(addressDialog.ccLines)));
    addressDialog.ccLines.clear();
}

bool CSendMailMsg::Acceptable() {
    Collect();
    if (toText.isEmpty()) {
        Prompter().Message(this, QStringLiteral("宛先を入力してください"));
        to_->setFocus();
        return false;
    }
    if (subjectText.isEmpty()) {
        Prompter().Message(this, QStringLiteral("件名を入力してください"));
        subject_->setFocus();
        return false;
    }
    QStringList problems;
    CheckField(toText, QStringLiteral("宛先"), true, problems);
    CheckField(ccText, QStringLiteral("ＣＣ"), true, problems);
    CheckField(subjectText, QStringLiteral("件名"), true, problems);
    CheckField(bodyText, QStringLiteral("本文"), false, problems);
    if (!problems.isEmpty()) {
        Prompter().Message(this, problems.join(QLatin1Char('\n')) +
                                     QStringLiteral("\nこれらの文字を消すか、別の文字に置き換えてください"));
        return false;
    }
    CheckAddresses(toText, QStringLiteral("宛先"), problems);
    CheckAddresses(ccText, QStringLiteral("ＣＣ"), problems);
    if (!problems.isEmpty()) {
        Prompter().Message(this, problems.join(QLatin1Char('\n')));
        return false;
    }
    return true;
}

void CSendMailMsg::Send() {
    if (Acceptable()) {
        done(kSend);
    }
}

void CSendMailMsg::Save() {
    if (Acceptable()) {
        done(kSave);
    }
}

void CSendMailMsg::reject() {
    if (Changed()) {
        const int choice =
            Prompter().Choose(this, QStringLiteral("作成中のメッセージを破棄しますか"),
                              {QStringLiteral("破棄"), QStringLiteral("送信待ちに保存"), QStringLiteral("戻る")});
        if (choice == 1) {
            Save(); // stays open when the message cannot be saved as it is
            return;
        }
        if (choice != 0) {
            return;
        }
    }
    Clear();
    done(kCancel);
}

} // namespace tegalo
