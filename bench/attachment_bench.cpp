// Encoding an attachment for sending and decoding it back out of a record:
// the time must grow with the size alone. bench/run prints the ratios
// (base64_bench.cpp compares the encoder and decoder with their peers).
#include "store/Attachments.h"
#include "mime/Outgoing.h"
#include "text/transfer_encoding.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
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

std::size_t Megabytes(const benchmark::State& state) {
    return static_cast<std::size_t>(state.range(0));
}

void BM_AttachmentEncode(benchmark::State& state) {
    const Files& files = BenchFiles(Megabytes(state));
    for (auto _ : state) {
        benchmark::DoNotOptimize(tegalo::BuildBodyPart("", files.binary, 1, tegalo::base64File));
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

} // namespace

BENCHMARK(BM_AttachmentEncode)->Arg(1)->Arg(10)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AttachmentDecode)->Arg(1)->Arg(10)->Unit(benchmark::kMillisecond);
