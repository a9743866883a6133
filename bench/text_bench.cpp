// Conversion speed against glibc's iconv on the same Japanese text, in
// process, and as whole processes: tegalo-convert against iconv and nkf.
// bench/run prints the ratios.
#include "text/header_words.h"
#include "text/jis.h"
#include "text/transfer_encoding.h"

#include "ProcessSupport.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iconv.h>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

// JIS X 0208 codes of the characters the text is made of.
constexpr unsigned kComma = 0x2122;     // 、
constexpr unsigned kPeriod = 0x2123;    // 。
constexpr unsigned kMiddleDot = 0x2126; // ・
constexpr unsigned kLongVowel = 0x213C; // ー
constexpr unsigned kOpenQuote = 0x2156; // 「
constexpr unsigned kCloseQuote = 0x2157; // 」

// Japanese prose in Shift_JIS with CR LF line ends, like a message body:
// sentences of kanji words with hiragana endings and particles, katakana
// loan words (with ー, joined by ・), quotations in 「」, 、 and 。, ASCII
// words and digits, lines of up to about 72 bytes and now and then an empty
// line between paragraphs. The same text for the same size.
class ProseWriter {
public:
    explicit ProseWriter(std::size_t bytes) { text_.reserve(bytes + 200); }

    std::string Write(std::size_t bytes) {
        while (text_.size() < bytes) {
            Sentence();
            if (rng_() % 6 == 0) {
                EndLine();
                EndLine();
            }
        }
        return std::move(text_);
    }

private:
    unsigned Pick(unsigned n) { return static_cast<unsigned>(rng_() % n); }

    void Char(unsigned jis) {
        const unsigned sjis = tegalo::JisCharToSjis(jis);
        line_.push_back(static_cast<char>(sjis >> 8));
        line_.push_back(static_cast<char>(sjis & 0xFF));
    }
    void Ascii(std::string_view s) { line_ += s; }
    void Kanji() { Char(((0x30 + Pick(31)) << 8) | (0x21 + Pick(94))); }
    void Hiragana() { Char(0x2400 | (0x21 + Pick(83))); }
    void Katakana() { Char(0x2500 | (0x21 + Pick(86))); }

    void KanjiWord() {
        for (unsigned i = 1 + Pick(3); i > 0; --i) {
            Kanji();
        }
        for (unsigned i = Pick(3); i > 0; --i) {
            Hiragana();
        }
    }
    void KatakanaWord() {
        for (unsigned i = 2 + Pick(5); i > 0; --i) {
            Katakana();
            if (Pick(5) == 0) {
                Char(kLongVowel);
            }
        }
    }
    void AsciiWord() {
        static const char* const words[] = {"Tegalo", "PDF", "OK", "Windows", "e-mail", "URL", "http://example.jp/",
                                            "Excel", "ver.2", "A4", "CC", "ID"};
        Ascii(words[Pick(12)]);
    }
    void Number() { Ascii(std::to_string(Pick(3) == 0 ? 2000 + Pick(30) : 1 + Pick(500))); }

    void Phrase() {
        switch (Pick(8)) {
        case 0:
            KatakanaWord();
            if (Pick(3) == 0) {
                Char(kMiddleDot);
                KatakanaWord();
            }
            break;
        case 1:
            AsciiWord();
            break;
        case 2:
            Number();
            Kanji();
            break;
        case 3:
            Char(kOpenQuote);
            KanjiWord();
            KatakanaWord();
            Char(kCloseQuote);
            break;
        default:
            KanjiWord();
            break;
        }
        for (unsigned i = 1 + Pick(2); i > 0; --i) {
            Hiragana(); // particles
        }
    }

    void Sentence() {
        for (unsigned phrases = 2 + Pick(5); phrases > 0; --phrases) {
            Phrase();
            if (phrases > 1 && Pick(3) == 0) {
                Char(kComma);
            }
            if (line_.size() > 64) {
                EndLine();
            }
        }
        Char(kPeriod);
        if (line_.size() > 40 || Pick(3) == 0) {
            EndLine();
        }
    }

    void EndLine() {
        text_ += line_;
        text_ += "\r\n";
        line_.clear();
    }

    std::mt19937 rng_{1};
    std::string text_;
    std::string line_;
};

// `bytes` bytes (to within a line) of ProseWriter's text, ending in CR LF.
const std::string& JapaneseText(std::size_t bytes) {
    static std::string cache;
    static std::size_t cachedSize = 0;
    if (cachedSize != bytes) {
        std::string text = ProseWriter(bytes).Write(bytes);
        const std::size_t end = text.find("\r\n", bytes);
        text.resize(end == std::string::npos ? text.size() : end + 2);
        cache = std::move(text);
        cachedSize = bytes;
    }
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

// The benchmark text and its ISO-2022-JP form in files, for the whole
// processes: tegalo-convert against iconv and nkf, standard input from the
// file and standard output to /dev/null for each.
struct TextFiles {
    std::string sjis;
    std::string jis;
};

const TextFiles& Files(std::size_t bytes) {
    static TextFiles files;
    static std::string dir;
    if (dir.empty()) {
        char pattern[] = "/tmp/tegalo-bench-XXXXXX";
        dir = ::mkdtemp(pattern);
        std::atexit([] { std::filesystem::remove_all(dir); });
        files.sjis = dir + "/text.sjis";
        files.jis = dir + "/text.jis";
        const std::string& text = JapaneseText(bytes);
        std::ofstream(files.sjis, std::ios::binary).write(text.data(), static_cast<std::streamsize>(text.size()));
        const std::string jis = tegalo::SjisToJis(text);
        std::ofstream(files.jis, std::ios::binary).write(jis.data(), static_cast<std::streamsize>(jis.size()));
    }
    return files;
}

void RunProcess(benchmark::State& state, const std::vector<std::string>& argv, const std::string& input,
                const char* failure) {
    for (auto _ : state) {
        double seconds = 0;
        const int status = tegalo::bench::RunMeasured(argv, input, seconds);
        state.SetIterationTime(seconds);
        if (status != 0) {
            state.SkipWithError(failure);
            break;
        }
    }
}

void BM_ConvertProcessSjisToJis(benchmark::State& state) {
    RunProcess(state, {TEGALO_CONVERT_EXE, "sjis-to-jis"}, Files(Megabytes(state)).sjis, "tegalo-convert failed");
}

void BM_IconvProcessCp932ToIso2022jp(benchmark::State& state) {
    RunProcess(state, {"iconv", "-f", "CP932", "-t", "ISO-2022-JP"}, Files(Megabytes(state)).sjis, "iconv failed");
}

void BM_NkfProcessSjisToJis(benchmark::State& state) {
    RunProcess(state, {"nkf", "-S", "-j", "-m0"}, Files(Megabytes(state)).sjis, "nkf failed (is Debian's nkf installed?)");
}

void BM_ConvertProcessJisToSjis(benchmark::State& state) {
    RunProcess(state, {TEGALO_CONVERT_EXE, "jis-to-sjis"}, Files(Megabytes(state)).jis, "tegalo-convert failed");
}

void BM_IconvProcessIso2022jpToCp932(benchmark::State& state) {
    RunProcess(state, {"iconv", "-f", "ISO-2022-JP", "-t", "CP932"}, Files(Megabytes(state)).jis, "iconv failed");
}

void BM_NkfProcessJisToSjis(benchmark::State& state) {
    RunProcess(state, {"nkf", "-J", "-s", "-m0"}, Files(Megabytes(state)).jis, "nkf failed (is Debian's nkf installed?)");
}

} // namespace

BENCHMARK(BM_ConvertProcessSjisToJis)->Arg(10)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_IconvProcessCp932ToIso2022jp)->Arg(10)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NkfProcessSjisToJis)->Arg(10)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ConvertProcessJisToSjis)->Arg(10)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_IconvProcessIso2022jpToCp932)->Arg(10)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NkfProcessJisToSjis)->Arg(10)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SjisToJis)->Arg(1)->Arg(10)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_IconvCp932ToIso2022jp)->Arg(10)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_JisToSjis)->Arg(1)->Arg(10)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_IconvIso2022jpToCp932)->Arg(10)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeHeaderWords)->Arg(1)->Arg(10)->Unit(benchmark::kMillisecond);
