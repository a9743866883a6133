// The main window as a user meets it: the folder tree, the message list,
// the viewer, printing, help and the settings dialog.
#include "gui/Commands.h"
#include "app/MainFrm.h"
#include "app/TegaloApp.h"
#include "session/MailSessions.h"
#include "app/TegaloTreeView.h"
#include "store/Attachments.h"
#include "store/Record.h"
#include "store/TegaloDoc.h"
#include "text/unicode.h"
#include "gui/Printing.h"
#include "gui/QtText.h"
#include "ui/RecordListModel.h"
#include "ui/TegaloListView.h"

#include "support/ScriptedPrompter.h"
#include "support/TestMailbox.h"
#include "support/WindowUnderTest.h"

#include <QAction>
#include <QCheckBox>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace tegalo;
using namespace tegalo::literals;
using namespace tegalo::testing_support;

namespace {

TestMessage Message(const std::string& subjectUtf8, const std::string& sender, bool read = false) {
    TestMessage m;
    m.subject = SjisLiteral(subjectUtf8);
    m.sender = sender;
    m.date = "Mon, 07 Dec 2026 10:00:00 +0900";
    m.header = "Subject: x\r\n\r\n";
    m.body = SjisLiteral(subjectUtf8 + "の本文\r\n二行目\r\n");
    m.read = read;
    return m;
}

// Ends the next modal dialog with `code` as soon as it runs.
void CloseNextDialogWith(int code) {
    QTimer::singleShot(0, [code] {
        if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
            dialog->done(code);
        }
    });
}

int PdfPages(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return -1;
    }
    const QByteArray pdf = file.readAll();
    return static_cast<int>(pdf.count("/Type /Page\n") + pdf.count("/Type /Page ") + pdf.count("/Type /Page>") +
                            pdf.count("/Type /Page/"));
}

} // namespace

class MainWindowTest : public QObject, protected WindowUnderTest {
    Q_OBJECT

private:

    QString Cell(int row, int column) { return rows().index(row, column).data().toString(); }

private slots:
    void init() {
        OpenWindowTest(true);
    }

    void cleanup() { CloseWindowTest(); }

    void windowAndMenus() {
        Start();
        QCOMPARE(frame().windowTitle(), QStringLiteral("Email - Tegalo"));
        QCOMPARE(frame().action(ID_FILE_NEW)->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_N));
        QCOMPARE(frame().action(ID_FILE_OPEN)->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_O));
        QCOMPARE(frame().action(ID_FILE_PRINT)->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_P));
        QCOMPARE(frame().action(ID_FILE_NEW)->statusTip(), QStringLiteral("新規にﾌｧｲﾙを作成"));
        QCOMPARE(frame().action(ID_FILE_NEW)->toolTip(), QStringLiteral("新規ﾌｧｲﾙ"));
        QVERIFY(!frame().action(ID_FILE_MRU_FILE1)->isEnabled());
        QCOMPARE(frame().ActivePane(), CMainFrame::kListPane);
        // The tree: the root and the four folders in screen order, "受信" selected.
        QTreeWidgetItem* root = frame().treeView()->topLevelItem(0);
        QCOMPARE(root->text(0), QStringLiteral("ローカル"));
        QStringList folders;
        for (int i = 0; i < root->childCount(); ++i) {
            folders << root->child(i)->text(0);
        }
        QCOMPARE(folders, (QStringList{QStringLiteral("受信"), QStringLiteral("送信待ち"), QStringLiteral("送信済"),
                                       QStringLiteral("削除")}));
        QCOMPARE(frame().treeView()->currentItem()->text(0), QStringLiteral("受信"));
        // The list's columns.
        QCOMPARE(rows().headerData(0, Qt::Horizontal, Qt::DisplayRole).toString(), QStringLiteral("題 目"));
        QCOMPARE(rows().headerData(1, Qt::Horizontal, Qt::DisplayRole).toString(), QStringLiteral("差出人"));
        QCOMPARE(rows().headerData(2, Qt::Horizontal, Qt::DisplayRole).toString(), QStringLiteral("日　時"));
        // The subject takes the width the others leave, 200 at the least here.
        QVERIFY(list().header()->sectionSize(0) >= 200);
        QCOMPARE(list().header()->sectionSize(1), 100);
        QVERIFY(list().header()->sectionSize(2) >= 100); // as wide as a date
    }

    void listShowsNewestFirstWithSenderAndIcons() {
        TestMessage multipart = Message("添付あり", "<only@address>", true);
        multipart.attachments = {{"a.txt", "base64", "QUJD\r\n"}};
        box->Add("recv", {Message("一番古い", "山田 太郎 <taro@example.jp>"_sjis), Message("既読", "bob@example.org", true),
                          multipart});
        Start();
        QCOMPARE(rows().rowCount(), 3);
        QCOMPARE(Cell(0, 0), QStringLiteral("添付あり"));
        QCOMPARE(Cell(2, 0), QStringLiteral("一番古い"));
        QCOMPARE(Cell(2, 1), QStringLiteral("山田 太郎 ")); // cut at "<", the blank before it stays
        QCOMPARE(Cell(0, 1), QStringLiteral("<only@address>")); // a sender starting with "<" shows whole
        QCOMPARE(Cell(1, 2), QStringLiteral("Mon, 07 Dec 2026 10:00:00 +0900"));
        QCOMPARE(RecordListModel::IconIndex(app->doc().GetRecordList()[2]), 0);
        QCOMPARE(RecordListModel::IconIndex(app->doc().GetRecordList()[1]), 3);
        QCOMPARE(RecordListModel::IconIndex(app->doc().GetRecordList()[0]), 2);
    }

    void treeSwitchesFolders() {
        box->Add("sent", {Message("送った", "to@example.jp")});
        Start();
        CTegaloTreeView& tree = *frame().treeView();
        tree.setCurrentItem(tree.ItemForFolder(3));
        QCOMPARE(app->doc().CurrentFolder(), 3);
        QCOMPARE(rows().rowCount(), 1);
        QCOMPARE(Cell(0, 0), QStringLiteral("送った"));
        tree.setCurrentItem(tree.ItemForFolder(-1));
        QCOMPARE(app->doc().CurrentFolder(), 3); // the root changes nothing
        QCOMPARE(rows().rowCount(), 1);
        tree.setCurrentItem(tree.ItemForFolder(1));
        QCOMPARE(app->doc().CurrentFolder(), 1);
        QCOMPARE(rows().rowCount(), 0);
    }

    void commandsFollowTheActivePane() {
        box->Add("recv", {Message("件名", "a@b")});
        Start();
        frame().OnCommand(ID_LEFT_PANE);
        QCOMPARE(frame().ActivePane(), CMainFrame::kTreePane);
        frame().OnCommand(ID_FILE_OPEN);
        frame().OnCommand(ID_FILE_NEW);
        QVERIFY(prompter->messages.isEmpty());
        QCOMPARE(prompter->printDialogs, 0);
        frame().OnCommand(ID_NEXT_PANE);
        QCOMPARE(frame().ActivePane(), CMainFrame::kListPane); // F6 after the left pane goes back to the list
        frame().OnCommand(ID_PREV_PANE);
        QCOMPARE(frame().ActivePane(), CMainFrame::kTreePane);
        frame().OnCommand(ID_RIGHT_PANE);
        list().setCurrentIndex(QModelIndex());
        frame().OnCommand(ID_FILE_OPEN);
        QCOMPARE(prompter->LastMessage(), QStringLiteral("電文を選択してください"));
    }

    void helpWithoutAProgramSaysCantExecute() {
        Start();
        prompter->openSucceeds = false;
        frame().OnCommand(ID_HELP_CONTENTS);
        QCOMPARE(prompter->opened.value(0), box->QDir() + QStringLiteral("/Tegalo.hlp"));
        QCOMPARE(prompter->LastMessage(), QStringLiteral("Can't Execute"));
    }

    void openingMarksTheMessageRead() {
        box->Add("recv", {Message("古い", "a@b"), Message("新しい", "c@d")});
        Start();
        list().setCurrentIndex(rows().index(1, 0));
        CloseNextDialogWith(QDialog::Rejected);
        list().OpenFocusedMessage();
        QCOMPARE(list().currentMessage().currentRecordIndex, 0); // the bottom row is the oldest record
        QCOMPARE(list().viewerDialog().viewerHeader,
                 QStringLiteral("送信者：  a@b\n日付　：　Mon, 07 Dec 2026 10:00:00 +0900\n主題　：　古い"));
        QCOMPARE(RecordListModel::IconIndex(app->doc().GetRecordList()[0]), 3);
        QCOMPARE(box->Read("recv")[6 + kReadMarkOffset], '1');
        QCOMPARE(list().currentIndex().row(), 1); // the focus stays on the opened row
    }

    void viewerListsAttachmentsOnlyForMultipart() {
        TestMessage two = Message("二つ", "a@b");
        two.attachments = {{"first.txt", "base64", "QUJD\r\n"}, {"sec\x01ond.txt", "base64", "REVG\r\n"}};
        box->Add("recv", {Message("単一", "a@b"), two});
        Start();
        list().setCurrentIndex(rows().index(1, 0));
        QVERIFY(list().LoadFocusedMessage() >= 0);
        list().viewerDialog().Prepare();
        QVERIFY(!list().viewerDialog().attachmentList()->isVisibleTo(&list().viewerDialog()));
        QVERIFY(!list().viewerDialog().attachmentLabel()->isVisibleTo(&list().viewerDialog()));

        list().setCurrentIndex(rows().index(0, 0));
        QVERIFY(list().LoadFocusedMessage() >= 0);
        list().viewerDialog().Prepare();
        QVERIFY(list().viewerDialog().attachmentList()->isVisibleTo(&list().viewerDialog()));
        QCOMPARE(list().viewerDialog().attachmentList()->count(), 2);
        QCOMPARE(list().viewerDialog().attachmentList()->item(0)->text(), QStringLiteral("first.txt"));

        // The second attachment opens under its name without the control byte.
        CloseNextDialogWith(CMailMsg::kFirstAttachment + 1);
        list().OpenFocusedMessage();
        QCOMPARE(prompter->opened.size(), 1);
        QVERIFY(prompter->opened[0].endsWith(QStringLiteral("/second.txt")));
        QFile copy(prompter->opened[0]);
        QVERIFY(copy.open(QIODevice::ReadOnly));
        QCOMPARE(copy.readAll(), QByteArray("DEF"));
        QCOMPARE(QString::fromStdString(list().lastAttachmentPath()), prompter->opened[0]);
    }

    void anAttachmentThatCannotBeWrittenOpensNothing() {
        TestMessage one = Message("添付", "a@b");
        one.attachments = {{"a.pdf", "base64", "QUJD\r\n"}};
        box->Add("recv", {one});
        Start();
        // The attachment directory cannot be made where a file stands.
        box->Write("blocker", "x");
        qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString(box->Dir() + "blocker"));
        list().setCurrentIndex(rows().index(0, 0));
        QVERIFY(list().LoadFocusedMessage() >= 0);
        list().OpenAttachment(1);
        QCOMPARE(prompter->LastMessage(), QStringLiteral("ファイルが開けません5 CTempF"));
        QVERIFY(prompter->opened.isEmpty());
        QVERIFY(list().lastAttachmentPath().empty());
    }

    void programsAreOpenedOnlyAfterAsking() {
        TestMessage script = Message("スクリプト", "a@b");
        script.attachments = {{"run.sh", "base64", "ZWNobyBoaQ==\r\n"}};
        box->Add("recv", {script});
        Start();
        list().setCurrentIndex(rows().index(0, 0));
        QVERIFY(list().LoadFocusedMessage() >= 0);
        prompter->answers.enqueue(false);
        list().OpenAttachment(1);
        QCOMPARE(prompter->questions.size(), 1);
        QVERIFY(prompter->opened.isEmpty());
        QFile copy(QString::fromStdString(list().lastAttachmentPath()));
        QVERIFY(copy.exists());
        QVERIFY(!(copy.permissions() & (QFileDevice::ExeOwner | QFileDevice::ExeUser | QFileDevice::ExeOther)));
    }

    void printingPagesOf36Lines() {
        TestMessage forty = Message("四十行", "a@b");
        forty.body.clear();
        for (int i = 1; i <= 40; ++i) {
            forty.body += "line " + std::to_string(i) + "\r\n";
        }
        forty.body += "last line without a line end";
        box->Add("recv", {forty});
        Start();
        QCOMPARE(static_cast<int>(BodyLines(forty.body).size()), 41);
        QCOMPARE(std::string(BodyLines(forty.body).back()), std::string("last line without a line end"));
        QTemporaryDir out;
        prompter->pdfPath = out.filePath(QStringLiteral("print.pdf"));
        list().setCurrentIndex(rows().index(0, 0));
        frame().OnCommand(ID_FILE_PRINT);
        QCOMPARE(prompter->printDialogs, 1);
        QCOMPARE(PdfPages(prompter->pdfPath), 2);

        // A cancelled print dialog prints nothing.
        prompter->pdfPath.clear();
        frame().OnCommand(ID_FILE_PRINT);
        QCOMPARE(prompter->printDialogs, 2);
    }

    void settingsDialog() {
        std::string config = box->Read("comconfig");
        config.replace(config.rfind("30\r\n"), 4, "20\r\n");
        box->Write("comconfig", config);
        Start();
        CMailComset& dialog = list().settingsDialog();
        QCOMPARE(list().sessions().Settings().checkInterval, std::string("20"));
        dialog.Prepare(list().sessions().Settings());
        QCOMPARE(dialog.intervalList()->currentRow(), 1);
        QCOMPARE(dialog.intervalList()->item(0)->text(), QStringLiteral("10"));

        // A port that is no whole number keeps the dialog open.
        dialog.field(CMailComset::kPop3Port)->setText(QStringLiteral("11x"));
        dialog.open();
        // The interval box shows its chosen entry whole and nothing of the next.
        QCoreApplication::processEvents();
        QListWidget& interval = *dialog.intervalList();
        QCOMPARE(interval.viewport()->height(), interval.sizeHintForRow(0));
        dialog.accept();
        QVERIFY(dialog.isVisible());
        QVERIFY(!prompter->messages.isEmpty());
        dialog.field(CMailComset::kPop3Port)->setText(QStringLiteral("70000"));
        dialog.accept();
        QVERIFY(dialog.isVisible());
        dialog.field(CMailComset::kPop3Port)->setText(QStringLiteral("2525"));
        dialog.field(CMailComset::kServerName)->setText(QStringLiteral("pop.example.jp"));
        dialog.checkBox(CMailComset::kKeepOnServer)->setChecked(true);
        dialog.accept();
        QVERIFY(!dialog.isVisible());
        QCOMPARE(dialog.Result().pop3Port, 2525);
        QCOMPARE(dialog.Result().serverName, std::string("pop.example.jp"));
        // The dialog edits a copy: the sessions still use what was read.
        QVERIFY(list().sessions().Settings().serverName != "pop.example.jp");

        // The settings command writes the file on OK and leaves it on Cancel;
        // what OK took in is what the next session uses.
        const std::string before = box->Read("comconfig");
        const AccountSettings live = list().sessions().Settings();
        QTimer::singleShot(0, [&dialog] {
            dialog.field(CMailComset::kServerName)->setText(QStringLiteral("cancelled.example.jp"));
            dialog.reject();
        });
        frame().OnCommand(ID_SETTINGS);
        QCOMPARE(box->Read("comconfig"), before);
        QCOMPARE(list().sessions().Settings().serverName, live.serverName);
        QTimer::singleShot(0, [&dialog] {
            dialog.field(CMailComset::kPop3Port)->setText(QStringLiteral("2525"));
            dialog.field(CMailComset::kServerName)->setText(QStringLiteral("pop.example.jp"));
            dialog.accept();
        });
        frame().OnCommand(ID_SETTINGS);
        const std::string after = box->Read("comconfig");
        QVERIFY(after.starts_with("pop.example.jp\r\n\r\n2525\r\n25\r\n"));
        QCOMPARE(list().sessions().Settings().serverName, std::string("pop.example.jp"));
        QCOMPARE(list().sessions().Settings().pop3Port, 2525);
    }

    void startWithoutSettingsHasNoColumns() {
        box->Remove("comconfig");
        Start();
        QCOMPARE(prompter->LastMessage(), QStringLiteral("構成定義ﾌｧｲﾙがｵｰﾌﾟﾝできません"));
        QVERIFY(!list().HasColumns());
        QVERIFY(list().model() == nullptr);
    }

    void startWithoutReceivedFolder() {
        QTemporaryDir empty;
        prompter->answers.enqueue(false);
        QVERIFY(!app->InitInstance(empty.path()));
        QCOMPARE(prompter->LastMessage(), QStringLiteral("ファイルが開けません0"));
        QVERIFY(!QFile::exists(empty.filePath(QStringLiteral("recv"))));

        prompter->answers.enqueue(true);
        QVERIFY(app->InitInstance(empty.path()));
        QVERIFY(QFile::exists(empty.filePath(QStringLiteral("recv"))));
        QVERIFY(QFile::exists(empty.filePath(QStringLiteral("comconfig"))));
    }
};

QTEST_MAIN(MainWindowTest)
#include "mainwindow_test.moc"
