// Finding mail in the list: the filter field above it (Ctrl+F, Esc), sorting
// by a column title with the folder's own order as the start and the way
// back, commands on the rows a filter or sort shows, and Enter opening the
// focused message.
#include "app/MainFrm.h"
#include "app/TegaloApp.h"
#include "store/Record.h"
#include "store/TegaloDoc.h"
#include "text/unicode.h"
#include "ui/ListFilter.h"
#include "gui/QtText.h"
#include "ui/RecordListModel.h"
#include "ui/TegaloListView.h"

#include "support/ScriptedPrompter.h"
#include "support/TestMailbox.h"
#include "support/WindowUnderTest.h"

#include <QAction>
#include <QHeaderView>
#include <QTest>
#include <QTimer>

using namespace tegalo;
using namespace tegalo::literals;
using namespace tegalo::testing_support;

namespace {

TestMessage Message(const std::string& subjectUtf8, const std::string& senderUtf8, const std::string& date,
                    const std::string& bodyUtf8 = "本文\r\n") {
    TestMessage m;
    m.subject = SjisLiteral(subjectUtf8);
    m.sender = SjisLiteral(senderUtf8);
    m.date = date;
    m.header = "Subject: x\r\n\r\n";
    m.body = SjisLiteral(bodyUtf8);
    return m;
}

} // namespace

class ListFilterTest : public QObject, protected WindowUnderTest {
    Q_OBJECT

private:

    CListFilter& filter() { return *frame().listFilter(); }
    QStringList Subjects() {
        QStringList subjects;
        for (int row = 0; row < rows().rowCount(); ++row) {
            subjects << rows().index(row, 0).data().toString();
        }
        return subjects;
    }

    // Oldest first in the file; the dates are not in file order.
    void StartWithFour() {
        box->Add("recv", {Message("会議の件", "山田 <yamada@example.jp>", "Tue, 01 Dec 2026 09:00:00 +0900",
                                  "ＴＡＮＡＫＡさんへ\r\n"),
                          Message("Weekly report", "Tanaka <tanaka@example.jp>", "Mon, 30 Nov 2026 09:00:00 +0900"),
                          Message("ﾃｽﾄ送信", "news@example.org", "Thu, 03 Dec 2026 09:00:00 +0900"),
                          Message("Lunch", "鈴木 <suzuki@example.jp>", "Wed, 02 Dec 2026 09:00:00 +0900")});
        QVERIFY(app->InitInstance(box->QDir()));
    }

private slots:
    void init() {
        OpenWindowTest();
    }

    void cleanup() { CloseWindowTest(); }

    void filterNarrowsBySubjectSenderAndText_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QStringList>("shown");
        QTest::newRow("nothing typed: all, newest first")
            << QString() << QStringList{QStringLiteral("Lunch"), QStringLiteral("ﾃｽﾄ送信"),
                                        QStringLiteral("Weekly report"), QStringLiteral("会議の件")};
        QTest::newRow("sender and text, case and full width ignored")
            << QStringLiteral("tanaka") << QStringList{QStringLiteral("Weekly report"), QStringLiteral("会議の件")};
        QTest::newRow("subject, typed in capitals") << QStringLiteral("LUNCH") << QStringList{QStringLiteral("Lunch")};
        QTest::newRow("full-width katakana finds half-width")
            << QStringLiteral("テスト") << QStringList{QStringLiteral("ﾃｽﾄ送信")};
        QTest::newRow("sender's address") << QStringLiteral("suzuki@") << QStringList{QStringLiteral("Lunch")};
        QTest::newRow("nothing matches") << QStringLiteral("zzz") << QStringList{};
        QTest::newRow("a character Shift_JIS lacks matches nothing") << QStringLiteral("😀") << QStringList{};
    }

    void filterNarrowsBySubjectSenderAndText() {
        QFETCH(QString, typed);
        QFETCH(QStringList, shown);
        StartWithFour();
        filter().setText(typed);
        QCOMPARE(Subjects(), shown);
    }

    void ctrlFAndEscape() {
        StartWithFour();
        frame().show();
        QVERIFY(QTest::qWaitForWindowActive(&frame()));
        list().setFocus();
        QTest::keySequence(&frame(), QKeySequence(Qt::CTRL | Qt::Key_F));
        QVERIFY(filter().hasFocus());
        QTest::keyClicks(&filter(), QStringLiteral("lunch"));
        QCOMPARE(rows().rowCount(), 1);
        QTest::keyClick(&filter(), Qt::Key_Escape);
        QCOMPARE(filter().text(), QString());
        QCOMPARE(rows().rowCount(), 4);
        // Esc in the empty field goes back to the list.
        QTest::keyClick(&filter(), Qt::Key_Escape);
        QVERIFY(list().hasFocus());
    }

    void commandsActOnTheRowsShown() {
        StartWithFour();
        QTest::keyClicks(&filter(), QStringLiteral("tanaka"));
        QCOMPARE(Subjects(), (QStringList{QStringLiteral("Weekly report"), QStringLiteral("会議の件")}));
        // The second row shown is the oldest record.
        list().setCurrentIndex(rows().index(1, 0));
        QCOMPARE(list().FocusedRecordIndex(), 0);
        prompter->answers.enqueue(true);
        QTest::keyClick(&list(), Qt::Key_Delete);
        QCOMPARE(prompter->confirmations, QStringList{QStringLiteral("「会議の件」を削除フォルダーへ移します。よろしいですか")});
        QCOMPARE(Subjects(), QStringList{QStringLiteral("Weekly report")});
        // The records after the deleted one moved up: the row still shows its own.
        list().setCurrentIndex(rows().index(0, 0));
        QCOMPARE(list().FocusedRecordIndex(), 0);
        QVERIFY(list().LoadFocusedMessage() >= 0);
        QCOMPARE(FromSjis(list().currentMessage().subject), QStringLiteral("Weekly report"));
        // New mail that matches comes in on top; the focus stays.
        const std::string record = MakeRecord(Message("tanaka again", "x@y", "Fri, 04 Dec 2026 09:00:00 +0900"));
        QCOMPARE(app->doc().AddReceived(*ParseSizeBlock(record), std::string_view(record).substr(kSizeBlockLength), "recv"),
                 StoreStatus::kOk);
        rows().ShowAppended();
        QCOMPARE(Subjects(), (QStringList{QStringLiteral("tanaka again"), QStringLiteral("Weekly report")}));
        QCOMPARE(list().currentIndex().row(), 1);
        // Clearing the filter shows every record again, the focused one still focused.
        filter().clear();
        QCOMPARE(rows().rowCount(), 4);
        QCOMPARE(list().currentIndex().data().toString(), QStringLiteral("Weekly report"));
    }

    void columnTitlesSort() {
        StartWithFour();
        QHeaderView* header = list().header();
        QCOMPARE(header->sortIndicatorSection(), -1); // the folder's own order to start with
        list().setCurrentIndex(rows().index(1, 0));
        QCOMPARE(list().currentIndex().data().toString(), QStringLiteral("ﾃｽﾄ送信"));
        header->setSortIndicator(2, Qt::AscendingOrder);
        QCOMPARE(Subjects(), (QStringList{QStringLiteral("Weekly report"), QStringLiteral("会議の件"),
                                          QStringLiteral("Lunch"), QStringLiteral("ﾃｽﾄ送信")}));
        QCOMPARE(list().currentIndex().data().toString(), QStringLiteral("ﾃｽﾄ送信")); // the focus moved with its row
        header->setSortIndicator(2, Qt::DescendingOrder);
        QCOMPARE(Subjects().first(), QStringLiteral("ﾃｽﾄ送信"));
        header->setSortIndicator(0, Qt::AscendingOrder);
        QCOMPARE(Subjects(), (QStringList{QStringLiteral("Lunch"), QStringLiteral("Weekly report"),
                                          QStringLiteral("ﾃｽﾄ送信"), QStringLiteral("会議の件")}));
        header->setSortIndicator(1, Qt::AscendingOrder);
        QCOMPARE(Subjects().first(), QStringLiteral("ﾃｽﾄ送信")); // news@example.org
        // Sorted and filtered together.
        filter().setText(QStringLiteral("@example.jp"));
        QCOMPARE(Subjects(), (QStringList{QStringLiteral("Weekly report"), QStringLiteral("会議の件"),
                                          QStringLiteral("Lunch")}));
        // Back to the folder's own order.
        header->setSortIndicator(-1, Qt::DescendingOrder);
        QCOMPARE(Subjects(), (QStringList{QStringLiteral("Lunch"), QStringLiteral("Weekly report"),
                                          QStringLiteral("会議の件")}));
    }

    void enterOpensTheFocusedMessage() {
        StartWithFour();
        list().setCurrentIndex(rows().index(3, 0));
        QString shown;
        QTimer::singleShot(0, [&] {
            if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
                shown = dialog->windowTitle();
                dialog->reject();
            }
        });
        QTest::keyClick(&list(), Qt::Key_Return);
        QCOMPARE(shown, QStringLiteral("受信メール電文"));
        QCOMPARE(FromSjis(list().currentMessage().subject), QStringLiteral("会議の件"));
    }
};

QTEST_MAIN(ListFilterTest)
#include "ListFilter_test.moc"
