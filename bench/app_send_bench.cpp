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
        if (const std::string error = s->Start(); !error.empty()) {
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

// `tegalo --send-waiting` on a mailbox with `count` waiting messages and
// `sent` as its sent folder, each run from the same waiting folder, synced
// before the run. `wrapper` (eatmydata) runs it when given. The sent folder
// is written once and keeps what each run adds, as it does in use; with
// `settled`, one run before the timed ones finds its end the first time, as
// the first send with a new mailbox or a folder changed by another program
// does, once.
void SendWaiting(benchmark::State& state, int count, const std::string& sent,
                 const std::vector<std::string>& wrapper = {}, bool settled = false) {
    QTemporaryDir dir;
    NoUi ui;
    const std::string path = dir.path().toStdString();
    if (tegalo::CreateMailbox(path, ui) != tegalo::StoreStatus::kOk) {
        state.SkipWithError("mailbox");
        return;
    }
    tegalo::AccountSettings settings;
    settings.serverName = "127.0.0.1";
    settings.smtpPort = Sink().Port();
    settings.mailAccount = "taro@example.jp";
    std::ofstream(path + "/comconfig", std::ios::binary | std::ios::trunc) << tegalo::FormatAccountSettings(settings);
    const std::string& waiting = WaitingFolder(count);
    std::ofstream(path + "/sent", std::ios::binary | std::ios::trunc) << sent;
    SyncFile(path + "/sent");
    std::vector<std::string> argv = wrapper;
    argv.insert(argv.end(), {TEGALO_EXE, "--send-waiting", "--dir", path});
    auto prepare = [&] {
        std::ofstream(path + "/reserv", std::ios::binary | std::ios::trunc) << waiting;
        SyncFile(path + "/reserv");
        SyncFile(path);
        Sink().Clear();
    };
    if (settled) {
        prepare();
        if (Run(argv) != 0) {
            state.SkipWithError("tegalo --send-waiting failed");
            return;
        }
    }
    for (auto _ : state) {
        state.PauseTiming();
        prepare();
        state.ResumeTiming();
        if (Run(argv) != 0) {
            state.SkipWithError("tegalo --send-waiting failed");
            break;
        }
    }
    if (ReadAll(path + "/reserv") != "     0") {
        state.SkipWithError("not every message was sent");
    }
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

void BM_TegaloSendWaiting20(benchmark::State& state) {
    SendWaiting(state, 20, "     0", {}, true);
}

void BM_TegaloSendWaiting20Sent100k(benchmark::State& state) {
    SendWaiting(state, 20, LargeSentFolder(), {}, true);
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
BENCHMARK(BM_TegaloSendWaiting20)->Unit(benchmark::kMillisecond)->Iterations(7);
BENCHMARK(BM_TegaloSendWaiting20Sent100k)->Unit(benchmark::kMillisecond)->Iterations(7);
