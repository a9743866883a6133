#include "ui/MailMsg.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>

namespace tegalo {

CMailMsg::CMailMsg(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("受信メール電文"));
    auto* layout = new QVBoxLayout(this);

    auto* edit = new QHBoxLayout;
    auto* cut = new QPushButton(QStringLiteral("切取り"), this);
    auto* copy = new QPushButton(QStringLiteral("ｺﾋﾟｰ"), this);
    auto* paste = new QPushButton(QStringLiteral("貼付け"), this);
    for (QPushButton* b : {cut, copy, paste}) {
        b->setAutoDefault(false);
        edit->addWidget(b);
    }
    edit->addStretch();
    layout->addLayout(edit);

    header_ = new QLabel(this);
    header_->setTextFormat(Qt::PlainText);
    header_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(header_);

    auto* attachmentsRow = new QHBoxLayout;
    listLabel_ = new QLabel(QStringLiteral("添付"), this);
    list_ = new QListWidget(this);
    list_->setMaximumHeight(list_->fontMetrics().height() * 3 + 8);
    attachmentsRow->addWidget(listLabel_);
    attachmentsRow->addWidget(list_, 1);
    layout->addLayout(attachmentsRow);

    body_ = new QPlainTextEdit(this);
    body_->setMinimumSize(420, 300);
    layout->addWidget(body_, 1);

    auto* buttons = new QHBoxLayout;
    auto* reply = new QPushButton(QStringLiteral("返信"), this);
    auto* forward = new QPushButton(QStringLiteral("転送"), this);
    auto* print = new QPushButton(QStringLiteral("印刷"), this);
    saveOriginal_ = new QPushButton(QStringLiteral("元のメッセージを保存..."), this);
    auto* cancel = new QPushButton(QStringLiteral("ｷｬﾝｾﾙ"), this);
    for (QPushButton* b : {reply, forward, print, saveOriginal_, cancel}) {
        b->setAutoDefault(false);
        buttons->addWidget(b);
    }
    layout->addLayout(buttons);

    connect(cut, &QPushButton::clicked, body_, &QPlainTextEdit::cut);
    connect(copy, &QPushButton::clicked, body_, &QPlainTextEdit::copy);
    connect(paste, &QPushButton::clicked, body_, &QPlainTextEdit::paste);
    connect(reply, &QPushButton::clicked, this, [this] { done(kReply); });
    connect(forward, &QPushButton::clicked, this, [this] { done(kForward); });
    connect(print, &QPushButton::clicked, this, [this] { done(kPrint); });
    connect(saveOriginal_, &QPushButton::clicked, this, [this] { done(kSaveOriginal); });
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(list_, &QListWidget::itemDoubleClicked, this,
            [this](QListWidgetItem* item) { done(kFirstAttachment + list_->row(item)); });
}

void CMailMsg::Prepare() {
    header_->setText(viewerHeader);
    body_->setPlainText(viewerBody);
    saveOriginal_->setVisible(hasOriginal);
    list_->clear();
    listLabel_->setVisible(multipart);
    list_->setVisible(multipart);
    if (multipart) {
        list_->addItems(attachments);
    }
}

} // namespace tegalo
