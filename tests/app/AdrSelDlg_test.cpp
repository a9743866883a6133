// The address selection dialog: the lines of ".\addr.txt", the two boxes,
// and how OK, "ｷｬﾝｾﾙ" and Esc leave its members.
#include "text/unicode.h"
#include "ui/AdrSelDlg.h"

#include "support/ScriptedPrompter.h"

#include <QFile>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

using namespace tegalo;
using namespace tegalo::literals;
using namespace tegalo::testing_support;

class AdrSelDlgTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<ScriptedPrompter> prompter;
    std::unique_ptr<CAdrSelDlg> dialog;

    void WriteList(const std::string& bytes) {
        QFile file(dir->filePath(QStringLiteral("addr.txt")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(bytes.data(), static_cast<qint64>(bytes.size())), static_cast<qint64>(bytes.size()));
    }

    QStringList Items() {
        QStringList items;
        for (int i = 0; i < dialog->addressList()->count(); ++i) {
            items << dialog->addressList()->item(i)->text();
        }
        return items;
    }

private slots:
    void init() {
        dir = std::make_unique<QTemporaryDir>();
        prompter = std::make_unique<ScriptedPrompter>();
        dialog = std::make_unique<CAdrSelDlg>();
        dialog->directory = dir->path().toStdString() + "/";
    }

    void cleanup() {
        dialog.reset();
        prompter.reset();
        dir.reset();
    }

    void showsTheFileInOrder() {
        WriteList("花子,hanako@example.jp\r\nAlice,alice@example.jp\r\n\r\n次郎,jiro@example.jp"_sjis);
        dialog->Prepare();
        QCOMPARE(dialog->windowTitle(), QStringLiteral("宛先選択"));
        // Not sorted; the last line keeps its last character without a line end.
        QCOMPARE(Items(), (QStringList{QStringLiteral("花子,hanako@example.jp"), QStringLiteral("Alice,alice@example.jp"),
                                       QStringLiteral("次郎,jiro@example.jp")}));
        QVERIFY(prompter->messages.isEmpty());
        // Each run reads the file again.
        WriteList("only,one@example.jp\r\n");
        dialog->Prepare();
        QCOMPARE(Items(), QStringList{QStringLiteral("only,one@example.jp")});
    }

    void addressBookEntriesFollowTheListsLines() {
        // A hand-written line in UTF-8 among Shift_JIS ones.
        WriteList("花子,hanako@example.jp\r\n"_sjis + "次郎,jiro@example.jp\r\n");
        // Registered senders live in the address book; a name alone, an
        // empty address and a line the list already has are not offered.
        QFile book(dir->filePath(QStringLiteral("addr")));
        QVERIFY(book.open(QIODevice::WriteOnly));
        const std::string entries = "山田 ,yamada@example.jp\r\n花子,hanako@example.jp\r\nname only\r\nempty,\r\n"
                                    "Bob,bob@example.com\r\n"_sjis;
        book.write(entries.data(), static_cast<qint64>(entries.size()));
        book.close();
        dialog->Prepare();
        QCOMPARE(Items(), (QStringList{QStringLiteral("花子,hanako@example.jp"), QStringLiteral("次郎,jiro@example.jp"),
                                       QStringLiteral("山田 ,yamada@example.jp"), QStringLiteral("Bob,bob@example.com")}));
        // Without the list file the address book is still offered.
        QFile::remove(dir->filePath(QStringLiteral("addr.txt")));
        dialog->Prepare();
        QCOMPARE(prompter->messages, QStringList{QStringLiteral("アドレスファイルが開けません")});
        QCOMPARE(Items().size(), 3);
    }

    void aMissingFileIsReported() {
        dialog->toLines = QStringLiteral("kept,k@example.jp\r\n");
        dialog->Prepare();
        QCOMPARE(prompter->messages, QStringList{QStringLiteral("アドレスファイルが開けません")});
        QCOMPARE(dialog->addressList()->count(), 0);
        QCOMPARE(dialog->toBox()->toPlainText(), QStringLiteral("kept,k@example.jp\n"));
    }

    void theArrowsAppendTheSelectedLine() {
        WriteList("A,a@example.jp\r\nB,b@example.jp\r\n");
        dialog->Prepare();
        dialog->toButton()->click();
        dialog->ccButton()->click();
        QCOMPARE(prompter->messages, QStringList(2, QStringLiteral("アドレスの選択をして下さい")));
        QCOMPARE(dialog->toBox()->toPlainText(), QString());
        QCOMPARE(dialog->ccBox()->toPlainText(), QString());

        dialog->addressList()->setCurrentRow(1);
        dialog->toButton()->click();
        dialog->toButton()->click(); // the same line twice: no check for duplicates
        dialog->addressList()->setCurrentRow(0);
        dialog->ccButton()->click();
        // A line typed without Enter stays a line of its own.
        dialog->ccBox()->setPlainText(dialog->ccBox()->toPlainText() + QStringLiteral("typed,t@example.jp"));
        dialog->ccButton()->click();
        dialog->okButton()->click();
        QCOMPARE(dialog->result(), int(CAdrSelDlg::kOk));
        QCOMPARE(dialog->toLines, QStringLiteral("B,b@example.jp\r\nB,b@example.jp\r\n"));
        QCOMPARE(dialog->ccLines, QStringLiteral("A,a@example.jp\r\ntyped,t@example.jp\r\nA,a@example.jp\r\n"));
    }

    void okWithEmptyBoxesGivesEmptyLines() {
        WriteList("A,a@example.jp\r\n");
        dialog->Prepare();
        dialog->okButton()->click();
        QCOMPARE(dialog->result(), int(CAdrSelDlg::kOk));
        QCOMPARE(dialog->toLines, QString());
        QCOMPARE(dialog->ccLines, QString());
    }

    void cancelEmptiesTheMembersAndEscKeepsThem() {
        WriteList("A,a@example.jp\r\n");
        dialog->toLines = QStringLiteral("A,a@example.jp\r\n");
        dialog->ccLines = QStringLiteral("A,a@example.jp\r\n");
        dialog->Prepare();
        dialog->show();
        QTest::keyClick(dialog->addressList(), Qt::Key_Escape);
        QCOMPARE(dialog->result(), int(QDialog::Rejected));
        QCOMPARE(dialog->toLines, QStringLiteral("A,a@example.jp\r\n"));
        QCOMPARE(dialog->ccLines, QStringLiteral("A,a@example.jp\r\n"));

        dialog->Prepare();
        dialog->cancelButton()->click();
        QCOMPARE(dialog->result(), int(CAdrSelDlg::kCancelled));
        QCOMPARE(dialog->toLines, QString());
        QCOMPARE(dialog->ccLines, QString());
    }
};

QTEST_MAIN(AdrSelDlgTest)
#include "AdrSelDlg_test.moc"
