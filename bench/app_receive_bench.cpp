// Receiving 1,000 and 200 messages of about 5 KB from a local Dovecot: `tegalo
// --receive` against mpop fetching the same mailbox into a maildir and into
// an mbox file, as they are and both under eatmydata (mpop syncs every
// message, Tegalo once per batch; these take turns, medians compared), and
// against Python's poplib writing them to one file with one sync; and the
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

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>
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

// One program receiving every message of an account into a directory of its
// own. Prepare() puts things back as before the first receive (outside the
// timing), Receive() runs the program once, Stored() counts what the last
// run stored.
class Receiver {
public:
    virtual ~Receiver() = default;
    // Empty when the receiver is set up, else why not.
    virtual std::string Problem() const { return {}; }
    virtual void Prepare() = 0;
    // Empty when the program ended well, else what failed.
    virtual std::string Receive() = 0;
    virtual int Stored() const = 0;
};

// `tegalo --receive` into an empty received folder, run through `wrapper`
// (eatmydata) when given.
class TegaloReceiver final : public Receiver {
public:
    TegaloReceiver(const std::vector<std::string>& wrapper, const Account& account) : path_(dir_.path().toStdString()) {
        NoUi ui;
        made_ = tegalo::CreateMailbox(path_, ui) == tegalo::StoreStatus::kOk;
        if (made_) {
            Configure(path_, account);
        }
        argv_ = wrapper;
        argv_.insert(argv_.end(), {TEGALO_EXE, "--receive", "--dir", path_});
    }
    ~TegaloReceiver() override {
        // Not deleted with the directory either: the next benchmark would pay.
        tegalo::bench::SetAside(path_ + "/originals");
    }
    std::string Problem() const override { return made_ ? std::string() : "mailbox"; }
    void Prepare() override {
        std::ofstream(path_ + "/recv", std::ios::binary | std::ios::trunc) << "     0";
        tegalo::bench::SetAside(path_ + "/recv.uidl");
        // The originals of the last run too: left there, every message of
        // the next run would be a second copy of one already kept.
        tegalo::bench::SetAside(path_ + "/originals");
    }
    std::string Receive() override { return Run(argv_) == 0 ? std::string() : "tegalo --receive failed"; }
    int Stored() const override {
        std::ifstream recv(path_ + "/recv", std::ios::binary);
        std::string count(6, ' ');
        recv.read(count.data(), 6);
        return std::atoi(count.c_str());
    }

private:
    QTemporaryDir dir_;
    std::string path_;
    bool made_ = false;
    std::vector<std::string> argv_;
};

// mpop fetching every message into a maildir or an mbox file (it syncs
// each message it delivers), run through `wrapper` when given.
class MpopReceiver final : public Receiver {
public:
    MpopReceiver(bool maildir, const std::vector<std::string>& wrapper, const Account& account)
        : maildir_(maildir), path_(dir_.path().toStdString()) {
        std::ofstream(path_ + "/mpoprc") << "";
        std::filesystem::permissions(path_ + "/mpoprc",
                                     std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
        argv_ = wrapper;
        argv_.insert(argv_.end(), {"mpop", "--file=" + path_ + "/mpoprc", "--host=127.0.0.1",
                                   "--port=" + std::to_string(Server().Port()), "--auth=user",
                                   std::string("--user=") + account.user, "--passwordeval=echo secret", "--tls=off",
                                   "--keep=on", "--only-new=off", "--received-header=off",
                                   "--uidls-file=" + path_ + "/uidls",
                                   maildir ? "--delivery=maildir," + path_ + "/Maildir"
                                           : "--delivery=mbox," + path_ + "/mbox",
                                   "-q"});
    }
    ~MpopReceiver() override { tegalo::bench::SetAside(path_ + "/Maildir"); }
    void Prepare() override {
        tegalo::bench::SetAside(path_ + "/Maildir");
        for (const char* sub : {"cur", "new", "tmp"}) {
            std::filesystem::create_directories(path_ + "/Maildir/" + sub);
        }
        tegalo::bench::SetAside(path_ + "/mbox");
        tegalo::bench::SetAside(path_ + "/uidls");
    }
    std::string Receive() override {
        return Run(argv_) == 0 ? std::string() : "mpop failed (is Debian's mpop installed?)";
    }
    int Stored() const override {
        int stored = 0;
        if (maildir_) {
            for (const char* sub : {"/Maildir/new", "/Maildir/cur"}) {
                for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(path_ + sub)) {
                    ++stored;
                }
            }
        } else {
            std::ifstream mbox(path_ + "/mbox", std::ios::binary);
            for (std::string line; std::getline(mbox, line);) {
                stored += line.starts_with("From ") ? 1 : 0;
            }
        }
        return stored;
    }

private:
    bool maildir_;
    QTemporaryDir dir_;
    std::string path_;
    std::vector<std::string> argv_;
};

// The server alone: every message of the account sent to a client that
// sends all its commands at once and keeps nothing (bash reading the
// connection into /dev/null). No POP3 client can take less than this.
class ServerAlone final : public Receiver {
public:
    explicit ServerAlone(const Account& account) : messages_(account.messages) {
        const std::string commands = dir_.filePath(QStringLiteral("commands")).toStdString();
        std::ofstream out(commands, std::ios::binary);
        out << "USER " << account.user << "\r\nPASS secret\r\n";
        for (int i = 1; i <= account.messages; ++i) {
            out << "RETR " << i << "\r\n";
        }
        out << "QUIT\r\n";
        script_ = "exec 3<>/dev/tcp/127.0.0.1/" + std::to_string(Server().Port()) + "; cat '" + commands +
                  "' >&3 & cat <&3 >/dev/null; wait";
    }
    void Prepare() override {}
    std::string Receive() override {
        return Run({"bash", "-c", script_}) == 0 ? std::string() : "bash could not fetch";
    }
    int Stored() const override { return messages_; } // keeps nothing, by design

private:
    QTemporaryDir dir_;
    int messages_;
    std::string script_;
};

// Python's poplib: every message fetched, written to one file, one sync.
class PoplibReceiver final : public Receiver {
public:
    explicit PoplibReceiver(const Account& account)
        : account_(account), file_(dir_.filePath(QStringLiteral("messages")).toStdString()) {}
    void Prepare() override {}
    std::string Receive() override {
        return Run({"python3", TEGALO_BENCH_DIR "/poplib_receive.py", std::to_string(Server().Port()), account_.user,
                    "secret", file_}) == 0
                   ? std::string()
                   : "poplib_receive.py failed";
    }
    int Stored() const override { return account_.messages; } // the script fails unless it wrote them all

private:
    Account account_;
    QTemporaryDir dir_;
    std::string file_;
};

// Times `receiver` receiving `account`'s messages, once an iteration.
void Repeat(benchmark::State& state, Receiver&& receiver, const Account& account) {
    if (const std::string problem = receiver.Problem(); !problem.empty()) {
        state.SkipWithError(problem.c_str());
        return;
    }
    for (auto _ : state) {
        state.PauseTiming();
        receiver.Prepare();
        state.ResumeTiming();
        if (const std::string failed = receiver.Receive(); !failed.empty()) {
            state.SkipWithError(failed.c_str());
            return;
        }
    }
    if (receiver.Stored() != account.messages) {
        state.SkipWithError("not every message was stored");
    }
}

// Receivers taking turns, each iteration all of them in an order that moves
// on by one each time, so that every one meets the machine (the file
// system's state) in every position alike, each after the disk has taken
// what was written before it. Reports the median time
// of each as counter `<name>_ms`, and the first one's median against each
// other's as `vs_<name>`. The iteration time is the first one's. Returns
// the medians, in the order of `receivers` (empty when a run failed).
std::vector<double> Turns(benchmark::State& state, std::vector<std::pair<std::string, std::unique_ptr<Receiver>>>& receivers,
           const Account& account) {
    for (const auto& [name, receiver] : receivers) {
        if (const std::string problem = receiver->Problem(); !problem.empty()) {
            state.SkipWithError((name + ": " + problem).c_str());
            return {};
        }
    }
    std::vector<std::vector<double>> times(receivers.size());
    std::size_t turn = 0;
    for (auto _ : state) {
        for (std::size_t k = 0; k < receivers.size(); ++k) {
            const std::size_t i = (turn + k) % receivers.size();
            Receiver& receiver = *receivers[i].second;
            receiver.Prepare();
            // What earlier runs (and earlier benchmarks) left to write back
            // goes to the disk first: no run pays for another's writes.
            ::sync();
            const auto start = std::chrono::steady_clock::now();
            if (const std::string failed = receiver.Receive(); !failed.empty()) {
                state.SkipWithError((receivers[i].first + ": " + failed).c_str());
                return {};
            }
            times[i].push_back(
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
            if (receiver.Stored() != account.messages) {
                state.SkipWithError((receivers[i].first + ": not every message was stored").c_str());
                return {};
            }
        }
        state.SetIterationTime(times[0].back() / 1000.0);
        ++turn;
    }
    auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v.empty() ? 0.0 : v[v.size() / 2];
    };
    std::vector<double> medians;
    for (std::size_t i = 0; i < receivers.size(); ++i) {
        medians.push_back(median(times[i]));
        state.counters[receivers[i].first + "_ms"] = medians[i];
        if (i > 0 && medians[i] > 0) {
            state.counters["vs_" + receivers[i].first] = medians[0] / medians[i];
        }
    }
    return medians;
}

void BM_TegaloReceive1000(benchmark::State& state) {
    Repeat(state, TegaloReceiver({}, kLarge), kLarge);
}

void BM_TegaloReceive200(benchmark::State& state) {
    Repeat(state, TegaloReceiver({}, kSmall), kSmall);
}

void BM_MpopReceive1000(benchmark::State& state) {
    Repeat(state, MpopReceiver(true, {}, kLarge), kLarge);
}

void BM_MpopReceive1000Mbox(benchmark::State& state) {
    Repeat(state, MpopReceiver(false, {}, kLarge), kLarge);
}

void BM_PoplibReceive1000(benchmark::State& state) {
    Repeat(state, PoplibReceiver(kLarge), kLarge);
}

void BM_PoplibReceive200(benchmark::State& state) {
    Repeat(state, PoplibReceiver(kSmall), kSmall);
}

// With equal durability: Tegalo, mpop to a maildir and to an mbox, all under
// eatmydata (mpop syncs every message, Tegalo once per receive), and the
// server alone, taking turns.
void ReceiveTurnsEatmydata(benchmark::State& state, const Account& account) {
    std::vector<std::pair<std::string, std::unique_ptr<Receiver>>> receivers;
    receivers.emplace_back("tegalo", std::make_unique<TegaloReceiver>(std::vector<std::string>{"eatmydata"}, account));
    receivers.emplace_back("mpop_maildir",
                           std::make_unique<MpopReceiver>(true, std::vector<std::string>{"eatmydata"}, account));
    receivers.emplace_back("mpop_mbox",
                           std::make_unique<MpopReceiver>(false, std::vector<std::string>{"eatmydata"}, account));
    receivers.emplace_back("server_alone", std::make_unique<ServerAlone>(account));
    const std::vector<double> medians = Turns(state, receivers, account);
    // The reference: the server alone against mpop to mbox.
    if (medians.size() == 4 && medians[2] > 0) {
        state.counters["server_vs_mpop_mbox"] = medians[3] / medians[2];
    }
}

void BM_ReceiveTurns1000Eatmydata(benchmark::State& state) {
    ReceiveTurnsEatmydata(state, kLarge);
}

void BM_ReceiveTurns200Eatmydata(benchmark::State& state) {
    ReceiveTurnsEatmydata(state, kSmall);
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
BENCHMARK(BM_PoplibReceive1000)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_ReceiveTurns1000Eatmydata)->Unit(benchmark::kMillisecond)->Iterations(9)->UseManualTime();
BENCHMARK(BM_TegaloReceive200)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_PoplibReceive200)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_ReceiveTurns200Eatmydata)->Unit(benchmark::kMillisecond)->Iterations(9)->UseManualTime();
BENCHMARK(BM_WindowReceive1000IntoEmpty)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_WindowReceive1000Into100k)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_WindowReceive1000Into100kOtherShown)->Unit(benchmark::kMillisecond)->Iterations(3);
