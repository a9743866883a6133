// The program with a large folder: the first display of a folder of 100,000
// and of 300,000 messages in a fresh process against `cat` reading its file,
// the memory that takes against the file's size, and opening one message of
// the folder. bench/run prints the ratios.
#include "app/MainFrm.h"
#include "app/TegaloApp.h"
#include "app/TegaloTreeView.h"
#include "config/NewMailbox.h"
#include "store/Record.h"
#include "store/TegaloDoc.h"
#include "gui/Prompter.h"
#include "ui/RecordListModel.h"
#include "ui/TegaloListView.h"

#include "AppBenchSupport.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QPrinter>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <string_view>
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

// Writes a sent folder of `records` messages of about 2 KB into the
// mailbox in `dir` and returns the file's size.
double WriteLargeSentFolder(const std::string& dir, int records) {
    std::ofstream out(dir + "/sent", std::ios::binary | std::ios::trunc);
    out << tegalo::FormatField(records);
    std::mt19937 rng(2);
    for (int i = 0; i < records; ++i) {
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
    return static_cast<double>(std::filesystem::file_size(dir + "/sent"));
}

void CreateEmptyMailbox(const std::string& dir) {
    SilentUi ui;
    if (tegalo::CreateMailbox(dir, ui) != tegalo::StoreStatus::kOk) {
        throw std::runtime_error("mailbox");
    }
}

// A mailbox whose sent folder holds 100,000 messages, and the program
// running on it with the received folder shown.
struct LargeMailbox {
    LargeMailbox() {
        CreateEmptyMailbox(dir.path().toStdString());
        fileSize = WriteLargeSentFolder(dir.path().toStdString(), kMessages);
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

// The child's side of BM_FirstDisplay: starts the program on the mailbox in
// `dir` (received folder shown), shows the sent folder, and prints the
// milliseconds that took, the resident memory it added and the rows listed.
int FirstDisplay(const QString& dir) {
    SilentPrompter prompter;
    tegalo::SetPrompter(&prompter);
    tegalo::CTegaloApp app;
    if (!app.InitInstance(dir)) {
        return 1;
    }
    tegalo::CMainFrame& frame = *app.mainFrame();
    QApplication::processEvents();
    const long before = ResidentBytes();
    const auto start = std::chrono::steady_clock::now();
    ShowFolder(frame, 3);
    const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
    std::printf("%f %ld %d\n", took.count(), ResidentBytes() - before, frame.listView()->recordModel()->rowCount());
    return 0;
}

// A mailbox whose sent folder holds `records` messages of about 2 KB.
struct FolderOnDisk {
    explicit FolderOnDisk(int records) {
        CreateEmptyMailbox(dir.path().toStdString());
        fileSize = WriteLargeSentFolder(dir.path().toStdString(), records);
        tegalo::bench::Run({"cat", dir.filePath(QStringLiteral("sent")).toStdString()}); // into the page cache
    }
    QTemporaryDir dir;
    double fileSize = 0;
};

// The first display of a large folder, each time in a fresh process: the
// program starts on the mailbox and the tree switches to the folder.
void BM_FirstDisplay(benchmark::State& state) {
    const int records = static_cast<int>(state.range(0));
    const FolderOnDisk folder(records);
    // Built by appending: GCC 12 warns falsely (-Wrestrict) about "'" + a
    // temporary string.
    std::string command = "'";
    command += std::filesystem::read_symlink("/proc/self/exe").string();
    command += "' --first-display '" + folder.dir.path().toStdString() + "'";
    double memoryRatio = 0;
    for (auto _ : state) {
        std::FILE* child = ::popen(command.c_str(), "r");
        double ms = 0;
        long memory = 0;
        int rows = 0;
        const bool read = child != nullptr && std::fscanf(child, "%lf %ld %d", &ms, &memory, &rows) == 3;
        if (child == nullptr || ::pclose(child) != 0 || !read || rows != records) {
            state.SkipWithError("the folder did not list");
            break;
        }
        state.SetIterationTime(ms / 1000);
        memoryRatio = std::max(memoryRatio, static_cast<double>(memory) / folder.fileSize);
    }
    state.counters["memory_ratio"] = memoryRatio;
}

// `cat` reading the same folder file whole, as a process.
void BM_CatFolderFile(benchmark::State& state) {
    const FolderOnDisk folder(static_cast<int>(state.range(0)));
    const std::string file = folder.dir.filePath(QStringLiteral("sent")).toStdString();
    for (auto _ : state) {
        if (tegalo::bench::Run({"cat", file}) != 0) {
            state.SkipWithError("cat failed");
            break;
        }
    }
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

BENCHMARK(BM_FirstDisplay)->Arg(100000)->Arg(300000)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_CatFolderFile)->Arg(100000)->Arg(300000)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_OpenUnreadMessageInLargeFolder)->Unit(benchmark::kMillisecond)->Iterations(20);

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    if (argc == 3 && std::string_view(argv[1]) == "--first-display") {
        return FirstDisplay(QString::fromLocal8Bit(argv[2]));
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    largeMailbox.reset();
    return 0;
}
