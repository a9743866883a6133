// What a user notices from one day to the next: the window comes back as it
// was left (size, place, splitter, column widths; in the user's
// configuration, never in the mailbox), the folder tree and the columns use
// the room they need, printing without a printer goes to a PDF file, Qt's
// own dialogs speak Japanese, and attachments of composed messages show and
// save under their real names.
#include "gui/Commands.h"
#include "app/MainFrm.h"
#include "app/TegaloApp.h"
#include "app/TegaloTreeView.h"
#include "app/Translations.h"
#include "app/WindowState.h"
#include "store/Record.h"
#include "store/TegaloDoc.h"
#include "text/jis.h"
#include "text/unicode.h"
#include "gui/Printing.h"
#include "ui/RecordListModel.h"
#include "ui/SendMailMsg.h"
#include "ui/TegaloListView.h"

#include "support/ScriptedPrompter.h"
#include "support/TestMailbox.h"
#include "support/WindowUnderTest.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHeaderView>
#include <QLibraryInfo>
#include <QPushButton>
#include <QSplitter>
#include <QTemporaryDir>
#include <QTest>

using namespace tegalo;
using namespace tegalo::literals;
using namespace tegalo::testing_support;

namespace {

TestMessage Message(const std::string& subjectUtf8) {
    TestMessage m;
    m.subject = SjisLiteral(subjectUtf8);
    m.sender = "someone@example.jp";
    m.date = "Mon, 07 Dec 2026 10:00:00 +0900";
    m.header = "Subject: x\r\n\r\n";
    m.body = "line\r\n";
    return m;
}

QStringList Files(const QString& dir) {
    return QDir(dir).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name);
}

} // namespace

class EverydayTest : public QObject, protected WindowUnderTest {
    Q_OBJECT

private:


private slots:
    void init() {
        OpenWindowTest(true);
    }

    void cleanup() { CloseWindowTest(); }

    void theWindowComesBackAsItWasLeft() {
        box->Add("recv", {Message("一")});
        Start();
        // The test mailbox points XDG_CONFIG_HOME at a directory of its own.
        QCOMPARE(WindowStatePath(), box->ConfigDir() + QStringLiteral("/Tegalo/window.ini"));
        QVERIFY(!QFileInfo::exists(WindowStatePath()));
        // The first start: the tree shows its names whole, the subject
        // column takes the width the others leave.
        CTegaloTreeView& tree = *frame().treeView();
        QVERIFY(frame().splitter()->sizes()[0] >= static_cast<QAbstractItemView&>(tree).sizeHintForColumn(0));
        QHeaderView* header = list().header();
        QCOMPARE(header->sectionResizeMode(0), QHeaderView::Stretch);
        const int subjectBefore = header->sectionSize(0);
        frame().resize(frame().width() + 200, frame().height());
        QCoreApplication::processEvents();
        QVERIFY(header->sectionSize(0) > subjectBefore);

        const QStringList mailbox = Files(box->QDir());
        frame().resize(900, 600);
        frame().splitter()->setSizes({170, 730});
        header->resizeSection(1, 130);
        header->resizeSection(2, 150);
        QCoreApplication::processEvents();
        const QList<int> splitter = frame().splitter()->sizes();
        frame().close();
        QVERIFY(QFileInfo::exists(WindowStatePath()));
        QCOMPARE(Files(box->QDir()), mailbox); // nothing written into the mailbox

        app = std::make_unique<CTegaloApp>();
        Start();
        QCOMPARE(frame().size(), QSize(900, 600));
        QCOMPARE(frame().splitter()->sizes(), splitter);
        QCOMPARE(list().header()->sectionSize(1), 130);
        QCOMPARE(list().header()->sectionSize(2), 150);
        // A sort is not kept: the next start shows the newest first again.
        QCOMPARE(list().header()->sortIndicatorSection(), -1);
    }

    void printingWithoutAPrinterGoesToAPdfFile() {
        box->Add("recv", {Message("月例/報告")});
        Start();
        prompter->hasPrinter = false;
        QTemporaryDir out;
        prompter->filesToSave.enqueue(out.filePath(QStringLiteral("report")));
        list().setCurrentIndex(rows().index(0, 0));
        frame().OnCommand(ID_FILE_PRINT);
        QCOMPARE(prompter->printDialogs, 0);
        QCOMPARE(prompter->suggestedSaveNames, QStringList{QStringLiteral("月例_報告.pdf")});
        QCOMPARE(prompter->fileFilters, QStringList{QStringLiteral("PDF (*.pdf)")});
        QFile pdf(out.filePath(QStringLiteral("report.pdf")));
        QVERIFY(pdf.open(QIODevice::ReadOnly));
        QVERIFY(pdf.read(5) == "%PDF-");
        QVERIFY(prompter->messages.isEmpty());
        // Cancelling the save dialog prints nothing and says nothing.
        frame().OnCommand(ID_FILE_PRINT);
        QCOMPARE(prompter->suggestedSaveNames.size(), 2);
        QVERIFY(prompter->messages.isEmpty());
        QCOMPARE(PdfFileName(QStringLiteral(" .hidden")), QStringLiteral("message.hidden.pdf"));
        QCOMPARE(PdfFileName(QString()), QStringLiteral("message.pdf"));
    }

    void qtsOwnTextsAreJapaneseAndOursStayAsTheyAre() {
        const QString catalog = QLibraryInfo::path(QLibraryInfo::TranslationsPath) + QStringLiteral("/qtbase_ja.qm");
        if (!QFileInfo::exists(catalog)) {
            QSKIP("Qt's Japanese translations (qt6-translations-l10n) are not installed");
        }
        const QStringList loaded = InstallQtTranslations(*QCoreApplication::instance());
        QVERIFY2(loaded.contains(QStringLiteral("qtbase_ja")), qPrintable(loaded.join(QLatin1Char(','))));
        const QString cancel = QCoreApplication::translate("QPlatformTheme", "Cancel");
        QVERIFY2(cancel != QStringLiteral("Cancel"), qPrintable(cancel));
        QCOMPARE(QCoreApplication::translate("QFileDialog", "Open"), QStringLiteral("開く"));
        Start();
        QCOMPARE(list().composeDialog().cancelButton()->text(), QStringLiteral("ｷｬﾝｾﾙ"));
        QCOMPARE(list().composeDialog().windowTitle(), QStringLiteral("メッセージ作成"));
    }

    void attachmentsOfComposedMessagesShowTheirNames() {
        // Composed messages keep a part's name as it went out, in ISO-2022-JP.
        TestMessage sent = Message("写真");
        sent.attachments = {{SjisToJis("資料.png"_sjis), "base64", "QUJD\r\n"}};
        box->Add("sent", {sent});
        Start();
        frame().treeView()->setCurrentItem(frame().treeView()->ItemForFolder(kSent));
        list().setCurrentIndex(rows().index(0, 0));
        QVERIFY(list().LoadFocusedMessage() >= 0);
        QCOMPARE(list().viewerDialog().attachments, QStringList{QStringLiteral("資料.png")});
        list().OpenAttachment(1);
        QCOMPARE(prompter->opened.size(), 1);
        QCOMPARE(QFileInfo(prompter->opened[0]).fileName(), QStringLiteral("資料.png"));
        QFile copy(prompter->opened[0]);
        QVERIFY(copy.open(QIODevice::ReadOnly));
        QCOMPARE(copy.readAll(), QByteArray("ABC"));
    }
};

QTEST_MAIN(EverydayTest)
#include "Everyday_test.moc"
