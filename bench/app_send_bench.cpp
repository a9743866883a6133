// Sending 200 waiting messages of about 5 KB to a local SMTP sink: `tegalo
// --send-waiting` against msmtp sending the same messages. bench/run prints
// the ratio.
#include "config/AccountSettings.h"
#include "config/NewMailbox.h"
#include "store/TegaloDoc.h"

#include "../tests/support/ComposeWaiting.h"
#include "../tests/support/MailSink.h"

#include "AppBenchSupport.h"

#include <benchmark/benchmark.h>

#include <QTemporaryDir>

#include <fcntl.h>
#include <fstream>
#include <random>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>

namespace {

constexpr int kMessages = 200;

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

void BM_TegaloSendWaiting200(benchmark::State& state) {
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
    {
        tegalo::CTegaloDoc doc(ui);
        if (!tegalo::Loaded(doc.Start(path))) {
            state.SkipWithError("start");
            return;
        }
        for (int i = 0; i < kMessages; ++i) {
            const tegalo::smtp_test::Draft draft{"message " + std::to_string(i), "hanako@example.jp", "", Body(i), {}};
            if (tegalo::smtp_test::SaveWaiting(doc, "taro@example.jp", draft) != tegalo::StoreStatus::kOk) {
                state.SkipWithError("waiting folder");
                return;
            }
        }
    }
    const std::string waiting = ReadAll(path + "/reserv");
    for (auto _ : state) {
        state.PauseTiming();
        std::ofstream(path + "/reserv", std::ios::binary | std::ios::trunc) << waiting;
        std::ofstream(path + "/sent", std::ios::binary | std::ios::trunc) << "     0";
        Sink().Clear();
        state.ResumeTiming();
        if (Run({TEGALO_EXE, "--send-waiting", "--dir", path}) != 0) {
            state.SkipWithError("tegalo --send-waiting failed");
            break;
        }
    }
    if (ReadAll(path + "/reserv") != "     0") {
        state.SkipWithError("not every message was sent");
    }
}

void BM_MsmtpSend200(benchmark::State& state) {
    QTemporaryDir dir;
    const std::string path = dir.path().toStdString();
    std::vector<std::string> files;
    for (int i = 0; i < kMessages; ++i) {
        files.push_back(path + "/m" + std::to_string(i) + ".eml");
        std::ofstream(files.back(), std::ios::binary)
            << "From: taro@example.jp\r\nTo: hanako@example.jp\r\nSubject: message " << i
            << "\r\nDate: Mon, 07 Dec 2026 10:00:00 +0900\r\nMIME-Version: 1.0\r\n"
               "Content-Type: text/plain; charset=ISO-2022-JP\r\nContent-Transfer-Encoding: 7bit\r\n\r\n"
            << Body(i);
    }
    std::ofstream(path + "/msmtprc") << "";
    ::chmod((path + "/msmtprc").c_str(), 0600);
    for (auto _ : state) {
        state.PauseTiming();
        Sink().Clear();
        state.ResumeTiming();
        for (const std::string& file : files) {
            const int rc = Run({"msmtp", "--file=" + path + "/msmtprc", "--host=127.0.0.1",
                                "--port=" + std::to_string(Sink().Port()), "--auth=off", "--tls=off",
                                "--from=taro@example.jp", "--", "hanako@example.jp"},
                               file);
            if (rc != 0) {
                state.SkipWithError("msmtp failed (is Debian's msmtp installed?)");
                return;
            }
        }
    }
}

} // namespace

BENCHMARK(BM_TegaloSendWaiting200)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_MsmtpSend200)->Unit(benchmark::kMillisecond)->Iterations(3);
