// Conversion speed against glibc's iconv on the same Japanese text. bench/run
// prints the ratios.
#include "text/header_words.h"
#include "text/jis.h"
#include "text/transfer_encoding.h"

#include <benchmark/benchmark.h>

#include <iconv.h>
#include <random>
#include <stdexcept>
#include <string>

namespace {

// Shift_JIS text with CR LF line ends: every line mixes ASCII with one to
// three runs of kanji and kana, like a Japanese message body.
const std::string& JapaneseText(std::size_t bytes) {
    static std::string cache;
    static std::size_t cachedSize = 0;
    if (cachedSize == bytes) {
        return cache;
    }
    std::mt19937 rng(1);
    std::string text;
    text.reserve(bytes + 200);
    while (text.size() < bytes) {
        const int runs = 1 + static_cast<int>(rng() % 3);
        for (int r = 0; r < runs; ++r) {
            const int chars = 3 + static_cast<int>(rng() % 12);
            for (int c = 0; c < chars; ++c) {
                // Kana rows 0x24-0x25 and the first kanji level, 0x30-0x4E.
                const unsigned row = static_cast<unsigned>(rng() % 33);
                const unsigned j1 = row < 2 ? 0x24 + row : 0x30 + row - 2;
                const unsigned j2 = 0x21 + static_cast<unsigned>(rng() % (j1 < 0x26 ? 0x53 : 0x5E));
                const unsigned jis = (j1 << 8) | j2;
                const unsigned sjis = tegalo::JisCharToSjis(jis);
                text.push_back(static_cast<char>(sjis >> 8));
                text.push_back(static_cast<char>(sjis & 0xFF));
            }
            text += r + 1 < runs ? " Tegalo 1.0, " : ".";
        }
        text += "\r\n";
    }
    text.resize(bytes - 2);
    // Do not end inside a double-byte character.
    std::size_t i = 0;
    while (i < text.size()) {
        i += tegalo::IsSjisLead(static_cast<unsigned char>(text[i])) ? 2 : 1;
    }
    text.resize(i > text.size() ? text.size() - 1 : text.size());
    text += "\r\n";
    cache = std::move(text);
    cachedSize = bytes;
    return cache;
}

std::string Iconv(const char* to, const char* from, const std::string& in) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        throw std::runtime_error("iconv_open");
    }
    std::string out(in.size() * 2 + 64, '\0');
    char* src = const_cast<char*>(in.data());
    std::size_t srcLeft = in.size();
    char* dst = out.data();
    std::size_t dstLeft = out.size();
    if (iconv(cd, &src, &srcLeft, &dst, &dstLeft) == static_cast<std::size_t>(-1)) {
        throw std::runtime_error("iconv");
    }
    iconv(cd, nullptr, nullptr, &dst, &dstLeft);
    out.resize(out.size() - dstLeft);
    iconv_close(cd);
    return out;
}

std::size_t Megabytes(const benchmark::State& state) {
    return static_cast<std::size_t>(state.range(0)) * 1000 * 1000;
}

void BM_SjisToJis(benchmark::State& state) {
    const std::string& text = JapaneseText(Megabytes(state));
    for (auto _ : state) {
        benchmark::DoNotOptimize(tegalo::SjisToJis(text));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

void BM_IconvCp932ToIso2022jp(benchmark::State& state) {
    const std::string& text = JapaneseText(Megabytes(state));
    for (auto _ : state) {
        benchmark::DoNotOptimize(Iconv("ISO-2022-JP", "CP932", text));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

void BM_JisToSjis(benchmark::State& state) {
    const std::string jis = tegalo::SjisToJis(JapaneseText(Megabytes(state)));
    for (auto _ : state) {
        benchmark::DoNotOptimize(tegalo::JisToSjis(jis));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * jis.size()));
}

void BM_IconvIso2022jpToCp932(benchmark::State& state) {
    const std::string jis = tegalo::SjisToJis(JapaneseText(Megabytes(state)));
    if (Iconv("CP932", "ISO-2022-JP", jis) != JapaneseText(Megabytes(state))) {
        state.SkipWithError("iconv and Tegalo disagree on the benchmark text");
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(Iconv("CP932", "ISO-2022-JP", jis));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * jis.size()));
}

// A header block of folded encoded words, one per line.
void BM_DecodeHeaderWords(benchmark::State& state) {
    const std::string jis = tegalo::SjisToJis(JapaneseText(Megabytes(state)));
    std::string header;
    std::size_t pos = 0;
    for (std::size_t eol; (eol = jis.find("\r\n", pos)) != std::string::npos; pos = eol + 2) {
        header += tegalo::EncodeHeaderWords(jis.substr(pos, eol - pos)) + "\r\n ";
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(tegalo::DecodeHeaderWords(header));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * header.size()));
}

} // namespace

BENCHMARK(BM_SjisToJis)->Arg(1)->Arg(10)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_IconvCp932ToIso2022jp)->Arg(10)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_JisToSjis)->Arg(1)->Arg(10)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_IconvIso2022jpToCp932)->Arg(10)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeHeaderWords)->Arg(1)->Arg(10)->Unit(benchmark::kMillisecond);
