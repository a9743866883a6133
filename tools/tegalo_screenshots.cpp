// tegalo-screenshots DIR: renders the main window, the message viewer, the
// compose dialog and the settings dialog on a sample mailbox with Japanese
// messages into DIR/main-window.png, viewer.png, compose.png and
// settings.png. Run it on a real X server with the Noto CJK fonts, e.g.
//   QT_QPA_PLATFORM=xcb xvfb-run -a build/tegalo-screenshots docs
#include "app/MainFrm.h"
#include "app/TegaloApp.h"
#include "config/NewMailbox.h"
#include "mime/Outgoing.h"
#include "store/Record.h"
#include "text/unicode.h"
#include "ui/RecordListModel.h"
#include "ui/TegaloListView.h"

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>

#include <cstdio>
#include <fstream>

namespace {

using namespace tegalo;
using namespace tegalo::literals;

class QuietUi : public StoreUi {
public:
    void Message(std::string_view text) override { std::fprintf(stderr, "%s\n", SjisToUtf8(text).c_str()); }
};

struct Sample {
    const char* subject;
    const char* sender;
    const char* date;
    const char* body;
    const char* attachment; // nullptr for none
    bool read;
};

std::string Record(const Sample& s) {
    RecordPieces pieces;
    const std::string subject = SjisLiteral(s.subject);
    const std::string sender = SjisLiteral(s.sender);
    const std::string date = s.date;
    const std::string header = "Subject: " + EncodeHeaderValue(subject) + "\r\nDate: " + date + "\r\n\r\n";
    std::string body = SjisLiteral(s.body);
    std::string attachment;
    int parts = 0;
    if (s.attachment) {
        body = PartHeader("Content-Transfer-Encoding: ", "") + body;
        attachment = PartHeader(SjisLiteral(s.attachment), "base64") + "/9j/4AAQSkZJRgABAQ==\r\n";
        parts = 2;
    }
    pieces.subject = subject;
    pieces.sender = sender;
    pieces.date = date;
    pieces.header = header;
    pieces.body = body;
    pieces.attachments[0] = attachment;
    return BuildRecord(SizesFor(pieces, parts, s.read ? 1 : 0), JoinPieces(pieces));
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: tegalo-screenshots OUTPUT-DIR\n");
        return 2;
    }
    QApplication app(argc, argv);
    QApplication::setFont(QFont(QStringLiteral("Noto Sans CJK JP"), 10));
    const QString out = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(out);

    QTemporaryDir dir;
    QuietUi ui;
    if (CreateMailbox(dir.path().toStdString(), ui) != StoreStatus::kOk) {
        return 1;
    }
    const Sample samples[] = {
        {"来週の打ち合わせについて", "佐藤 花子 <hanako@example.jp>", "Thu, 03 Dec 2026 09:12:44 +0900",
         "お疲れさまです。\r\n来週の打ち合わせは火曜日の午後でお願いします。\r\n", nullptr, true},
        {"Re: 見積書の件", "Tanaka Ichiro <tanaka@example.co.jp>", "Fri, 04 Dec 2026 17:40:02 +0900",
         "見積書を確認しました。\r\n問題ありませんので、このまま進めてください。\r\n", nullptr, true},
        {"写真を送ります", "山田 太郎 <taro@example.ne.jp>", "Sat, 05 Dec 2026 21:03:10 +0900",
         "先日の旅行の写真です。\r\n", "旅行の写真.jpg", false},
        {"会議の議事録", "鈴木 一郎 <suzuki@example.jp>", "Mon, 07 Dec 2026 10:21:35 +0900",
         "皆様\r\n\r\n本日の会議の議事録をお送りします。\r\n\r\n1. 新製品の発売日は一月十五日に決定\r\n"
         "2. 次回の会議は十二月十四日（月）十時から\r\n3. 資料は各自で事前に確認のこと\r\n\r\n"
         "以上、よろしくお願いいたします。\r\n鈴木\r\n",
         "議事録.pdf", false},
    };
    std::string folder = FormatField(static_cast<int>(std::size(samples)));
    for (const Sample& s : samples) {
        folder += Record(s);
    }
    std::ofstream(dir.path().toStdString() + "/recv", std::ios::binary | std::ios::trunc) << folder;

    CTegaloApp tegalo;
    if (!tegalo.InitInstance(dir.path())) {
        return 1;
    }
    CMainFrame& frame = *tegalo.mainFrame();
    frame.resize(640, 300);
    CTegaloListView& list = *frame.listView();
    list.setCurrentIndex(list.recordModel()->index(0, 0));
    QApplication::processEvents();
    const bool mainSaved = frame.grab().save(out + QStringLiteral("/main-window.png"));

    list.LoadFocusedMessage();
    CMailMsg& viewer = list.viewerDialog();
    viewer.Prepare();
    viewer.resize(520, 460);
    viewer.show();
    QApplication::processEvents();
    const bool viewerSaved = viewer.grab().save(out + QStringLiteral("/viewer.png"));
    viewer.hide();

    // A forward of the message with its attachment, as the user starts it.
    CSendMailMsg& compose = list.composeDialog();
    compose.toText = QStringLiteral("佐藤 花子<hanako@example.jp>");
    compose.subjectText = QStringLiteral("Fwd: 会議の議事録");
    compose.bodyText = QStringLiteral("佐藤さん\n\n会議の議事録を転送します。\n");
    compose.attachText = QStringLiteral("/home/taro/ドキュメント/議事録_2026年12月7日_営業部会議_最終版_確認済み.pdf\r\n"
                                        "/home/taro/写真/旅行.jpg\r\n/home/taro/見積書.xls\r\n");
    compose.Prepare();
    compose.resize(520, 460);
    compose.show();
    QApplication::processEvents();
    const bool composeSaved = compose.grab().save(out + QStringLiteral("/compose.png"));
    compose.hide();

    CMailComset& settings = list.settingsDialog();
    AccountSettings sample;
    // An account set up the way most providers want it today.
    sample.serverName = "pop.example.jp";
    sample.pop3Port = 995;
    sample.pop3Security = Security::Implicit;
    sample.pop3Login = Pop3Login::Automatic;
    sample.userName = "taro";
    sample.password = "secret";
    sample.serverName2 = "smtp.example.jp";
    sample.smtpPort = 587;
    sample.smtpSecurity = Security::StartTls;
    sample.smtpLogin = SmtpLogin::Automatic;
    sample.mailAccount = "taro@example.jp";
    sample.displayName = "山田 太郎"_sjis;
    sample.checkNewMail = true;
    sample.checkInterval = "10";
    settings.Prepare(sample);
    settings.show();
    QApplication::processEvents();
    const bool settingsSaved = settings.grab().save(out + QStringLiteral("/settings.png"));
    settings.hide();
    return mainSaved && viewerSaved && composeSaved && settingsSaved ? 0 : 1;
}
