// The list's commands that change the store: the Delete key, the four moves,
// registering the sender, and the address book command.
#include "gui/Commands.h"
#include "app/MainFrm.h"
#include "app/TegaloApp.h"
#include "app/TegaloTreeView.h"
#include "store/Record.h"
#include "store/TegaloDoc.h"
#include "text/unicode.h"
#include "ui/AdrBookDlg.h"
#include "ui/RecordListModel.h"
#include "ui/TegaloListView.h"

#include "support/ScriptedPrompter.h"
#include "support/TestMailbox.h"
#include "support/WindowUnderTest.h"

#include <QApplication>
#include <QDir>
#include <QKeyEvent>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

using namespace tegalo;
using namespace tegalo::literals;
using namespace tegalo::testing_support;

namespace {

TestMessage Message(const std::string& subject, const std::string& sender = "someone@example.jp") {
    TestMessage m;
    m.subject = subject;
    m.sender = sender;
    m.date = "Mon, 07 Dec 2026 10:00:00 +0900";
    m.header = "Subject: " + subject + "\r\n\r\n";
    m.body = "body of " + subject + "\r\n";
    return m;
}

// A folder file holding these messages, oldest first.
std::string FolderFile(const std::vector<TestMessage>& messages) {
    std::string file = FormatField(static_cast<int>(messages.size()));
    for (const TestMessage& m : messages) {
        file += MakeRecord(m);
    }
    return file;
}

const std::string kEmptyFolder = "     0";

// Counts the Delete keys that reach a widget.
class DeleteKeyCounter : public QObject {
public:
    int count = 0;
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Delete) {
            ++count;
        }
        return false;
    }
};

} // namespace

class MoveDeleteRegisterTest : public QObject, protected WindowUnderTest {
    Q_OBJECT

private:
    const TestMessage a = Message("A");
    const TestMessage b = Message("B");
    const TestMessage c = Message("C");

    QStringList Subjects() {
        QStringList subjects;
        for (int row = 0; row < rows().rowCount(); ++row) {
            subjects << rows().index(row, 0).data().toString();
        }
        return subjects;
    }
    void Show(int folder) {
        frame().treeView()->setCurrentItem(frame().treeView()->ItemForFolder(folder));
        QCOMPARE(app->doc().CurrentFolder(), folder);
    }
    void Focus(int row) { list().setCurrentIndex(rows().index(row, 0)); }
    // The four folder files, to check that a command changed nothing.
    std::vector<std::string> Files() {
        return {box->Read("recv"), box->Read("reserv"), box->Read("sent"), box->Read("recycle")};
    }

private slots:
    void init() {
        OpenWindowTest();
    }

    void cleanup() { CloseWindowTest(); }

    void deleteKeyMovesToTheDeletedFolder() {
        box->Add("recv", {a, b, c});
        Start();
        QCOMPARE(Subjects(), (QStringList{QStringLiteral("C"), QStringLiteral("B"), QStringLiteral("A")}));
        QSignalSpy resets(&rows(), &QAbstractItemModel::modelReset);
        QSignalSpy removals(&rows(), &QAbstractItemModel::rowsRemoved);
        Focus(2);
        prompter->answers.enqueue(true);
        QTest::keyClick(&list(), Qt::Key_Delete);
        // The question names the message.
        QCOMPARE(prompter->confirmations, QStringList{QStringLiteral("「A」を削除フォルダーへ移します。よろしいですか")});
        // The bottom row is the oldest record, index 0.
        QCOMPARE(box->Read("recv"), FolderFile({b, c}));
        QCOMPARE(box->Read("recycle"), FolderFile({a}));
        QCOMPARE(Subjects(), (QStringList{QStringLiteral("C"), QStringLiteral("B")}));
        QCOMPARE(removals.size(), 1);
        QCOMPARE(resets.size(), 0);
        QVERIFY(prompter->messages.isEmpty());
        // Other keys still reach the list.
        Focus(0);
        QTest::keyClick(&list(), Qt::Key_Down);
        QCOMPARE(list().currentIndex().row(), 1);
        QCOMPARE(prompter->confirmations.size(), 1);
    }

    void deleteConfirmationOfTheFirstRowAndCancel() {
        box->Add("recv", {a, b, c});
        Start();
        const std::vector<std::string> before = Files();
        DeleteKeyCounter beyondTheList;
        list().parentWidget()->installEventFilter(&beyondTheList);
        Focus(0);
        prompter->answers.enqueue(false);
        QTest::keyClick(&list(), Qt::Key_Delete);
        QCOMPARE(prompter->confirmations, QStringList{QStringLiteral("「C」を削除フォルダーへ移します。よろしいですか")});
        QCOMPARE(Files(), before);
        QCOMPARE(rows().rowCount(), 3);
        // The list's own handling had the key too: it leaves Delete to its parent.
        QCOMPARE(beyondTheList.count, 1);
        list().parentWidget()->removeEventFilter(&beyondTheList);
    }

    void deleteInTheDeletedFolderIsForGood() {
        box->Write("recycle", FolderFile({a, b}));
        Start();
        Show(kDeleted);
        const std::string recv = box->Read("recv");
        Focus(0);
        prompter->answers.enqueue(true);
        QTest::keyClick(&list(), Qt::Key_Delete);
        // There the question says that it cannot be undone.
        QCOMPARE(prompter->confirmations,
                 QStringList{QStringLiteral("「B」を完全に消去します。削除フォルダーから消去したメッセージは元に戻せません。よろしいですか")});
        QCOMPARE(box->Read("recycle"), FolderFile({a}));
        QCOMPARE(box->Read("recv"), recv);
        QCOMPARE(box->Read("reserv"), kEmptyFolder);
        QCOMPARE(box->Read("sent"), kEmptyFolder);
        QCOMPARE(Subjects(), QStringList{QStringLiteral("A")});
    }

    void deleteWithoutRowsDoesNothing() {
        Start();
        QTest::keyClick(&list(), Qt::Key_Delete);
        QVERIFY(prompter->confirmations.isEmpty());
        QVERIFY(prompter->messages.isEmpty());
    }

    void moveCommands_data() {
        QTest::addColumn<int>("shown");
        QTest::addColumn<int>("command");
        QTest::addColumn<QString>("target");
        QTest::newRow("received to waiting") << int(kReceived) << int(ID_MOVE_TO_WAITING) << QStringLiteral("reserv");
        QTest::newRow("received to sent") << int(kReceived) << int(ID_MOVE_TO_SENT) << QStringLiteral("sent");
        QTest::newRow("received to deleted") << int(kReceived) << int(ID_MOVE_TO_DELETED) << QStringLiteral("recycle");
        QTest::newRow("waiting to deleted") << int(kWaiting) << int(ID_MOVE_TO_DELETED) << QStringLiteral("recycle");
        QTest::newRow("deleted back to received") << int(kDeleted) << int(ID_MOVE_TO_RECEIVED) << QStringLiteral("recv");
    }

    void moveCommands() {
        QFETCH(int, shown);
        QFETCH(int, command);
        QFETCH(QString, target);
        const std::string source(FolderName(shown));
        box->Write(source, FolderFile({a, b, c}));
        Start();
        Show(shown);
        QSignalSpy resets(&rows(), &QAbstractItemModel::modelReset);
        Focus(1);
        frame().OnCommand(command);
        QCOMPARE(box->Read(source), FolderFile({a, c}));
        QCOMPARE(box->Read(target.toStdString()), FolderFile({b}));
        QCOMPARE(Subjects(), (QStringList{QStringLiteral("C"), QStringLiteral("A")}));
        QCOMPARE(resets.size(), 0);
        QVERIFY(prompter->messages.isEmpty());
    }

    void moveToTheShownFolderDoesNothing() {
        box->Add("recv", {a, b});
        Start();
        const std::vector<std::string> before = Files();
        Focus(0);
        frame().OnCommand(ID_MOVE_TO_RECEIVED);
        QCOMPARE(Files(), before);
        QCOMPARE(rows().rowCount(), 2);
        QVERIFY(prompter->messages.isEmpty());
    }

    void moveWithoutRowsAsksForOne() {
        Start();
        frame().OnCommand(ID_MOVE_TO_SENT);
        QCOMPARE(prompter->messages, QStringList{QStringLiteral("電文を選択してください")});
    }

    void failedMoveOrDeleteKeepsTheRow() {
        box->Add("recv", {a, b});
        box->Write("recycle", FolderFile({c}));
        box->Remove("sent");
        Start();
        Focus(0);
        frame().OnCommand(ID_MOVE_TO_SENT);
        QCOMPARE(prompter->messages.size(), 1);
        QVERIFY(prompter->messages[0].startsWith(QStringLiteral("ファイルが開けません")));
        QCOMPARE(box->Read("recv"), FolderFile({a, b}));
        QCOMPARE(Subjects(), (QStringList{QStringLiteral("B"), QStringLiteral("A")}));

        // The deleted folder's file goes away while it is shown.
        Show(kDeleted);
        box->Remove("recycle");
        Focus(0);
        prompter->answers.enqueue(true);
        QTest::keyClick(&list(), Qt::Key_Delete);
        QCOMPARE(prompter->messages.size(), 2);
        QCOMPARE(Subjects(), QStringList{QStringLiteral("C")});
    }

    void registerSender_data() {
        QTest::addColumn<QByteArray>("sender");
        QTest::addColumn<QByteArray>("line");
        const std::string taro = "山田 太郎 <taro@example.jp>"_sjis;
        const std::string taroLine = "山田 太郎 ,taro@example.jp\r\n"_sjis;
        QTest::newRow("name, blank and address in brackets")
            << QByteArray::fromStdString(taro) << QByteArray::fromStdString(taroLine);
        QTest::newRow("bare address is name and address")
            << QByteArray("bob@example.org") << QByteArray("bob@example.org,bob@example.org\r\n");
    }

    void registerSender() {
        QFETCH(QByteArray, sender);
        QFETCH(QByteArray, line);
        // The sender is on the oldest message, the bottom row.
        box->Add("recv", {Message("A", sender.toStdString()), b});
        box->Write("addr", "zed,zed@example.jp\r\n");
        Start();
        Focus(1);
        frame().OnCommand(ID_REGISTER_SENDER);
        QVERIFY(prompter->messages.isEmpty());
        QCOMPARE(QByteArray::fromStdString(box->Read("addr")), line + "zed,zed@example.jp\r\n");
    }

    void registerAKnownNameChangesNothing() {
        box->Add("recv", {Message("A", "Ann <ann@example.jp>")});
        const std::string book = "Ann ,old@example.jp\r\nbob,bob@example.org\r\n";
        box->Write("addr", book);
        Start();
        Focus(0);
        frame().OnCommand(ID_REGISTER_SENDER);
        QCOMPARE(prompter->messages, QStringList{QStringLiteral("既に同名の登録があります")});
        QCOMPARE(box->Read("addr"), book);
    }

    void registerNeedsARowAndASender() {
        box->Add("recv", {Message("A", "")});
        box->Write("addr", "");
        Start();
        list().setCurrentIndex(QModelIndex());
        frame().OnCommand(ID_REGISTER_SENDER);
        QCOMPARE(prompter->messages, QStringList{QStringLiteral("電文を選択してください")});
        Focus(0);
        frame().OnCommand(ID_REGISTER_SENDER);
        QCOMPARE(prompter->messages.size(), 2);
        QCOMPARE(prompter->messages[1], QStringLiteral("差出人がありません"));
        QCOMPARE(box->Read("addr"), std::string());
    }

    void addressBookCommandRunsTheDialogOnTheMailbox() {
        box->Write("addr", "first,1@example.jp\r\nsecond,2@example.jp\r\n");
        Start();
        QStringList shown;
        QTimer::singleShot(0, [&shown] {
            auto* dialog = qobject_cast<CAdrBookDlg*>(QApplication::activeModalWidget());
            if (dialog == nullptr) {
                return;
            }
            for (int row = 0; row < dialog->addressList()->topLevelItemCount(); ++row) {
                shown << dialog->addressList()->topLevelItem(row)->text(0);
            }
            dialog->cancelButton()->click();
        });
        frame().OnCommand(ID_ADDRESS_BOOK);
        QCOMPARE(shown, (QStringList{QStringLiteral("second"), QStringLiteral("first")}));
        QCOMPARE(list().addressBookDialog().result(), int(CAdrBookDlg::kCancelled));
    }
};

QTEST_MAIN(MoveDeleteRegisterTest)
#include "MoveDeleteRegister_test.moc"
