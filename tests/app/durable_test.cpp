// The real `tegalo --receive` and `tegalo --send-waiting` against real
// servers (a private Dovecot, the aiosmtpd sink), ended on purpose:
//
// - killed after durable steps (TEGALO_FAIL_AFTER_STEP, see NextStep) and at each
//   phase of the conversation (TEGALO_FAIL_AT_PHASE): greeting, UIDL, each
//   RETR, each store, each DELE and QUIT of a receive; the greeting, each
//   go-ahead to DATA, each answer to a message text, each note and copy
//   after it and QUIT of a send;
// - run with a file size limit (RLIMIT_FSIZE, SIGXFSZ ignored, so that a
//   write past it fails with EFBIG, as on a full disk) at several sizes.
//
// After each such run nothing is lost (every message is on the server or
// in the mailbox, every waiting message waiting or filed as sent, each
// once) and every folder loads whole; a limited run ends non-zero and says
// why. A run after it, without kill or limit, ends with every message
// stored (or sent) exactly once. A send may repeat a message only when the
// kill fell between its final "." and the server's answer.
#include "config/AccountSettings.h"
#include "mime/Outgoing.h"
#include "store/FileIo.h"
#include "store/FolderFile.h"
#include "store/Record.h"
#include "store/TegaloDoc.h"

#include "../support/ComposeWaiting.h"
#include "../support/Dovecot.h"
#include "../support/MailSink.h"
#include "support/TestMailbox.h"

#include <QProcess>
#include <QTest>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <sys/resource.h>

using namespace tegalo;
using namespace tegalo::testing_support;

namespace {

constexpr int kMessages = 4;     // on the POP3 server
constexpr int kWaitingCount = 2; // in the waiting folder
// Far more durable steps than a session takes: a sweep that gets here never ends.
constexpr int kMaxSteps = 300;
// Every step up to here is a kill point (the first message and its
// bookkeeping); after it every second one, as later messages repeat the
// same steps. This keeps a sweep within seconds, under sanitizers too.
constexpr int kEveryStepUpTo = 30;

int NextStep(int step) {
    return step + (step < kEveryStepUpTo ? 1 : 2);
}

class SilentUi : public StoreUi {
public:
    void Message(std::string_view) override {}
};

struct Ended {
    int code = -1; // the exit code; -1 when the program crashed or hung
    QString out;
};

// Runs the program on `dir` with `mode`, the variables `env` added and, when
// `fileLimit` is not 0, no file written beyond that many bytes.
Ended RunTegalo(const QString& dir, const char* mode, const std::map<std::string, std::string>& env,
                rlim_t fileLimit = 0) {
    QProcess tegalo;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QString::fromLatin1(kFailAfterStepVariable.data(), kFailAfterStepVariable.size()));
    environment.remove(QString::fromLatin1(kFailAtPhaseVariable.data(), kFailAtPhaseVariable.size()));
    for (const auto& [name, value] : env) {
        environment.insert(QString::fromStdString(name), QString::fromStdString(value));
    }
    tegalo.setProcessEnvironment(environment);
    if (fileLimit != 0) {
        tegalo.setChildProcessModifier([fileLimit] {
            const rlimit limit{fileLimit, fileLimit};
            ::setrlimit(RLIMIT_FSIZE, &limit);
            ::signal(SIGXFSZ, SIG_IGN);
        });
    }
    tegalo.start(QStringLiteral(TEGALO_EXE), {QString::fromLatin1(mode), QStringLiteral("--dir"), dir});
    Ended ended;
    if (!tegalo.waitForFinished(60000)) {
        tegalo.kill();
        tegalo.waitForFinished();
        return ended;
    }
    ended.out = QString::fromUtf8(tegalo.readAllStandardOutput());
    ended.code = tegalo.exitStatus() == QProcess::NormalExit ? tegalo.exitCode() : -1;
    return ended;
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

int Occurrences(const std::string& text, const std::string& what) {
    int count = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++count;
    }
    return count;
}

// Starts the mailbox as the next run would (finishing what a stop left) and
// describes what is wrong with it: a start that fails, a folder that does
// not load whole. Empty when nothing.
std::string CheckMailbox(const std::string& dir) {
    SilentUi ui;
    CTegaloDoc doc(ui);
    if (doc.Start(dir, false) != StoreStatus::kOk) {
        return "the mailbox does not start";
    }
    for (int folder = kReceived; folder <= kDeleted; ++folder) {
        if (doc.LoadList(FolderName(folder)).status != StoreStatus::kOk) {
            return std::string(FolderName(folder)) + " does not load whole";
        }
    }
    return {};
}

// The subjects of a folder's records, in order.
std::vector<std::string> Subjects(const std::string& dir, int folder) {
    RecordList list;
    std::vector<std::string> subjects;
    if (ReadFolderFile(dir + std::string(FolderName(folder)), folder, list) != 0) {
        return {"(unreadable)"};
    }
    for (std::size_t i = 0; i < list.size(); ++i) {
        const std::optional<RecordPieces> pieces = SplitRecord(list[i]);
        subjects.push_back(pieces ? std::string(pieces->subject) : std::string("(damaged)"));
    }
    return subjects;
}

std::string Text(int n) {
    std::string text;
    for (int line = 0; line < 20; ++line) {
        text +=
            "line " + std::to_string(line) + " of message " + std::to_string(n) + ": " + std::string(50, 'x') + "\r\n";
    }
    return text;
}

std::string Describe(const std::vector<int>& counts) {
    std::string text;
    for (const int count : counts) {
        text += std::to_string(count) + " ";
    }
    return text;
}

// --- The receive ---

class ReceiveScene {
public:
    std::string Start() { return server_.Start({{"taro", "secret"}}); }

    // A new mailbox, and the server holding every message again.
    void Reset() {
        for (const char* sub : {"/new", "/cur"}) {
            for (const auto& entry : std::filesystem::directory_iterator(Maildir() + sub)) {
                std::filesystem::remove(entry.path());
            }
        }
        for (int n = 1; n <= kMessages; ++n) {
            server_.Deliver("taro", "From: sender@example.jp\r\nTo: taro@example.jp\r\nSubject: durable " +
                                        std::to_string(n) + "\r\nDate: Mon, 07 Dec 2026 10:00:00 +0900\r\n\r\n" +
                                        Marker(n) + "\r\n" + Text(n));
        }
        box_ = std::make_unique<TestMailbox>();
        AccountSettings settings;
        settings.serverName = "127.0.0.1";
        settings.pop3Port = server_.Port();
        settings.userName = "taro";
        settings.password = "secret";
        box_->Write("comconfig", FormatAccountSettings(settings));
    }

    Ended Run(const std::map<std::string, std::string>& env = {}, rlim_t fileLimit = 0) const {
        return RunTegalo(box_->QDir(), "--receive", env, fileLimit);
    }

    // How often each message is in the received folder, and on the server.
    std::vector<int> Stored() const {
        const std::string recv = box_->Read("recv");
        std::vector<int> counts;
        for (int n = 1; n <= kMessages; ++n) {
            counts.push_back(Occurrences(recv, Marker(n)));
        }
        return counts;
    }
    std::vector<int> OnServer() const {
        std::vector<int> counts(kMessages, 0);
        for (const char* sub : {"/new", "/cur"}) {
            for (const auto& entry : std::filesystem::directory_iterator(Maildir() + sub)) {
                const std::string text = ReadAll(entry.path().string());
                for (int n = 1; n <= kMessages; ++n) {
                    counts[static_cast<std::size_t>(n - 1)] += Occurrences(text, Marker(n));
                }
            }
        }
        return counts;
    }

    // After a run that was stopped: every message is on the server or in
    // the mailbox, none is stored twice, every folder loads whole.
    std::string Lost() const {
        if (std::string fault = CheckMailbox(box_->Dir()); !fault.empty()) {
            return fault;
        }
        const std::vector<int> stored = Stored();
        const std::vector<int> onServer = OnServer();
        for (std::size_t i = 0; i < stored.size(); ++i) {
            if (stored[i] + onServer[i] == 0 || stored[i] > 1) {
                return "stored " + Describe(stored) + "on the server " + Describe(onServer);
            }
        }
        return {};
    }

    // After a whole run: each message stored once, none left on the server.
    std::string Finished() const {
        const std::vector<int> stored = Stored();
        const std::vector<int> onServer = OnServer();
        if (stored != std::vector<int>(kMessages, 1) || onServer != std::vector<int>(kMessages, 0)) {
            return "stored " + Describe(stored) + "on the server " + Describe(onServer);
        }
        return CheckMailbox(box_->Dir());
    }

    std::size_t RecvSize() const { return box_->Read("recv").size(); }

private:
    static std::string Marker(int n) { return "marker-" + std::to_string(n) + "-end"; }
    std::string Maildir() const { return server_.Directory() + "/home/taro/Maildir"; }

    pop3_test::DovecotServer server_;
    std::unique_ptr<TestMailbox> box_;
};

// --- The send ---

class SendScene {
public:
    std::string Start() { return sink_.Start(); }

    // A new mailbox with the waiting messages; the sink has seen nothing.
    void Reset() {
        sink_.Clear();
        box_ = std::make_unique<TestMailbox>();
        AccountSettings settings;
        settings.serverName = "127.0.0.1";
        settings.smtpPort = sink_.Port();
        settings.mailAccount = "taro@example.jp";
        box_->Write("comconfig", FormatAccountSettings(settings));
        SilentUi ui;
        CTegaloDoc doc(ui);
        QVERIFY(Loaded(doc.Start(box_->Dir(), false)));
        for (int n = 1; n <= kWaitingCount; ++n) {
            const smtp_test::Draft draft{Subject(n), "hanako@example.jp", "", Text(n), {}};
            QCOMPARE(smtp_test::SaveWaiting(doc, "taro@example.jp", draft), StoreStatus::kOk);
        }
    }

    Ended Run(const std::map<std::string, std::string>& env = {}, rlim_t fileLimit = 0) const {
        return RunTegalo(box_->QDir(), "--send-waiting", env, fileLimit);
    }

    // How often the sink received each message.
    std::vector<int> Received() const {
        std::vector<int> counts(kWaitingCount, 0);
        for (const smtp_test::SinkMessage& message : sink_.Messages()) {
            for (int n = 1; n <= kWaitingCount; ++n) {
                counts[static_cast<std::size_t>(n - 1)] += message.subject == Subject(n) ? 1 : 0;
            }
        }
        return counts;
    }

    // How often each message is in the waiting folder and in the sent folder.
    std::vector<int> Kept(int folder) const {
        std::vector<int> counts(kWaitingCount, 0);
        for (const std::string& subject : Subjects(box_->Dir(), folder)) {
            for (int n = 1; n <= kWaitingCount; ++n) {
                counts[static_cast<std::size_t>(n - 1)] += subject == Subject(n) ? 1 : 0;
            }
        }
        return counts;
    }

    // After a run that was stopped and the start after it: every message is
    // either waiting or filed as sent, once; none went out twice; every
    // folder loads whole.
    std::string Lost() const {
        if (std::string fault = CheckMailbox(box_->Dir()); !fault.empty()) {
            return fault;
        }
        const std::vector<int> waiting = Kept(tegalo::kWaiting);
        const std::vector<int> sent = Kept(kSent);
        const std::vector<int> received = Received();
        for (std::size_t i = 0; i < waiting.size(); ++i) {
            if (waiting[i] + sent[i] != 1 || received[i] > 1 || (sent[i] == 1 && received[i] == 0)) {
                return "waiting " + Describe(waiting) + "sent " + Describe(sent) + "received " + Describe(received);
            }
        }
        return {};
    }

    // After a whole run: each message sent and filed once, none waiting;
    // message `repeated` (from 1) may have gone out twice.
    std::string Finished(int repeated = 0) const {
        if (std::string fault = CheckMailbox(box_->Dir()); !fault.empty()) {
            return fault;
        }
        const std::vector<int> waiting = Kept(tegalo::kWaiting);
        const std::vector<int> sent = Kept(kSent);
        const std::vector<int> received = Received();
        for (std::size_t i = 0; i < waiting.size(); ++i) {
            const int allowed = static_cast<int>(i) + 1 == repeated ? 2 : 1;
            if (waiting[i] != 0 || sent[i] != 1 || received[i] < 1 || received[i] > allowed) {
                return "waiting " + Describe(waiting) + "sent " + Describe(sent) + "received " + Describe(received);
            }
        }
        return {};
    }

    std::size_t SentSize() const { return box_->Read("sent").size(); }

private:
    static std::string Subject(int n) { return "durable " + std::to_string(n); }

    smtp_test::MailSink sink_;
    std::unique_ptr<TestMailbox> box_;
};

std::string PhaseValue(const std::string& phase, int n) {
    return phase + ":" + std::to_string(n);
}

// After a run that was stopped: nothing may be lost, and a run without
// the stop must succeed and finish the work, each message handled once
// (`repeated`, for a send, names the one message that may have gone out
// twice). Empty when all held, else what failed.
template <typename Scene, typename... Repeated>
std::string Recovered(const Scene& scene, Repeated... repeated) {
    if (std::string lost = scene.Lost(); !lost.empty()) {
        return lost;
    }
    const Ended next = scene.Run();
    if (next.code != 0) {
        return "the next run: " + next.out.toStdString();
    }
    return scene.Finished(repeated...);
}

// A run of `scene` whose files cannot grow beyond `limit` bytes: it must
// end non-zero (not by the kill seam), print `says`, and leave what
// Recovered asks. Empty when all held, else what failed.
template <typename Scene, typename... Repeated>
std::string FullDiskFault(Scene& scene, rlim_t limit, const QString& says, Repeated... repeated) {
    const std::string at = "limit " + std::to_string(limit) + ": ";
    scene.Reset();
    const Ended limited = scene.Run({}, limit);
    if (limited.code == 0 || limited.code == kFailAfterStepExit) {
        return at + "ended with " + std::to_string(limited.code) + " " + limited.out.toStdString();
    }
    if (!limited.out.contains(says)) {
        return at + limited.out.toStdString();
    }
    const std::string recovered = Recovered(scene, repeated...);
    return recovered.empty() ? std::string() : at + recovered;
}

// A run of `scene` ended when it reaches the phase `point` names: it must
// end by the kill seam, and leave what Recovered asks. Empty when all held,
// else what failed.
template <typename Scene, typename... Repeated>
std::string PhaseKillFault(Scene& scene, const std::string& point, Repeated... repeated) {
    const std::string at = "killed at " + point + ": ";
    scene.Reset();
    const Ended killed = scene.Run({{std::string(kFailAtPhaseVariable), point}});
    if (killed.code != kFailAfterStepExit) {
        return at + "ended with " + std::to_string(killed.code) + " " + killed.out.toStdString();
    }
    const std::string recovered = Recovered(scene, repeated...);
    return recovered.empty() ? std::string() : at + recovered;
}

// Ends a run of `scene` after durable step 1, 2, ... (see NextStep) until a
// run completes; after each, nothing may be lost, and a run without the
// kill must finish the work with each message handled exactly once (every
// step comes after the server's answer was read, so nothing may go out
// twice either). Empty when all held, else what failed.
template <typename Scene>
std::string KillAfterEveryDurableStep(Scene& scene, const char* what) {
    if (const std::string error = scene.Start(); !error.empty()) {
        return error;
    }
    int stops = 0;
    for (int step = 1;; step = NextStep(step)) {
        if (step >= kMaxSteps) {
            return std::string("the ") + what + " never completes";
        }
        scene.Reset();
        const Ended killed = scene.Run({{std::string(kFailAfterStepVariable), std::to_string(step)}});
        const std::string at = "killed after step " + std::to_string(step) + ": ";
        if (killed.code != 0 && killed.code != kFailAfterStepExit) {
            return at + "ended with " + std::to_string(killed.code);
        }
        if (const std::string recovered = Recovered(scene); !recovered.empty()) {
            return at + recovered;
        }
        if (killed.code == 0) {
            return stops > 5 ? std::string() : std::string("too few steps: ") + std::to_string(stops);
        }
        ++stops;
    }
}

} // namespace

class DurableTest : public QObject {
    Q_OBJECT

private slots:
    void receiveKilledAfterEveryDurableStep() {
        ReceiveScene scene;
        const std::string failed = KillAfterEveryDurableStep(scene, "receive");
        QVERIFY2(failed.empty(), failed.c_str());
    }

    void receiveKilledAtEveryPhase() {
        ReceiveScene scene;
        const std::string error = scene.Start();
        QVERIFY2(error.empty(), error.c_str());
        std::vector<std::string> points = {PhaseValue("pop3-greeting", 1), PhaseValue("pop3-uidl", 1),
                                           PhaseValue("pop3-quit", 1)};
        for (const char* phase : {"pop3-retr", "pop3-store", "pop3-dele"}) {
            for (int n = 1; n <= kMessages; ++n) {
                points.push_back(PhaseValue(phase, n));
            }
        }
        for (const std::string& point : points) {
            const std::string fault = PhaseKillFault(scene, point);
            QVERIFY2(fault.empty(), fault.c_str());
        }
    }

    void sendKilledAfterEveryDurableStep() {
        SendScene scene;
        const std::string failed = KillAfterEveryDurableStep(scene, "send");
        QVERIFY2(failed.empty(), failed.c_str());
    }

    void sendKilledAtEveryPhase() {
        SendScene scene;
        const std::string error = scene.Start();
        QVERIFY2(error.empty(), error.c_str());
        struct Point {
            std::string value;
            int repeated; // the message that may go out twice
        };
        std::vector<Point> points = {{PhaseValue("smtp-greeting", 1), 0}, {PhaseValue("smtp-quit", 1), 0}};
        for (int n = 1; n <= kWaitingCount; ++n) {
            points.push_back({PhaseValue("smtp-data", n), 0});
            // The server took the message, its answer is not read yet.
            points.push_back({PhaseValue("smtp-250", n), n});
            points.push_back({PhaseValue("smtp-noted", n), 0});
            points.push_back({PhaseValue("smtp-filed", n), 0});
        }
        for (const Point& point : points) {
            const std::string fault = PhaseKillFault(scene, point.value, point.repeated);
            QVERIFY2(fault.empty(), fault.c_str());
        }
    }

    // The received folder can grow only so far: the receive stops at the
    // first message it cannot store, deletes from the server only what it
    // stored whole, says so and ends non-zero; the next run stores the rest.
    void receiveWithAFullDisk() {
        ReceiveScene scene;
        const std::string error = scene.Start();
        QVERIFY2(error.empty(), error.c_str());
        scene.Reset();
        QCOMPARE(scene.Run().code, 0);
        const std::size_t whole = scene.RecvSize();
        for (int fifth = 1; fifth <= 4; ++fifth) {
            const std::string fault = FullDiskFault(scene, whole * static_cast<rlim_t>(fifth) / 5,
                                                    QStringLiteral("received folder not written"));
            QVERIFY2(fault.empty(), fault.c_str());
        }
    }

    // The sent folder can grow only so far: the send stops at the first
    // copy it cannot file (QUIT, nothing more sent), says so and ends
    // non-zero; the next run files what went out and sends only the rest.
    // Below the size of one journal line not even the server's acceptance
    // can be recorded: that message alone goes out again, as the program
    // warned.
    void sendWithAFullDisk() {
        SendScene scene;
        const std::string error = scene.Start();
        QVERIFY2(error.empty(), error.c_str());
        scene.Reset();
        QCOMPARE(scene.Run().code, 0);
        const std::size_t whole = scene.SentSize();
        struct Row {
            rlim_t limit;
            QString says;
            int repeated;
        };
        std::vector<Row> rows = {{16, QStringLiteral("Stopped: Sent Message Not Recorded on Disk"), 1}};
        for (int fifth = 1; fifth <= 4; ++fifth) {
            rows.push_back(
                {whole * static_cast<rlim_t>(fifth) / 5, QStringLiteral("Stopped: Sent Copy Not Saved to Disk"), 0});
        }
        for (const Row& row : rows) {
            const std::string fault = FullDiskFault(scene, row.limit, row.says, row.repeated);
            QVERIFY2(fault.empty(), fault.c_str());
        }
    }
};

QTEST_GUILESS_MAIN(DurableTest)
#include "durable_test.moc"
