// Encoding an attachment for sending and decoding it back out of a record,
// against coreutils base64 on the same 10 MB file. bench/run prints the ratios.
#include "store/Attachments.h"
#include "mime/Outgoing.h"
#include "text/transfer_encoding.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace {

struct Files {
    std::string dir;
    std::string binary;  // random bytes
    std::string encoded; // their base64 lines
};

const Files& BenchFiles(std::size_t megabytes) {
    static Files files;
    static std::size_t made = 0;
    if (made == megabytes) {
        return files;
    }
    if (files.dir.empty()) {
        char dirTemplate[] = "/tmp/tegalo-bench-XXXXXX";
        files.dir = mkdtemp(dirTemplate);
        std::atexit([] { std::system(("rm -rf '" + files.dir + "'").c_str()); });
    }
    std::string data(megabytes * 1000 * 1000, '\0');
    std::mt19937 rng(5);
    for (char& c : data) {
        c = static_cast<char>(rng());
    }
    files.binary = files.dir + "/data.bin";
    files.encoded = files.dir + "/data.b64";
    std::ofstream(files.binary, std::ios::binary).write(data.data(), static_cast<std::streamsize>(data.size()));
    const std::string lines = tegalo::EncodeBase64Lines(data);
    std::ofstream(files.encoded, std::ios::binary).write(lines.data(), static_cast<std::streamsize>(lines.size()));
    made = megabytes;
    return files;
}

// Runs coreutils base64 with its output thrown away.
bool RunBase64(bool decode, const std::string& path) {
    const pid_t pid = fork();
    if (pid == 0) {
        std::freopen("/dev/null", "w", stdout);
        if (decode) {
            execlp("base64", "base64", "-d", "-i", path.c_str(), static_cast<char*>(nullptr));
        } else {
            execlp("base64", "base64", path.c_str(), static_cast<char*>(nullptr));
        }
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::size_t Megabytes(const benchmark::State& state) {
    return static_cast<std::size_t>(state.range(0));
}

void BM_AttachmentEncode(benchmark::State& state) {
    const Files& files = BenchFiles(Megabytes(state));
    for (auto _ : state) {
        benchmark::DoNotOptimize(tegalo::BuildBodyPart("", files.binary, 1, tegalo::base64File));
    }
}

void BM_CoreutilsBase64Encode(benchmark::State& state) {
    const Files& files = BenchFiles(Megabytes(state));
    for (auto _ : state) {
        if (!RunBase64(false, files.binary)) {
            state.SkipWithError("base64 failed");
            break;
        }
    }
}

// Decoding a stored attachment and writing its copy, as opening it does.
void BM_AttachmentDecode(benchmark::State& state) {
    const Files& files = BenchFiles(Megabytes(state));
    std::ifstream in(files.encoded, std::ios::binary);
    const std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    for (auto _ : state) {
        const std::string bytes = tegalo::DecodeAttachment(content, "base64");
        benchmark::DoNotOptimize(tegalo::WriteAttachmentCopy(files.dir, "copy.bin", bytes));
    }
}

void BM_CoreutilsBase64Decode(benchmark::State& state) {
    const Files& files = BenchFiles(Megabytes(state));
    for (auto _ : state) {
        if (!RunBase64(true, files.encoded)) {
            state.SkipWithError("base64 -d failed");
            break;
        }
    }
}

} // namespace

BENCHMARK(BM_AttachmentEncode)->Arg(1)->Arg(10)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CoreutilsBase64Encode)->Arg(10)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AttachmentDecode)->Arg(1)->Arg(10)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CoreutilsBase64Decode)->Arg(10)->Unit(benchmark::kMillisecond);
