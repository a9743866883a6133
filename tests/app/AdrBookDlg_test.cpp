// The address book dialog over a real ".\addr" in a temporary directory.
#include "text/unicode.h"
#include "ui/AdrBookDlg.h"

#include "support/ScriptedPrompter.h"

#include <QDir>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

#include <fstream>
#include <sstream>

using namespace tegalo;
using namespace tegalo::literals;
using namespace tegalo::testing_support;

class AdrBookDlgTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<ScriptedPrompter> prompter;
    std::unique_ptr<CAdrBookDlg> dialog;

    std::string Path(std::string_view name) const { return dir->path().toStdString() + "/" + std::string(name); }
    void WriteBook(std::string_view bytes) {
        std::ofstream(Path("addr"), std::ios::binary | std::ios::trunc)
            .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    std::string Book() const {
        std::ifstream in(Path("addr"), std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    // Reads the file and shows the dialog, as a run of it does.
    void Open() {
        dialog->Prepare();
        dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
    }
    QTreeWidget& list() { return *dialog->addressList(); }
    QString Cell(int row, int column) { return list().topLevelItem(row)->text(column); }
    QStringList Names() {
        QStringList names;
        for (int row = 0; row < list().topLevelItemCount(); ++row) {
            names << Cell(row, 0);
        }
        return names;
    }
    void ClickRow(int row) {
        const QRect rect = list().visualItemRect(list().topLevelItem(row));
        QTest::mouseClick(list().viewport(), Qt::LeftButton, {}, rect.center());
    }
    void Edit(const QString& name, const QString& address) {
        dialog->nameEdit()->setText(name);
        dialog->addressEdit()->setText(address);
    }

    // A, B and C in file order; the name of B is Japanese, C's address has a
    // comma, and the last line has no comma at all.
    const std::string book = "alice,alice@example.jp\r\n"
                             "山田 太郎 ,taro@example.jp\r\n"_sjis +
                             "list,\"a,b\"@example.jp\r\n"
                             "no comma here\r\n";

private slots:
    void init() {
        dir = std::make_unique<QTemporaryDir>();
        prompter = std::make_unique<ScriptedPrompter>();
        dialog = std::make_unique<CAdrBookDlg>();
        dialog->directory = dir->path().toStdString() + "/";
    }

    void cleanup() {
        dialog.reset();
        prompter.reset();
        dir.reset();
    }

    void showsTheFileBottomLineFirstAndSavesItBack() {
        WriteBook(book);
        Open();
        QCOMPARE(dialog->windowTitle(), QStringLiteral("アドレス帳"));
        QCOMPARE(list().headerItem()->text(0), QStringLiteral("名前"));
        QCOMPARE(list().headerItem()->text(1), QStringLiteral("電子メールアドレス"));
        QCOMPARE(list().header()->sectionSize(0), 100);
        QCOMPARE(list().header()->sectionSize(1), 150);
        QCOMPARE(Names(), (QStringList{QStringLiteral("no comma here"), QStringLiteral("list"),
                                       QStringLiteral("山田 太郎 "), QStringLiteral("alice")}));
        QCOMPARE(Cell(1, 1), QStringLiteral("\"a,b\"@example.jp"));
        QCOMPARE(Cell(0, 1), QString());
        QVERIFY(!dialog->saveButton()->isEnabled());
        QVERIFY(dialog->saveButton()->isDefault());

        // "修正" of every row with what it shows changes nothing; the save
        // writes the file as it was.
        for (int row = 0; row < 4; ++row) {
            ClickRow(row);
            QTest::mouseClick(dialog->modifyButton(), Qt::LeftButton);
        }
        QVERIFY(dialog->saveButton()->isEnabled());
        QTest::mouseClick(dialog->saveButton(), Qt::LeftButton);
        QCOMPARE(dialog->result(), int(CAdrBookDlg::kSaved));
        QVERIFY(!dialog->isVisible());
        QCOMPARE(Book(), book);
        QVERIFY(prompter->messages.isEmpty());
    }

    void bytesQtCannotShowSurviveASave() {
        const std::string odd = "\x81\xff name,\x80@example.jp\r\nbob,bob@example.org\r\n";
        WriteBook(odd);
        Open();
        ClickRow(0);
        Edit(QStringLiteral("robert"), QStringLiteral("bob@example.org"));
        QTest::mouseClick(dialog->modifyButton(), Qt::LeftButton);
        // A new address under a name that Qt shows with replacement marks:
        // the name keeps its bytes.
        ClickRow(1);
        dialog->addressEdit()->setText(QStringLiteral("new@example.jp"));
        QTest::mouseClick(dialog->modifyButton(), Qt::LeftButton);
        QVERIFY(prompter->messages.isEmpty());
        QTest::mouseClick(dialog->saveButton(), Qt::LeftButton);
        QCOMPARE(Book(), std::string("\x81\xff name,new@example.jp\r\nrobert,bob@example.org\r\n"));
    }

    void pickAndModify() {
        WriteBook(book);
        Open();
        ClickRow(2);
        QCOMPARE(dialog->selectedAddressRow, 2);
        QCOMPARE(dialog->nameEdit()->text(), QStringLiteral("山田 太郎 "));
        QCOMPARE(dialog->addressEdit()->text(), QStringLiteral("taro@example.jp"));
        Edit(QStringLiteral("山田 花子"), QStringLiteral("hanako@example.jp"));
        QTest::mouseClick(dialog->modifyButton(), Qt::LeftButton);
        QCOMPARE(Cell(2, 0), QStringLiteral("山田 花子"));
        QCOMPARE(Cell(2, 1), QStringLiteral("hanako@example.jp"));
        QVERIFY(dialog->saveButton()->isEnabled());
        QCOMPARE(Book(), book); // nothing is written before "保存"
        QTest::mouseClick(dialog->saveButton(), Qt::LeftButton);
        QCOMPARE(Book(), "alice,alice@example.jp\r\n"
                         "山田 花子,hanako@example.jp\r\n"_sjis +
                             "list,\"a,b\"@example.jp\r\n"
                             "no comma here\r\n");
    }

    void modifyRefusesWhatTheFileCannotHold_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("message");
        QTest::newRow("comma in the name") << QStringLiteral("Doe, John") << QStringLiteral("john@example.com")
                                           << QStringLiteral("名前に「,」は使えません");
        QTest::newRow("no Shift_JIS form") << QStringLiteral("Euro €") << QStringLiteral("x@example.com")
                                           << QStringLiteral("次の文字は使えません: €");
        QTest::newRow("no Shift_JIS form in the address")
            << QStringLiteral("alice") << QStringLiteral("😀@example.com") << QStringLiteral("次の文字は使えません: 😀");
    }

    void modifyRefusesWhatTheFileCannotHold() {
        QFETCH(QString, name);
        QFETCH(QString, address);
        QFETCH(QString, message);
        WriteBook(book);
        Open();
        ClickRow(3);
        Edit(name, address);
        QTest::mouseClick(dialog->modifyButton(), Qt::LeftButton);
        QCOMPARE(prompter->messages, QStringList{message});
        QCOMPARE(Cell(3, 0), QStringLiteral("alice"));
        QCOMPARE(Cell(3, 1), QStringLiteral("alice@example.jp"));
        QVERIFY(!dialog->saveButton()->isEnabled());
    }

    void deleteAsksWithTheRowsName() {
        WriteBook(book);
        Open();
        ClickRow(1);
        Edit(QStringLiteral("typed but not applied"), QString());
        prompter->answers.enqueue(false);
        QTest::mouseClick(dialog->deleteButton(), Qt::LeftButton);
        QCOMPARE(prompter->confirmations, QStringList{QStringLiteral("list を削除します。よろしいですか")});
        QCOMPARE(list().topLevelItemCount(), 4);
        QVERIFY(!dialog->saveButton()->isEnabled());

        prompter->answers.enqueue(true);
        QTest::mouseClick(dialog->deleteButton(), Qt::LeftButton);
        QCOMPARE(Names(), (QStringList{QStringLiteral("no comma here"), QStringLiteral("山田 太郎 "),
                                       QStringLiteral("alice")}));
        // The row that took the focus is picked.
        const int focused = list().indexOfTopLevelItem(list().currentItem());
        QCOMPARE(dialog->selectedAddressRow, focused);
        QCOMPARE(dialog->nameEdit()->text(), Cell(focused, 0));
        QVERIFY(dialog->saveButton()->isEnabled());
        QVERIFY(prompter->messages.isEmpty());
        QTest::mouseClick(dialog->saveButton(), Qt::LeftButton);
        QCOMPARE(Book(), "alice,alice@example.jp\r\n"
                         "山田 太郎 ,taro@example.jp\r\n"_sjis +
                             "no comma here\r\n");
    }

    void deletingTheOnlyRowCanBeSaved() {
        WriteBook("only,only@example.jp\r\n");
        Open();
        ClickRow(0);
        prompter->answers.enqueue(true);
        QTest::mouseClick(dialog->deleteButton(), Qt::LeftButton);
        QCOMPARE(list().topLevelItemCount(), 0);
        QCOMPARE(prompter->messages, QStringList{QStringLiteral("電文を選択してください")});
        QVERIFY(dialog->nameEdit()->text().isEmpty());
        // An empty book is a change too: leaving "保存" off would lose it.
        QVERIFY(dialog->saveButton()->isEnabled());
        QTest::mouseClick(dialog->deleteButton(), Qt::LeftButton);
        QCOMPARE(prompter->confirmations.size(), 1);
        QTest::mouseClick(dialog->saveButton(), Qt::LeftButton);
        QCOMPARE(Book(), std::string());
    }

    void cancelAfterModifyWritesNothing() {
        WriteBook(book);
        Open();
        ClickRow(0);
        Edit(QStringLiteral("changed"), QStringLiteral("changed@example.jp"));
        QTest::mouseClick(dialog->modifyButton(), Qt::LeftButton);
        QTest::mouseClick(dialog->cancelButton(), Qt::LeftButton);
        QCOMPARE(dialog->result(), int(CAdrBookDlg::kCancelled));
        QVERIFY(!dialog->isVisible());
        QCOMPARE(Book(), book);
        // The next run starts from the file again.
        Open();
        QCOMPARE(Cell(0, 0), QStringLiteral("no comma here"));
        QVERIFY(!dialog->saveButton()->isEnabled());
    }

    void thePickedRowOutlivesARun() {
        WriteBook(book);
        Open();
        ClickRow(2);
        QTest::mouseClick(dialog->cancelButton(), Qt::LeftButton);
        Open();
        QCOMPARE(dialog->selectedAddressRow, 2);
        QCOMPARE(list().currentItem(), list().topLevelItem(2));
        QCOMPARE(dialog->nameEdit()->text(), QStringLiteral("山田 太郎 "));
        QTest::mouseClick(dialog->cancelButton(), Qt::LeftButton);

        // When the file no longer has that row, nothing is picked and
        // "修正" cannot blank another row.
        WriteBook("alice,alice@example.jp\r\n");
        Open();
        QVERIFY(dialog->nameEdit()->text().isEmpty());
        QTest::mouseClick(dialog->modifyButton(), Qt::LeftButton);
        QCOMPARE(prompter->messages, QStringList{QStringLiteral("電文を選択してください")});
        QCOMPARE(Cell(0, 0), QStringLiteral("alice"));
        QVERIFY(!dialog->saveButton()->isEnabled());
    }

    void missingFile() {
        Open();
        QCOMPARE(prompter->messages, QStringList{QStringLiteral("アドレスファイルが開けません")});
        QCOMPARE(list().topLevelItemCount(), 0);
        QTest::mouseClick(list().viewport(), Qt::LeftButton, {}, QPoint(10, 10));
        QTest::mouseClick(dialog->deleteButton(), Qt::LeftButton);
        QCOMPARE(prompter->messages.mid(1), (QStringList{QStringLiteral("電文を選択してください"),
                                                         QStringLiteral("電文を選択してください")}));
        QVERIFY(prompter->confirmations.isEmpty());
        QVERIFY(!QDir(dir->path()).exists(QStringLiteral("addr")));
    }

    void failedSaveKeepsTheDialogAndTheFile() {
        WriteBook(book);
        QVERIFY(QDir(dir->path()).mkdir(QStringLiteral("addr.tmp")));
        Open();
        ClickRow(0);
        Edit(QStringLiteral("changed"), QString());
        QTest::mouseClick(dialog->modifyButton(), Qt::LeftButton);
        QTest::mouseClick(dialog->saveButton(), Qt::LeftButton);
        QCOMPARE(prompter->messages, QStringList{QStringLiteral("アドレスファイルが開けません")});
        QVERIFY(dialog->isVisible());
        QCOMPARE(Cell(0, 0), QStringLiteral("changed"));
        QCOMPARE(Book(), book);

        // Once the obstacle is gone the same working copy saves.
        QVERIFY(QDir(dir->path()).rmdir(QStringLiteral("addr.tmp")));
        QTest::mouseClick(dialog->saveButton(), Qt::LeftButton);
        QVERIFY(!dialog->isVisible());
        QCOMPARE(Book(), "alice,alice@example.jp\r\n"
                         "山田 太郎 ,taro@example.jp\r\n"_sjis +
                             "list,\"a,b\"@example.jp\r\n"
                             "changed\r\n");
    }
};

QTEST_MAIN(AdrBookDlgTest)
#include "AdrBookDlg_test.moc"
