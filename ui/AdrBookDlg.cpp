#include "ui/AdrBookDlg.h"

#include "gui/Prompter.h"
#include "gui/QtText.h"
#include "store/AddressBook.h"

#include <QByteArray>
#include <QEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QTreeWidget>

#include <vector>

namespace tegalo {

namespace {

constexpr std::string_view kAddressFile = "addr";

const QString kCannotOpen = QStringLiteral("アドレスファイルが開けません");
const QString kSelectRow = QStringLiteral("電文を選択してください");

// Each row keeps the bytes it was read with, so that a row the user did not
// change is written back exactly, whatever Qt makes of its text.
enum RowData : int {
    kNameBytes = Qt::UserRole,
    kAddressBytes = Qt::UserRole + 1,
    kHasComma = Qt::UserRole + 2,
};

QByteArray Bytes(const std::string& text) {
    return QByteArray(text.data(), static_cast<qsizetype>(text.size()));
}

std::string BytesOf(const QTreeWidgetItem* item, int role) {
    const QByteArray bytes = item->data(0, role).toByteArray();
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

void SetRow(QTreeWidgetItem* item, const AddressEntry& entry) {
    item->setText(0, FromSjis(entry.name));
    item->setText(1, FromSjis(entry.address));
    item->setData(0, kNameBytes, Bytes(entry.name));
    item->setData(0, kAddressBytes, Bytes(entry.address));
    item->setData(0, kHasComma, entry.comma);
}

AddressEntry EntryOf(const QTreeWidgetItem* item) {
    return AddressEntry{BytesOf(item, kNameBytes), BytesOf(item, kAddressBytes), item->data(0, kHasComma).toBool()};
}

// The Shift_JIS form of an edit's text; a text the user left as the row
// shows it keeps the row's bytes.
std::string EditBytes(const QLineEdit* edit, const QString& shown, const std::string& stored,
                      QStringList& unmapped) {
    if (edit->text() == shown) {
        return stored;
    }
    QStringList missing;
    std::string bytes = ToSjis(edit->text(), &missing);
    unmapped += missing;
    return bytes;
}

} // namespace

CAdrBookDlg::CAdrBookDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("アドレス帳"));

    name_ = new QLineEdit(this);
    name_->setObjectName(QStringLiteral("1045"));
    address_ = new QLineEdit(this);
    address_->setObjectName(QStringLiteral("1046"));
    modify_ = new QPushButton(QStringLiteral("修正"), this);
    modify_->setObjectName(QStringLiteral("1047"));
    delete_ = new QPushButton(QStringLiteral("削除"), this);
    delete_->setObjectName(QStringLiteral("1048"));
    save_ = new QPushButton(QStringLiteral("保存"), this);
    save_->setObjectName(QStringLiteral("1050"));
    cancel_ = new QPushButton(QStringLiteral("ｷｬﾝｾﾙ"), this);
    cancel_->setObjectName(QStringLiteral("1051"));
    for (QPushButton* button : {modify_, delete_, cancel_}) {
        button->setAutoDefault(false);
    }
    save_->setDefault(true);
    save_->setEnabled(false);

    list_ = new QTreeWidget(this);
    list_->setObjectName(QStringLiteral("1049"));
    list_->setColumnCount(2);
    list_->setHeaderLabels({QStringLiteral("名前"), QStringLiteral("電子メールアドレス")});
    list_->header()->setStretchLastSection(false);
    list_->setColumnWidth(0, 100);
    list_->setColumnWidth(1, 150);
    list_->setRootIsDecorated(false);
    list_->setItemsExpandable(false);
    list_->setUniformRowHeights(true);
    list_->setAllColumnsShowFocus(true);
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->setSelectionBehavior(QAbstractItemView::SelectRows);
    list_->viewport()->installEventFilter(this);

    auto* layout = new QGridLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("名前"), this), 0, 0);
    layout->addWidget(name_, 0, 1);
    layout->addWidget(modify_, 0, 2);
    layout->addWidget(new QLabel(QStringLiteral("アドレス"), this), 1, 0);
    layout->addWidget(address_, 1, 1);
    layout->addWidget(delete_, 1, 2);
    layout->addWidget(list_, 2, 0, 1, 3);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(save_);
    buttons->addWidget(cancel_);
    layout->addLayout(buttons, 3, 0, 1, 3);
    resize(300, 290);

    connect(modify_, &QPushButton::clicked, this, &CAdrBookDlg::Modify);
    connect(delete_, &QPushButton::clicked, this, &CAdrBookDlg::Delete);
    connect(save_, &QPushButton::clicked, this, &CAdrBookDlg::Save);
    connect(cancel_, &QPushButton::clicked, this, &CAdrBookDlg::Cancel);
}

bool CAdrBookDlg::eventFilter(QObject* watched, QEvent* event) {
    // A click anywhere in the list picks the focused row, also a click
    // beside the rows.
    if (watched == list_->viewport() && event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        Pick();
    }
    return QDialog::eventFilter(watched, event);
}

void CAdrBookDlg::Prepare() {
    list_->clear();
    name_->clear();
    address_->clear();
    save_->setEnabled(false);
    std::vector<AddressEntry> entries;
    if (const int error = ReadAddressBook(directory, kAddressFile, entries); error != 0) {
        qDebug("Can't open file %s, error = %d", (directory + std::string(kAddressFile)).c_str(), error);
        Prompter().Message(this, kCannotOpen);
        return;
    }
    for (const AddressEntry& entry : entries) {
        auto* item = new QTreeWidgetItem;
        SetRow(item, entry);
        list_->insertTopLevelItem(0, item);
    }
    if (PickedRowExists()) {
        list_->setCurrentItem(list_->topLevelItem(selectedAddressRow));
        ShowRow(selectedAddressRow);
    }
}

bool CAdrBookDlg::PickedRowExists() const {
    return selectedAddressRow >= 0 && selectedAddressRow < list_->topLevelItemCount();
}

void CAdrBookDlg::ShowRow(int row) {
    const QTreeWidgetItem* item = list_->topLevelItem(row);
    name_->setText(item->text(0));
    address_->setText(item->text(1));
}

void CAdrBookDlg::Pick() {
    QTreeWidgetItem* focused = list_->currentItem();
    if (focused == nullptr) {
        Prompter().Message(this, kSelectRow);
        return;
    }
    selectedAddressRow = list_->indexOfTopLevelItem(focused);
    ShowRow(selectedAddressRow);
}

void CAdrBookDlg::Modify() {
    if (!PickedRowExists()) {
        Prompter().Message(this, kSelectRow);
        return;
    }
    QTreeWidgetItem* item = list_->topLevelItem(selectedAddressRow);
    AddressEntry entry = EntryOf(item);
    QStringList unmapped;
    entry.name = EditBytes(name_, item->text(0), entry.name, unmapped);
    entry.address = EditBytes(address_, item->text(1), entry.address, unmapped);
    if (!unmapped.isEmpty()) {
        Prompter().Message(this, QStringLiteral("次の文字は使えません: ") + unmapped.join(QLatin1Char(' ')));
        return;
    }
    // Everything after the first comma of a line is the address, so a comma
    // in the name would move part of it into the address on the next read.
    if (entry.name.find(',') != std::string::npos) {
        Prompter().Message(this, QStringLiteral("名前に「,」は使えません"));
        name_->setFocus();
        return;
    }
    if (!StorableAddressEntry(entry)) {
        Prompter().Message(this, QStringLiteral("改行は使えません"));
        return;
    }
    SetRow(item, entry);
    save_->setEnabled(true);
}

void CAdrBookDlg::Delete() {
    if (!PickedRowExists()) {
        Prompter().Message(this, kSelectRow);
        return;
    }
    // The question names the row that goes, whatever the edits hold now.
    QTreeWidgetItem* item = list_->topLevelItem(selectedAddressRow);
    if (!Prompter().Confirm(this, item->text(0) + QStringLiteral(" を削除します。よろしいですか"))) {
        return;
    }
    delete list_->takeTopLevelItem(selectedAddressRow);
    // The deletion is a change to save, also when it emptied the list.
    save_->setEnabled(true);
    if (list_->currentItem() == nullptr) {
        name_->clear();
        address_->clear();
        Prompter().Message(this, kSelectRow);
        return;
    }
    Pick();
}

void CAdrBookDlg::Save() {
    std::vector<AddressEntry> entries;
    const int rows = list_->topLevelItemCount();
    entries.reserve(static_cast<std::size_t>(rows));
    for (int row = rows - 1; row >= 0; --row) {
        entries.push_back(EntryOf(list_->topLevelItem(row)));
    }
    if (const int error = WriteAddressBook(directory, kAddressFile, entries); error != 0) {
        qDebug("Can't write file %s, error = %d", (directory + std::string(kAddressFile)).c_str(), error);
        Prompter().Message(this, kCannotOpen);
        return;
    }
    done(kSaved);
}

void CAdrBookDlg::Cancel() {
    done(kCancelled);
}

} // namespace tegalo
