// Receiving 1,000 and 200 messages of about 5 KB from a local Dovecot: `tegalo
// --receive` against mpop fetching the same mailbox into a maildir and into
// an mbox file, as they are and both under eatmydata (mpop syncs every
// message, Tegalo once per batch), and against Python's poplib writing them
// to one file with one sync; and the
// window receiving into a shown received folder that already holds 100,000
// messages against an empty one, and into it while another folder is shown
// against while it is shown. bench/run prints the ratios.
#include "app/MainFrm.h"
#include "app/TegaloApp.h"
#include "app/TegaloTreeView.h"
#include "session/MailSessions.h"
#include "config/AccountSettings.h"
#include "config/NewMailbox.h"
#include "store/Record.h"
#include "store/TegaloDoc.h"
#include "ui/TegaloListView.h"

#include "../tests/support/Dovecot.h"

#include "AppBenchSupport.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <filesystem>
#include <fstream>
#include <random>
#include <sys/wait.h>
#include <vector>

namespace {

// Two accounts on the server, so that every comparison is made at two sizes.
struct Account {
    const char* user;
    int messages;
};
constexpr Account kLarge{"taro", 1000};
constexpr Account kSmall{"jiro", 200};

using tegalo::bench::NoUi;
using tegalo::bench::Run;

std::string SampleMessage(int i) {
    const std::string body = tegalo::bench::SampleBody(i);
    return "From: sender" + std::to_string(i) + "@example.jp\r\nTo: taro@example.jp\r\nSubject: message " +
           std::to_string(i) + "\r\nDate: Mon, 07 Dec 2026 10:00:00 +0900\r\n"
           "Content-Type: text/plain; charset=ISO-2022-JP\r\n\r\n" + body;
}

// One Dovecot with both accounts for the whole run.
tegalo::pop3_test::DovecotServer& Server() {
    static tegalo::pop3_test::DovecotServer* server = [] {
        auto* s = new tegalo::pop3_test::DovecotServer;
        if (const std::string error = s->Start({{kLarge.user, "secret"}, {kSmall.user, "secret"}}); !error.empty()) {
            throw std::runtime_error("dovecot: " + error);
        }
        for (const Account& account : {kLarge, kSmall}) {
            for (int i = 0; i < account.messages; ++i) {
                s->Deliver(account.user, SampleMessage(i));
            }
            // One fetch of everything before any timing: Dovecot builds its
            // index of a mailbox at the first session, which would else be
            // timed for whichever benchmark comes first.
            const std::string scratch = std::filesystem::temp_directory_path() / "tegalo-bench-warmup";
            tegalo::bench::Run({"python3", TEGALO_BENCH_DIR "/poplib_receive.py", std::to_string(s->Port()),
                                account.user, "secret", scratch});
            std::filesystem::remove(scratch);
        }
        std::atexit([] { Server().Stop(); });
        return s;
    }();
    return *server;
}

void Configure(const std::string& dir, const Account& account) {
    tegalo::AccountSettings settings;
    settings.serverName = "127.0.0.1";
    settings.pop3Port = Server().Port();
    settings.userName = account.user;
    settings.password = "secret";
    settings.keepOnServer = true; // every run fetches the same messages
    // Automatic login asks the server's capabilities (CAPA) first, as mpop
    // always does: so Tegalo learns, as mpop does, that the server takes
    // pipelined commands. Dovecot then takes the password by SASL PLAIN,
    // one exchange, where mpop's --auth=user takes two.
    settings.pop3Login = tegalo::Pop3Login::Automatic;
    std::ofstream(dir + "/comconfig", std::ios::binary | std::ios::trunc) << tegalo::FormatAccountSettings(settings);
}


// A new mailbox in `dir` with the account of the Dovecot above.
bool MakeMailbox(const QTemporaryDir& dir, benchmark::State& state, const Account& account = kLarge) {
    NoUi ui;
    if (tegalo::CreateMailbox(dir.path().toStdString(), ui) != tegalo::StoreStatus::kOk) {
        state.SkipWithError("mailbox");
        return false;
    }
    Configure(dir.path().toStdString(), account);
    return true;
}

// `tegalo --receive` into an empty received folder, run through `wrapper`
// (eatmydata) when given.
void TegaloReceive(benchmark::State& state, const std::vector<std::string>& wrapper, const Account& account) {
    QTemporaryDir dir;
    if (!MakeMailbox(dir, state, account)) {
        return;
    }
    const std::string path = dir.path().toStdString();
    std::vector<std::string> argv = wrapper;
    argv.insert(argv.end(), {TEGALO_EXE, "--receive", "--dir", path});
    for (auto _ : state) {
        state.PauseTiming();
        std::ofstream(path + "/recv", std::ios::binary | std::ios::trunc) << "     0";
        tegalo::bench::SetAside(path + "/recv.uidl");
        // The originals of the last run too: left there, every message of
        // the next run would be a second copy of one already kept.
        tegalo::bench::SetAside(path + "/originals");
        state.ResumeTiming();
        if (Run(argv) != 0) {
            state.SkipWithError("tegalo --receive failed");
            break;
        }
    }
    std::ifstream recv(path + "/recv", std::ios::binary);
    std::string count(6, ' ');
    recv.read(count.data(), 6);
    if (std::stoi(count) != account.messages) {
        state.SkipWithError("not every message was stored");
    }
    // Not deleted with the directory either: the next benchmark would pay.
    tegalo::bench::SetAside(path + "/originals");
}

void BM_TegaloReceive1000(benchmark::State& state) {
    TegaloReceive(state, {}, kLarge);
}

void BM_TegaloReceive1000Eatmydata(benchmark::State& state) {
    TegaloReceive(state, {"eatmydata"}, kLarge);
}

void BM_TegaloReceive200(benchmark::State& state) {
    TegaloReceive(state, {}, kSmall);
}

void BM_TegaloReceive200Eatmydata(benchmark::State& state) {
    TegaloReceive(state, {"eatmydata"}, kSmall);
}

// mpop fetching every message into a maildir or an mbox file (it syncs
// each message it delivers), run through `wrapper` when given.
void MpopReceive(benchmark::State& state, bool maildir, const std::vector<std::string>& wrapper,
                 const Account& account) {
    QTemporaryDir dir;
    const std::string path = dir.path().toStdString();
    std::ofstream(path + "/mpoprc") << "";
    std::filesystem::permissions(path + "/mpoprc", std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    std::vector<std::string> argv = wrapper;
    argv.insert(argv.end(), {"mpop", "--file=" + path + "/mpoprc", "--host=127.0.0.1",
                             "--port=" + std::to_string(Server().Port()), "--auth=user", std::string("--user=") + account.user,
                             "--passwordeval=echo secret", "--tls=off", "--keep=on", "--only-new=off",
                             "--received-header=off", "--uidls-file=" + path + "/uidls",
                             maildir ? "--delivery=maildir," + path + "/Maildir" : "--delivery=mbox," + path + "/mbox",
                             "-q"});
    for (auto _ : state) {
        state.PauseTiming();
        tegalo::bench::SetAside(path + "/Maildir");
        for (const char* sub : {"cur", "new", "tmp"}) {
            std::filesystem::create_directories(path + "/Maildir/" + sub);
        }
        tegalo::bench::SetAside(path + "/mbox");
        tegalo::bench::SetAside(path + "/uidls");
        state.ResumeTiming();
        if (Run(argv) != 0) {
            state.SkipWithError("mpop failed (is Debian's mpop installed?)");
            return;
        }
    }
    int stored = 0;
    if (maildir) {
        for (const char* sub : {"/Maildir/new", "/Maildir/cur"}) {
            for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(path + sub)) {
                ++stored;
            }
        }
    } else {
        std::ifstream mbox(path + "/mbox", std::ios::binary);
        for (std::string line; std::getline(mbox, line);) {
            stored += line.starts_with("From ") ? 1 : 0;
        }
    }
    if (stored != account.messages) {
        state.SkipWithError("mpop did not store every message");
    }
    tegalo::bench::SetAside(path + "/Maildir");
}

void BM_MpopReceive1000(benchmark::State& state) {
    MpopReceive(state, true, {}, kLarge);
}

void BM_MpopReceive1000Mbox(benchmark::State& state) {
    MpopReceive(state, false, {}, kLarge);
}

void BM_MpopReceive1000Eatmydata(benchmark::State& state) {
    MpopReceive(state, true, {"eatmydata"}, kLarge);
}

void BM_MpopReceive1000MboxEatmydata(benchmark::State& state) {
    MpopReceive(state, false, {"eatmydata"}, kLarge);
}

void BM_MpopReceive200Eatmydata(benchmark::State& state) {
    MpopReceive(state, true, {"eatmydata"}, kSmall);
}

void BM_MpopReceive200MboxEatmydata(benchmark::State& state) {
    MpopReceive(state, false, {"eatmydata"}, kSmall);
}

// Python's poplib: every message fetched, written to one file, one sync.
void PoplibReceive(benchmark::State& state, const Account& account) {
    QTemporaryDir dir;
    const std::string file = dir.filePath(QStringLiteral("messages")).toStdString();
    for (auto _ : state) {
        if (Run({"python3", TEGALO_BENCH_DIR "/poplib_receive.py", std::to_string(Server().Port()), account.user, "secret",
                 file}) != 0) {
            state.SkipWithError("poplib_receive.py failed");
            break;
        }
    }
}

void BM_PoplibReceive1000(benchmark::State& state) {
    PoplibReceive(state, kLarge);
}

void BM_PoplibReceive200(benchmark::State& state) {
    PoplibReceive(state, kSmall);
}

// The server alone: every message of the account sent to a client that
// sends all its commands at once and keeps nothing (bash reading the
// connection into /dev/null). No POP3 client can take less than this.
void ServerAlone(benchmark::State& state, const Account& account) {
    QTemporaryDir dir;
    const std::string commands = dir.filePath(QStringLiteral("commands")).toStdString();
    {
        std::ofstream out(commands, std::ios::binary);
        out << "USER " << account.user << "\r\nPASS secret\r\n";
        for (int i = 1; i <= account.messages; ++i) {
            out << "RETR " << i << "\r\n";
        }
        out << "QUIT\r\n";
    }
    const std::string script = "exec 3<>/dev/tcp/127.0.0.1/" + std::to_string(Server().Port()) + "; cat '" + commands +
                               "' >&3 & cat <&3 >/dev/null; wait";
    for (auto _ : state) {
        if (Run({"bash", "-c", script}) != 0) {
            state.SkipWithError("bash could not fetch");
            break;
        }
    }
}

void BM_ServerAlone1000(benchmark::State& state) {
    ServerAlone(state, kLarge);
}

void BM_ServerAlone200(benchmark::State& state) {
    ServerAlone(state, kSmall);
}

// The window, receiving while the received folder is shown, or while
// another one (the sent folder) is.
void ReceiveInWindow(benchmark::State& state, int existing, bool otherShown = false) {
    QTemporaryDir dir;
    if (!MakeMailbox(dir, state)) {
        return;
    }
    const std::string path = dir.path().toStdString();
    std::string folder = tegalo::FormatField(existing);
    for (int i = 0; i < existing; ++i) {
        tegalo::RecordPieces pieces;
        const std::string subject = "old " + std::to_string(i);
        const std::string body(1900, 'x');
        pieces.subject = subject;
        pieces.sender = "a@example.jp";
        pieces.date = "Mon, 07 Dec 2026";
        pieces.header = "Subject: old\r\n";
        pieces.body = body;
        folder += tegalo::BuildRecord(tegalo::SizesFor(pieces, 0, 0), tegalo::JoinPieces(pieces));
    }
    for (auto _ : state) {
        state.PauseTiming();
        std::ofstream(path + "/recv", std::ios::binary | std::ios::trunc) << folder;
        tegalo::bench::SetAside(path + "/recv.uidl");
        tegalo::bench::SetAside(path + "/originals");
        auto app = std::make_unique<tegalo::CTegaloApp>();
        if (!app->InitInstance(dir.path())) {
            state.SkipWithError("start");
            break;
        }
        tegalo::CTegaloListView& list = *app->mainFrame()->listView();
        QApplication::processEvents();
        if (otherShown) {
            tegalo::CMainFrame& frame = *app->mainFrame();
            frame.treeView()->setCurrentItem(frame.treeView()->ItemForFolder(tegalo::kSent));
            QApplication::processEvents();
        }
        state.ResumeTiming();
        list.sessions().StartReceive();
        while (list.sessions().Busy()) {
            QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        }
        QApplication::processEvents();
        state.PauseTiming();
        std::ifstream recv(path + "/recv", std::ios::binary);
        std::string count(6, ' ');
        recv.read(count.data(), 6);
        if (std::stoi(count) != existing + kLarge.messages) {
            state.SkipWithError("not every message was stored");
        }
        app.reset();
        state.ResumeTiming();
    }
    tegalo::bench::SetAside(path + "/originals");
}

void BM_WindowReceive1000IntoEmpty(benchmark::State& state) {
    ReceiveInWindow(state, 0);
}

void BM_WindowReceive1000Into100k(benchmark::State& state) {
    ReceiveInWindow(state, 100000);
}

void BM_WindowReceive1000Into100kOtherShown(benchmark::State& state) {
    ReceiveInWindow(state, 100000, true);
}

} // namespace

BENCHMARK(BM_TegaloReceive1000)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_MpopReceive1000)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_MpopReceive1000Mbox)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_TegaloReceive1000Eatmydata)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_MpopReceive1000Eatmydata)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_MpopReceive1000MboxEatmydata)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_PoplibReceive1000)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_ServerAlone1000)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_ServerAlone200)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_TegaloReceive200)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_TegaloReceive200Eatmydata)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_MpopReceive200Eatmydata)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_MpopReceive200MboxEatmydata)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_PoplibReceive200)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_WindowReceive1000IntoEmpty)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_WindowReceive1000Into100k)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_WindowReceive1000Into100kOtherShown)->Unit(benchmark::kMillisecond)->Iterations(3);
