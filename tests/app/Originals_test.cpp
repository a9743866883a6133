// The viewer of a message kept with its original: every attachment listed
// and opened with its bytes, and the original saved as it was received.
#include "mime/ReceivedMessage.h"
#include "store/Originals.h"
#include "store/Record.h"
#include "text/unicode.h"
#include "ui/MailMsg.h"
#include "ui/RecordListModel.h"
#include "ui/TegaloListView.h"

#include "support/ScriptedPrompter.h"
#include "support/TestMailbox.h"
#include "support/WindowUnderTest.h"

#include <QDir>
#include <QFile>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <fstream>
#include <sstream>

using namespace tegalo;
using namespace tegalo::testing_support;

namespace {

std::string Pop3Data(const std::string& name) {
    std::ifstream in(std::string(TEGALO_TEST_DATA) + "/pop3/" + name, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The record the receive session makes of `message`.
std::string RecordOf(const std::string& message) {
    ReceivedMessage split = SplitReceivedMessage(message);
    split.DropAttachmentsToFit();
    return BuildRecord(split.Sizes(), split.RecordText());
}

void CloseNextDialogWith(int code) {
    QTimer::singleShot(0, [code] {
        if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
            dialog->done(code);
        }
    });
}

QByteArray FileBytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class OriginalsTest : public QObject, protected WindowUnderTest {
    Q_OBJECT

private:
    // recv holds the five-attachment message (with its original, newest, row
    // 0) and an older record without one (row 1).
    void Fill() {
        const std::string message = Pop3Data("multipart-5att.eml");
        QVERIFY(!message.empty());
        const std::string withOriginal = RecordOf(message);
        const std::string old = RecordOf(Pop3Data("multipart-3att.eml"));
        box->Write("recv", FormatField(2) + old + withOriginal);
        QVERIFY(QDir().mkpath(box->QDir() + QStringLiteral("/originals")));
        box->Write("originals/" + OriginalFileName(OriginalKey(withOriginal), 1), message);
    }

    CMailMsg& viewer() { return list().viewerDialog(); }

private slots:
    void init() { OpenWindowTest(true); }
    void cleanup() { CloseWindowTest(); }

    void everyAttachmentIsListedAndOpens() {
        Fill();
        Start();
        list().setCurrentIndex(rows().index(0, 0));
        QVERIFY(list().LoadFocusedMessage() >= 0);
        viewer().Prepare();
        QCOMPARE(viewer().attachmentList()->count(), 5);
        for (int i = 0; i < 5; ++i) {
            QCOMPARE(viewer().attachmentList()->item(i)->text(), QStringLiteral("資料%1.txt").arg(i + 1));
        }
        QVERIFY(viewer().saveOriginalButton()->isVisibleTo(&viewer()));

        // The fifth, which the record had no room for, opens with its bytes.
        CloseNextDialogWith(CMailMsg::kFirstAttachment + 4);
        list().OpenFocusedMessage();
        QCOMPARE(prompter->opened.size(), 1);
        QVERIFY(prompter->opened[0].endsWith(QStringLiteral("/資料5.txt")));
        QCOMPARE(FileBytes(prompter->opened[0]), QByteArray("data 5"));
        CloseNextDialogWith(CMailMsg::kFirstAttachment + 0);
        list().OpenFocusedMessage();
        QCOMPARE(prompter->opened.size(), 2);
        QCOMPARE(FileBytes(prompter->opened[1]), QByteArray("data 1"));
    }

    void theOriginalIsSavedAsReceived() {
        Fill();
        Start();
        list().setCurrentIndex(rows().index(0, 0));
        const QString target = box->QDir() + QStringLiteral("/saved.eml");
        prompter->filesToSave.enqueue(target);
        CloseNextDialogWith(CMailMsg::kSaveOriginal);
        list().OpenFocusedMessage();
        QCOMPARE(prompter->suggestedSaveNames.size(), 1);
        QCOMPARE(prompter->suggestedSaveNames[0], QStringLiteral("資料五点.eml"));
        QCOMPARE(FileBytes(target), QByteArray::fromStdString(Pop3Data("multipart-5att.eml")));

        // Cancelling the file dialog writes nothing.
        QVERIFY(QFile::remove(target));
        CloseNextDialogWith(CMailMsg::kSaveOriginal);
        list().OpenFocusedMessage();
        QVERIFY(!QFile::exists(target));
    }

    // A record without an original shows what the record holds, as always.
    void aRecordWithoutOriginalShowsItsOwnAttachments() {
        Fill();
        Start();
        list().setCurrentIndex(rows().index(1, 0));
        QVERIFY(list().LoadFocusedMessage() >= 0);
        viewer().Prepare();
        QCOMPARE(viewer().attachmentList()->count(), 3);
        QVERIFY(!viewer().saveOriginalButton()->isVisibleTo(&viewer()));
        QVERIFY(!list().currentMessage().hasOriginal);
    }
};

QTEST_MAIN(OriginalsTest)
#include "Originals_test.moc"
