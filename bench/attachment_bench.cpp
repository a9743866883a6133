// Encoding an attachment for sending and decoding it back out of a record:
// the time must grow with the size alone. bench/run prints the ratios
// (base64_bench.cpp compares the encoder and decoder with their peers).
#include "store/Attachments.h"
#include "mime/Outgoing.h"
#include "text/transfer_encoding.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

// The attachments a benchmark cycles through: 10 MB in all whatever their
// size (ten of 1 MB, one of 10 MB), so that both sizes read and write
// memory, not a processor cache still holding the one encoded last, as ten
// different attachments of 1 MB would.
struct Files {
    std::string dir;
    std::vector<std::string> binary;  // random bytes
    std::vector<std::string> encoded; // their base64 lines
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
    files.binary.clear();
    files.encoded.clear();
    std::mt19937 rng(5);
    for (std::size_t n = 0; n < std::max<std::size_t>(1, 10 / megabytes); ++n) {
        std::string data(megabytes * 1000 * 1000, '\0');
        for (char& c : data) {
            c = static_cast<char>(rng());
        }
        const std::string stem = files.dir + "/data" + std::to_string(n);
        files.binary.push_back(stem + ".bin");
        std::ofstream(files.binary.back(), std::ios::binary).write(data.data(), static_cast<std::streamsize>(data.size()));
        files.encoded.push_back(tegalo::EncodeBase64Lines(data));
    }
    made = megabytes;
    return files;
}

std::size_t Megabytes(const benchmark::State& state) {
    return static_cast<std::size_t>(state.range(0));
}

void BM_AttachmentEncode(benchmark::State& state) {
    const Files& files = BenchFiles(Megabytes(state));
    std::size_t next = 0;
    for (auto _ : state) {
        const std::string& path = files.binary[next++ % files.binary.size()];
        benchmark::DoNotOptimize(tegalo::BuildBodyPart("", path, 1, tegalo::base64File));
    }
}

// Decoding a stored attachment and writing its copy, as opening it does.
void BM_AttachmentDecode(benchmark::State& state) {
    const Files& files = BenchFiles(Megabytes(state));
    std::size_t next = 0;
    for (auto _ : state) {
        const std::string& content = files.encoded[next++ % files.encoded.size()];
        const std::string bytes = tegalo::DecodeAttachment(content, "base64");
        benchmark::DoNotOptimize(tegalo::WriteAttachmentCopy(files.dir, "copy.bin", bytes));
    }
}

} // namespace

BENCHMARK(BM_AttachmentEncode)->Arg(1)->Arg(10)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AttachmentDecode)->Arg(1)->Arg(10)->Unit(benchmark::kMillisecond);
