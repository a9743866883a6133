// The program with a large folder: switching the tree to a folder of
// 100,000 messages, and opening one of them. bench/run prints the ratios.
#include "app/MainFrm.h"
#include "app/TegaloApp.h"
#include "app/TegaloTreeView.h"
#include "config/NewMailbox.h"
#include "store/Record.h"
#include "store/TegaloDoc.h"
#include "gui/Prompter.h"
#include "ui/RecordListModel.h"
#include "ui/TegaloListView.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QPrinter>
#include <QFileInfo>
#include <QTemporaryDir>

#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <unistd.h>

namespace {

constexpr int kMessages = 100000;

class SilentPrompter : public tegalo::CPrompter {
public:
    void Message(QWidget*, const QString&) override {}
    bool Confirm(QWidget*, const QString&) override { return false; }
    bool Ask(QWidget*, const QString&) override { return true; }
    bool OpenWithDesktop(const QString&) override { return true; }
    std::unique_ptr<QPrinter> ChoosePrinter(QWidget*) override { return nullptr; }
    QString ChooseFileToOpen(QWidget*, const QStringList&) override { return {}; }
};

class SilentUi : public tegalo::StoreUi {
public:
    void Message(std::string_view) override {}
};

// A mailbox whose sent folder holds 100,000 messages of about 2 KB, and the
// program running on it with the received folder shown.
struct LargeMailbox {
    LargeMailbox() {
        SilentUi ui;
        if (tegalo::CreateMailbox(dir.path().toStdString(), ui) != tegalo::StoreStatus::kOk) {
            throw std::runtime_error("mailbox");
        }
        std::ofstream out(dir.path().toStdString() + "/sent", std::ios::binary | std::ios::trunc);
        out << tegalo::FormatField(kMessages);
        std::mt19937 rng(2);
        for (int i = 0; i < kMessages; ++i) {
            tegalo::RecordPieces pieces;
            const std::string subject = "Subject " + std::to_string(i);
            const std::string sender = "Sender <sender" + std::to_string(i % 97) + "@example.jp>";
            const std::string date = "Mon, 07 Dec 2026 10:00:00 +0900";
            const std::string header = "Subject: " + subject + "\r\nFrom: " + sender + "\r\n\r\n";
            std::string body;
            while (body.size() < 1900) {
                body += "A line of the message body, number " + std::to_string(rng() % 1000) + ".\r\n";
            }
            pieces.subject = subject;
            pieces.sender = sender;
            pieces.date = date;
            pieces.header = header;
            pieces.body = body;
            out << tegalo::BuildRecord(tegalo::SizesFor(pieces, 0, 0), tegalo::JoinPieces(pieces));
        }
        out.close();
        fileSize = static_cast<double>(QFileInfo(dir.filePath(QStringLiteral("sent"))).size());
        tegalo::SetPrompter(&prompter);
        if (!app.InitInstance(dir.path())) {
            throw std::runtime_error("start");
        }
    }

    QTemporaryDir dir;
    SilentPrompter prompter;
    tegalo::CTegaloApp app;
    double fileSize = 0;
};

// Made on first use, and gone before the application object is.
std::unique_ptr<LargeMailbox> largeMailbox;

LargeMailbox& Mailbox() {
    if (!largeMailbox) {
        largeMailbox = std::make_unique<LargeMailbox>();
    }
    return *largeMailbox;
}

long ResidentBytes() {
    long pages = 0;
    long resident = 0;
    std::ifstream statm("/proc/self/statm");
    statm >> pages >> resident;
    return resident * sysconf(_SC_PAGESIZE);
}

void ShowFolder(tegalo::CMainFrame& frame, int folder) {
    frame.treeView()->setCurrentItem(frame.treeView()->ItemForFolder(folder));
    QApplication::processEvents();
}

void BM_SwitchToLargeFolder(benchmark::State& state) {
    LargeMailbox& box = Mailbox();
    tegalo::CMainFrame& frame = *box.app.mainFrame();
    double memoryRatio = 0;
    for (auto _ : state) {
        state.PauseTiming();
        ShowFolder(frame, 1);
        const long before = ResidentBytes();
        state.ResumeTiming();
        ShowFolder(frame, 3);
        state.PauseTiming();
        memoryRatio = static_cast<double>(ResidentBytes() - before) / box.fileSize;
        if (frame.listView()->recordModel()->rowCount() != kMessages) {
            state.SkipWithError("the folder did not list");
        }
        state.ResumeTiming();
    }
    state.counters["memory_ratio"] = memoryRatio;
}

void BM_OpenUnreadMessageInLargeFolder(benchmark::State& state) {
    LargeMailbox& box = Mailbox();
    tegalo::CMainFrame& frame = *box.app.mainFrame();
    ShowFolder(frame, 3);
    tegalo::CTegaloListView& list = *frame.listView();
    int row = 0;
    for (auto _ : state) {
        list.setCurrentIndex(list.recordModel()->index(row++, 0));
        if (list.LoadFocusedMessage() < 0) {
            state.SkipWithError("no message loaded");
        }
        QApplication::processEvents();
    }
}

} // namespace

BENCHMARK(BM_SwitchToLargeFolder)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_OpenUnreadMessageInLargeFolder)->Unit(benchmark::kMillisecond)->Iterations(20);

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    largeMailbox.reset();
    return 0;
}
