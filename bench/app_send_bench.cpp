// Sending waiting messages of about 5 KB to a local SMTP sink (the same sink
// and the same message texts for every side):
// - `tegalo --send-waiting` against Python's smtplib sending the same
//   messages in one session on one connection, the plain ceiling, at 1,000
//   and at 100 messages; smtplib keeps no copy and syncs nothing, so Tegalo
//   runs under eatmydata there, which takes its syncs away too;
// - 1,000 against 100 waiting (the time must grow with the count alone);
// - 20 waiting with 100,000 messages in `sent` against 20 with it empty;
// - for reference, 100 against msmtp, one process (and connection) per
//   message, as a program without a queue of its own would send them.
// bench/run prints the ratios.
#include "config/AccountSettings.h"
#include "config/NewMailbox.h"
#include "store/Record.h"
#include "store/TegaloDoc.h"

#include "../tests/support/ComposeWaiting.h"
#include "../tests/support/MailSink.h"

#include "AppBenchSupport.h"

#include <benchmark/benchmark.h>

#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>

namespace {

using tegalo::bench::NoUi;
using tegalo::bench::Run;

std::string Body(int i) {
    return tegalo::bench::SampleBody(i);
}

tegalo::smtp_test::MailSink& Sink() {
    static tegalo::smtp_test::MailSink* sink = [] {
        auto* s = new tegalo::smtp_test::MailSink;
        // It keeps nothing: its own work per message (a directory of files
        // for the tests) would be most of what is timed.
        tegalo::smtp_test::SinkOptions options;
        options.light = true;
        if (const std::string error = s->Start(options); !error.empty()) {
            throw std::runtime_error("smtp sink: " + error);
        }
        std::atexit([] { Sink().Stop(); });
        return s;
    }();
    return *sink;
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// The waiting folder with `count` messages, made once per count.
const std::string& WaitingFolder(int count) {
    static std::map<int, std::string> folders;
    std::string& folder = folders[count];
    if (!folder.empty()) {
        return folder;
    }
    QTemporaryDir dir;
    NoUi ui;
    const std::string path = dir.path().toStdString();
    tegalo::CTegaloDoc doc(ui);
    if (tegalo::CreateMailbox(path, ui) != tegalo::StoreStatus::kOk || !tegalo::Loaded(doc.Start(path))) {
        throw std::runtime_error("mailbox");
    }
    for (int i = 0; i < count; ++i) {
        const tegalo::smtp_test::Draft draft{"message " + std::to_string(i), "hanako@example.jp", "", Body(i), {}};
        if (tegalo::smtp_test::SaveWaiting(doc, "taro@example.jp", draft) != tegalo::StoreStatus::kOk) {
            throw std::runtime_error("waiting folder");
        }
    }
    folder = ReadAll(path + "/reserv");
    return folder;
}

// A sent folder of 100,000 messages of about 2 KB.
const std::string& LargeSentFolder() {
    static const std::string folder = [] {
        constexpr int kRecords = 100000;
        std::string text = tegalo::FormatField(kRecords);
        const std::string body = Body(0).substr(0, 1900);
        for (int i = 0; i < kRecords; ++i) {
            tegalo::RecordPieces pieces;
            const std::string subject = "sent " + std::to_string(i);
            pieces.subject = subject;
            pieces.sender = "taro@example.jp";
            pieces.date = tegalo::smtp_test::kComposeDate;
            pieces.header = "Subject: " + subject + "\r\nTo: hanako@example.jp\r\n\r\n";
            pieces.body = body;
            text += tegalo::BuildRecord(tegalo::SizesFor(pieces, 0, 0), tegalo::JoinPieces(pieces));
        }
        return text;
    }();
    return folder;
}

// Puts the file at `path` on the disk, so that a run starts with nothing of
// the preparation waiting to be written: else the first sync of a folder
// would write the whole file the preparation left in the page cache, and a
// large `sent` would be timed for the bytes the benchmark wrote.
void SyncFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

// A mailbox for `tegalo --send-waiting` with `count` waiting messages and
// `sent` as its sent folder. The sent folder is written once and keeps what
// each run adds, as it does in use; each run starts from the same waiting
// folder, synced before the run.
class SendMailbox {
public:
    SendMailbox(int count, const std::string& sent, const std::vector<std::string>& wrapper)
        : path_(dir_.path().toStdString()), waiting_(WaitingFolder(count)) {
        NoUi ui;
        if (tegalo::CreateMailbox(path_, ui) != tegalo::StoreStatus::kOk) {
            return;
        }
        tegalo::AccountSettings settings;
        settings.serverName = "127.0.0.1";
        settings.smtpPort = Sink().Port();
        settings.mailAccount = "taro@example.jp";
        std::ofstream(path_ + "/comconfig", std::ios::binary | std::ios::trunc)
            << tegalo::FormatAccountSettings(settings);
        std::ofstream(path_ + "/sent", std::ios::binary | std::ios::trunc) << sent;
        SyncFile(path_ + "/sent");
        argv_ = wrapper;
        argv_.insert(argv_.end(), {TEGALO_EXE, "--send-waiting", "--dir", path_});
        ready_ = true;
    }

    bool Ready() const { return ready_; }
    // Untimed: the waiting folder as at the start, on the disk.
    void Prepare() const {
        std::ofstream(path_ + "/reserv", std::ios::binary | std::ios::trunc) << waiting_;
        SyncFile(path_ + "/reserv");
        SyncFile(path_);
        Sink().Clear();
    }
    bool Send() const { return Run(argv_) == 0; }
    bool AllSent() const { return ReadAll(path_ + "/reserv") == "     0"; }

private:
    QTemporaryDir dir_;
    std::string path_;
    const std::string& waiting_;
    std::vector<std::string> argv_;
    bool ready_ = false;
};

// `tegalo --send-waiting` on a SendMailbox, run through `wrapper` (eatmydata)
// when given.
void SendWaiting(benchmark::State& state, int count, const std::string& sent,
                 const std::vector<std::string>& wrapper = {}) {
    const SendMailbox box(count, sent, wrapper);
    if (!box.Ready()) {
        state.SkipWithError("mailbox");
        return;
    }
    for (auto _ : state) {
        state.PauseTiming();
        box.Prepare();
        state.ResumeTiming();
        if (!box.Send()) {
            state.SkipWithError("tegalo --send-waiting failed");
            break;
        }
    }
    if (!box.AllSent()) {
        state.SkipWithError("not every message was sent");
    }
}

// 20 waiting with 100,000 in sent against 20 with sent empty, the two
// mailboxes taking turns (in both orders) so that both meet the same disk,
// whose sync times swing from run to run; the ratio of the median times.
// Each mailbox is sent from once before timing: that first run finds the end
// of its sent folder, as the first send with a new mailbox (or after another
// program changed the folder) does, once.
void BM_TegaloSendWaiting20Sent100kVsEmpty(benchmark::State& state) {
    const SendMailbox large(20, LargeSentFolder(), {});
    const SendMailbox empty(20, "     0", {});
    if (!large.Ready() || !empty.Ready()) {
        state.SkipWithError("mailbox");
        return;
    }
    auto timed = [](const SendMailbox& box, std::vector<double>& times) {
        box.Prepare();
        const auto start = std::chrono::steady_clock::now();
        const bool sent = box.Send();
        times.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
        return sent && box.AllSent();
    };
    std::vector<double> largeTimes, emptyTimes;
    if (!timed(large, largeTimes) || !timed(empty, emptyTimes)) {
        state.SkipWithError("tegalo --send-waiting failed");
        return;
    }
    largeTimes.clear();
    emptyTimes.clear();
    int turn = 0;
    for (auto _ : state) {
        const bool largeFirst = turn++ % 2 == 0;
        const bool ok = largeFirst ? timed(large, largeTimes) && timed(empty, emptyTimes)
                                   : timed(empty, emptyTimes) && timed(large, largeTimes);
        if (!ok) {
            state.SkipWithError("tegalo --send-waiting failed");
            return;
        }
        state.SetIterationTime(largeTimes.back() / 1000.0);
    }
    auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v.empty() ? 0.0 : v[v.size() / 2];
    };
    state.counters["large_ms"] = median(largeTimes);
    state.counters["empty_ms"] = median(emptyTimes);
    state.counters["ratio"] = median(emptyTimes) > 0 ? median(largeTimes) / median(emptyTimes) : 0.0;
}

void BM_TegaloSendWaiting100(benchmark::State& state) {
    SendWaiting(state, 100, "     0");
}

void BM_TegaloSendWaiting1000(benchmark::State& state) {
    SendWaiting(state, 1000, "     0");
}

void BM_TegaloSendWaiting100Eatmydata(benchmark::State& state) {
    SendWaiting(state, 100, "     0", {"eatmydata"});
}

void BM_TegaloSendWaiting1000Eatmydata(benchmark::State& state) {
    SendWaiting(state, 1000, "     0", {"eatmydata"});
}

// The messages as files, one per message, as the peers read them.
std::string MessageFiles(const std::string& dir, int count) {
    const std::string messages = dir + "/messages";
    std::filesystem::create_directories(messages);
    for (int i = 0; i < count; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "/m%05d.eml", i);
        std::ofstream(messages + name, std::ios::binary)
            << "From: taro@example.jp\r\nTo: hanako@example.jp\r\nSubject: message " << i
            << "\r\nDate: Mon, 07 Dec 2026 10:00:00 +0900\r\nMIME-Version: 1.0\r\n"
               "Content-Type: text/plain; charset=ISO-2022-JP\r\nContent-Transfer-Encoding: 7bit\r\n\r\n"
            << Body(i);
    }
    return messages;
}

// smtplib sending `count` messages in one session.
void SmtplibSend(benchmark::State& state, int count) {
    QTemporaryDir dir;
    const std::string messages = MessageFiles(dir.path().toStdString(), count);
    for (auto _ : state) {
        state.PauseTiming();
        Sink().Clear();
        state.ResumeTiming();
        if (Run({"python3", TEGALO_BENCH_DIR "/smtplib_send.py", std::to_string(Sink().Port()), messages}) != 0) {
            state.SkipWithError("smtplib_send.py failed");
            break;
        }
    }
}

void BM_SmtplibSend100(benchmark::State& state) {
    SmtplibSend(state, 100);
}

void BM_SmtplibSend1000(benchmark::State& state) {
    SmtplibSend(state, 1000);
}

void BM_MsmtpSend100(benchmark::State& state) {
    QTemporaryDir dir;
    const std::string path = dir.path().toStdString();
    const std::string messages = MessageFiles(path, 100);
    std::ofstream(path + "/msmtprc") << "";
    ::chmod((path + "/msmtprc").c_str(), 0600);
    for (auto _ : state) {
        state.PauseTiming();
        Sink().Clear();
        state.ResumeTiming();
        for (const auto& file : std::filesystem::directory_iterator(messages)) {
            const int rc = Run({"msmtp", "--file=" + path + "/msmtprc", "--host=127.0.0.1",
                                "--port=" + std::to_string(Sink().Port()), "--auth=off", "--tls=off",
                                "--from=taro@example.jp", "--", "hanako@example.jp"},
                               file.path().string());
            if (rc != 0) {
                state.SkipWithError("msmtp failed (is Debian's msmtp installed?)");
                return;
            }
        }
    }
}

} // namespace

BENCHMARK(BM_TegaloSendWaiting1000)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_TegaloSendWaiting1000Eatmydata)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_SmtplibSend1000)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_TegaloSendWaiting100Eatmydata)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_SmtplibSend100)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_TegaloSendWaiting100)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_MsmtpSend100)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_TegaloSendWaiting20Sent100kVsEmpty)->Unit(benchmark::kMillisecond)->Iterations(9)->UseManualTime();
