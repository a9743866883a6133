// Base64 on 10 MB of random bytes, the same work on both sides:
// - in process: Tegalo's line encoder and decoder against OpenSSL's
//   EVP_EncodeBlock and EVP_DecodeBlock making and reading the same 76-
//   character CR LF lines, and against EVP_DecodeUpdate reading them whole;
// - whole processes: tegalo-convert against coreutils base64, standard
//   input from a file and standard output to /dev/null for both.
// bench/run prints the ratios.
#include "text/transfer_encoding.h"

#include "ProcessSupport.h"

#include <benchmark/benchmark.h>

#if TEGALO_BENCH_OPENSSL
#include <openssl/evp.h>
#endif

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

namespace {

struct Data {
    std::string bytes;   // random bytes
    std::string lines;   // their base64, in 76-character lines ending in CR LF
    std::string binaryFile;
    std::string linesFile;
};

const Data& BenchData(std::size_t megabytes) {
    static Data data;
    static std::string dir;
    if (dir.empty()) {
        data.bytes.resize(megabytes * 1000 * 1000);
        std::mt19937 rng(5);
        for (char& c : data.bytes) {
            c = static_cast<char>(rng());
        }
        data.lines = tegalo::EncodeBase64Lines(data.bytes);
        char pattern[] = "/tmp/tegalo-bench-XXXXXX";
        dir = ::mkdtemp(pattern);
        std::atexit([] { std::filesystem::remove_all(dir); });
        data.binaryFile = dir + "/data.bin";
        data.linesFile = dir + "/data.b64";
        std::ofstream(data.binaryFile, std::ios::binary)
            .write(data.bytes.data(), static_cast<std::streamsize>(data.bytes.size()));
        std::ofstream(data.linesFile, std::ios::binary)
            .write(data.lines.data(), static_cast<std::streamsize>(data.lines.size()));
    }
    return data;
}

std::size_t Megabytes(const benchmark::State& state) {
    return static_cast<std::size_t>(state.range(0));
}

void BM_Base64EncodeLines(benchmark::State& state) {
    const Data& data = BenchData(Megabytes(state));
    for (auto _ : state) {
        benchmark::DoNotOptimize(tegalo::EncodeBase64Lines(data.bytes));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.bytes.size()));
}

void BM_Base64DecodeLines(benchmark::State& state) {
    const Data& data = BenchData(Megabytes(state));
    std::string check;
    tegalo::AppendBase64Decoded(check, data.lines);
    if (check != data.bytes) {
        state.SkipWithError("the decoded lines are not the data");
        return;
    }
    for (auto _ : state) {
        std::string out;
        tegalo::AppendBase64Decoded(out, data.lines);
        benchmark::DoNotOptimize(out);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.lines.size()));
}

#if TEGALO_BENCH_OPENSSL
void BM_OpenSslEncodeBlockLines(benchmark::State& state) {
    const Data& data = BenchData(Megabytes(state));
    const std::size_t n = data.bytes.size();
    const std::size_t tail = n % 57;
    for (auto _ : state) {
        std::string out(n / 57 * 78 + (tail ? (tail + 2) / 3 * 4 + 3 : 1), '\0');
        const auto* in = reinterpret_cast<const unsigned char*>(data.bytes.data());
        auto* dst = reinterpret_cast<unsigned char*>(out.data());
        for (std::size_t at = 0; at < n; at += 57) {
            const int written = EVP_EncodeBlock(dst, in + at, static_cast<int>(std::min<std::size_t>(57, n - at)));
            dst += written;
            *dst++ = '\r';
            *dst++ = '\n';
        }
        out.resize(static_cast<std::size_t>(dst - reinterpret_cast<unsigned char*>(out.data())));
        benchmark::DoNotOptimize(out);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * n));
}

void BM_OpenSslDecodeBlockLines(benchmark::State& state) {
    const Data& data = BenchData(Megabytes(state));
    const char* const end = data.lines.data() + data.lines.size();
    for (auto _ : state) {
        std::string out(data.lines.size() / 4 * 3 + 64, '\0');
        auto* dst = reinterpret_cast<unsigned char*>(out.data());
        for (const char* p = data.lines.data(); p < end;) {
            const auto* eol = static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
            const char* lineEnd = eol == nullptr ? end : eol;
            const int length = static_cast<int>(lineEnd - p) - (lineEnd > p && lineEnd[-1] == '\r' ? 1 : 0);
            const int written = EVP_DecodeBlock(dst, reinterpret_cast<const unsigned char*>(p), length);
            if (written < 0) {
                state.SkipWithError("EVP_DecodeBlock failed");
                return;
            }
            // It counts the bytes of a padded group as three.
            const int padding = (length > 0 && p[length - 1] == '=') + (length > 1 && p[length - 2] == '=');
            dst += written - padding;
            p = eol == nullptr ? end : eol + 1;
        }
        out.resize(static_cast<std::size_t>(dst - reinterpret_cast<unsigned char*>(out.data())));
        benchmark::DoNotOptimize(out);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.lines.size()));
}

void BM_OpenSslDecodeUpdate(benchmark::State& state) {
    const Data& data = BenchData(Megabytes(state));
    for (auto _ : state) {
        std::string out(data.lines.size() / 4 * 3 + 64, '\0');
        EVP_ENCODE_CTX* ctx = EVP_ENCODE_CTX_new();
        EVP_DecodeInit(ctx);
        int written = 0;
        int last = 0;
        auto* dst = reinterpret_cast<unsigned char*>(out.data());
        if (EVP_DecodeUpdate(ctx, dst, &written, reinterpret_cast<const unsigned char*>(data.lines.data()),
                             static_cast<int>(data.lines.size())) < 0 ||
            EVP_DecodeFinal(ctx, dst + written, &last) < 0) {
            state.SkipWithError("EVP_DecodeUpdate failed");
        }
        EVP_ENCODE_CTX_free(ctx);
        out.resize(static_cast<std::size_t>(written + last));
        benchmark::DoNotOptimize(out);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.lines.size()));
}
#endif

void RunProcess(benchmark::State& state, const std::vector<std::string>& argv, const std::string& input) {
    for (auto _ : state) {
        double seconds = 0;
        const int status = tegalo::bench::RunMeasured(argv, input, seconds);
        state.SetIterationTime(seconds);
        if (status != 0) {
            state.SkipWithError((argv[0] + " failed").c_str());
            break;
        }
    }
}

void BM_ConvertProcessBase64Encode(benchmark::State& state) {
    RunProcess(state, {TEGALO_CONVERT_EXE, "base64-encode"}, BenchData(Megabytes(state)).binaryFile);
}

void BM_CoreutilsBase64Encode(benchmark::State& state) {
    RunProcess(state, {"base64", "-w", "76"}, BenchData(Megabytes(state)).binaryFile);
}

void BM_ConvertProcessBase64Decode(benchmark::State& state) {
    RunProcess(state, {TEGALO_CONVERT_EXE, "base64-decode"}, BenchData(Megabytes(state)).linesFile);
}

// -i: the CR of each line end is no base64 character.
void BM_CoreutilsBase64Decode(benchmark::State& state) {
    RunProcess(state, {"base64", "-d", "-i"}, BenchData(Megabytes(state)).linesFile);
}

} // namespace

BENCHMARK(BM_Base64EncodeLines)->Arg(10)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Base64DecodeLines)->Arg(10)->Unit(benchmark::kMillisecond);
#if TEGALO_BENCH_OPENSSL
BENCHMARK(BM_OpenSslEncodeBlockLines)->Arg(10)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenSslDecodeBlockLines)->Arg(10)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenSslDecodeUpdate)->Arg(10)->Unit(benchmark::kMillisecond);
#endif
BENCHMARK(BM_ConvertProcessBase64Encode)->Arg(10)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CoreutilsBase64Encode)->Arg(10)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ConvertProcessBase64Decode)->Arg(10)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CoreutilsBase64Decode)->Arg(10)->UseManualTime()->Unit(benchmark::kMillisecond);
