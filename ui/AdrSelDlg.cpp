#include "ui/AdrSelDlg.h"

#include "gui/Prompter.h"
#include "gui/QtText.h"
#include "mime/RecipientList.h"
#include "store/AddressBook.h"
#include "store/FileIo.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>

#include <algorithm>

namespace tegalo {

namespace {

constexpr std::string_view kRecipientFile = "addr.txt";

// The boxes show line ends as Qt writes them; the members keep CR LF.
QString BoxText(const QString& lines) {
    QString text = lines;
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return text;
}

QString MemberText(const QPlainTextEdit* box) {
    QString text = box->toPlainText();
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
    return text;
}

} // namespace

CAdrSelDlg::CAdrSelDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("宛先選択"));

    list_ = new QListWidget(this);
    list_->setObjectName(QStringLiteral("1034"));
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    toButton_ = new QPushButton(QStringLiteral("宛先→"), this);
    toButton_->setObjectName(QStringLiteral("1037"));
    ccButton_ = new QPushButton(QStringLiteral("CC→"), this);
    ccButton_->setObjectName(QStringLiteral("1038"));
    toBox_ = new QPlainTextEdit(this);
    toBox_->setObjectName(QStringLiteral("1041"));
    ccBox_ = new QPlainTextEdit(this);
    ccBox_->setObjectName(QStringLiteral("1042"));
    ok_ = new QPushButton(QStringLiteral("OK"), this);
    ok_->setObjectName(QStringLiteral("1043"));
    cancel_ = new QPushButton(QStringLiteral("ｷｬﾝｾﾙ"), this);
    cancel_->setObjectName(QStringLiteral("1044"));
    for (QPushButton* button : {toButton_, ccButton_, cancel_}) {
        button->setAutoDefault(false);
    }
    ok_->setDefault(true);

    auto* layout = new QGridLayout(this);
    layout->addWidget(list_, 0, 0, 2, 1);
    layout->addWidget(toButton_, 0, 1, Qt::AlignTop);
    layout->addWidget(toBox_, 0, 2);
    layout->addWidget(ccButton_, 1, 1, Qt::AlignTop);
    layout->addWidget(ccBox_, 1, 2);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok_);
    buttons->addWidget(cancel_);
    layout->addLayout(buttons, 2, 0, 1, 3);
    resize(420, 300);

    connect(toButton_, &QPushButton::clicked, this, &CAdrSelDlg::AddTo);
    connect(ccButton_, &QPushButton::clicked, this, &CAdrSelDlg::AddCc);
    connect(ok_, &QPushButton::clicked, this, &CAdrSelDlg::Ok);
    connect(cancel_, &QPushButton::clicked, this, &CAdrSelDlg::Cancel);
}

void CAdrSelDlg::Prepare() {
    list_->clear();
    toBox_->setPlainText(BoxText(toLines));
    ccBox_->setPlainText(BoxText(ccLines));
    std::string content;
    std::vector<std::string> lines;
    if (const int error = ReadWholeFile(directory + std::string(kRecipientFile), content); error != 0) {
        qDebug("Can't open file %s, error = %d", (directory + std::string(kRecipientFile)).c_str(), error);
        Prompter().Message(this, QStringLiteral("アドレスファイルが開けません"));
    } else {
        lines = RecipientListLines(content);
    }
    // After the list's own lines: the address book, where registered
    // senders go, each entry once and only with an address.
    std::vector<AddressEntry> book;
    if (ReadAddressBook(directory, "addr", book) == 0) {
        for (const AddressEntry& entry : book) {
            const std::string line = entry.name + "," + entry.address;
            if (entry.comma && entry.address.find_first_not_of(' ') != std::string::npos &&
                std::find(lines.begin(), lines.end(), line) == lines.end()) {
                lines.push_back(line);
            }
        }
    }
    for (const std::string& line : lines) {
        list_->addItem(FromSjis(line));
    }
}

void CAdrSelDlg::AddSelectedTo(QPlainTextEdit* box) {
    const QList<QListWidgetItem*> selected = list_->selectedItems();
    if (selected.isEmpty()) {
        Prompter().Message(this, QStringLiteral("アドレスの選択をして下さい"));
        return;
    }
    QString text = box->toPlainText();
    // A line the user typed without pressing Enter stays a line of its own.
    if (!text.isEmpty() && !text.endsWith(QLatin1Char('\n'))) {
        text += QLatin1Char('\n');
    }
    box->setPlainText(text + selected.first()->text() + QLatin1Char('\n'));
}

void CAdrSelDlg::AddTo() {
    AddSelectedTo(toBox_);
}

void CAdrSelDlg::AddCc() {
    AddSelectedTo(ccBox_);
}

void CAdrSelDlg::Ok() {
    toLines = MemberText(toBox_);
    ccLines = MemberText(ccBox_);
    done(kOk);
}

void CAdrSelDlg::Cancel() {
    toLines.clear();
    ccLines.clear();
    done(kCancelled);
}

} // namespace tegalo
