// The list's filter on a folder of 100,000 records (Japanese and English
// text, a header block of a received message, every twentieth with an 8 KB
// attachment):
// - the first filter of the folder (folding every record's subject, sender
//   and text, then searching them) and each further one (searching the kept
//   texts), against a plain memmem of the folder file's bytes for the same
//   query, and against 0.3 s.
// bench/ratios.py prints the ratios. Both sides are work in this process
// alone: they are compared by the processor time they took (their mean over
// the iterations), which other programs' load on the machine leaves alone;
// the 0.3 s is held against the time on the clock.
#include "store/FolderFile.h"
#include "store/Record.h"
#include "store/RecordSearch.h"
#include "text/unicode.h"

#include <benchmark/benchmark.h>

#include <string>
#include <string.h> // memmem

namespace tegalo {
namespace {

using namespace tegalo::literals;

constexpr int kRecords = 100'000;

std::string BenchRecord(int n) {
    static const std::string japanese = "いつもお世話になっております。来週の打ち合わせの件でご連絡いたします。"_sjis;
    static const std::string names[] = {"山田 太郎 <taro@example.jp>"_sjis, "Suzuki Hanako <hanako@example.com>",
                                        "佐藤 <sato@example.co.jp>"_sjis, "news@example.org"};
    const std::string subject = (n % 3 == 0 ? "Re: 打ち合わせの件 "_sjis : "Weekly report ") + std::to_string(n);
    const std::string& sender = names[n % 4];
    std::string header = "Received: from mx.example.jp (mx.example.jp [192.0.2.1])\r\n"
                         "\tby mail.example.jp with ESMTP id 4A1B2C3D; Mon, 3 Jun 2024 09:00:00 +0900\r\n"
                         "Message-ID: <" + std::to_string(n) + ".1717372800@mx.example.jp>\r\n"
                         "From: someone@example.jp\r\nTo: taro@example.jp\r\n"
                         "Subject: =?ISO-2022-JP?B?GyRCQkckQTlnJG8kOyRON28bKEI=?=\r\n"
                         "MIME-Version: 1.0\r\nContent-Type: text/plain; charset=ISO-2022-JP\r\n"
                         "Content-Transfer-Encoding: 7bit\r\n\r\n";
    std::string body;
    while (body.size() < 1500) {
        body += japanese + "\r\nThe quick brown fox jumps over the lazy dog.\r\n";
    }
    RecordPieces pieces{subject, sender, "Mon, 3 Jun 2024 09:00:00 +0900", header, body, {}};
    std::string attachment;
    int parts = 0;
    if (n % 20 == 0) {
        std::string text = std::string(98, ' ');
        text.replace(0, 27, "Content-Transfer-Encoding: ");
        body = text + "\r\n" + std::string(9, ' ') + body;
        attachment = "report.pdf" + std::string(88, ' ') + "\r\nbase64   ";
        while (attachment.size() < 8000) {
            attachment += "JVBERi0xLjQKJcfsj6IKNSAwIG9iago8PC9MZW5ndGggNiAwIFIvRmlsdGVyIC9GbGF0ZURlY29k\r\n";
        }
        pieces.body = body;
        pieces.attachments[0] = attachment;
        parts = 2;
    }
    return BuildRecord(SizesFor(pieces, parts, 0), JoinPieces(pieces));
}

const std::string& FolderBytes() {
    static const std::string bytes = [] {
        std::string b = FormatField(kRecords);
        for (int i = 0; i < kRecords; ++i) {
            b += BenchRecord(i);
        }
        return b;
    }();
    return bytes;
}

const RecordList& Folder() {
    static const RecordList list = ParseFolderBytes(FolderBytes(), 1);
    return list;
}

// What the user types: a name in full-width capitals that the folded text
// holds as "suzuki".
const std::string& Query() {
    static const std::string q = "ＳＵＺＵＫＩ"_sjis;
    return q;
}

// The reference: memmem over the whole folder file for the query's bytes,
// counting every hit.
void BM_PlainScanOfFolderFile(benchmark::State& state) {
    const std::string& bytes = FolderBytes();
    const std::string needle = "Suzuki";
    for (auto _ : state) {
        std::size_t hits = 0;
        const char* p = bytes.data();
        const char* end = bytes.data() + bytes.size();
        while (const void* hit = memmem(p, static_cast<std::size_t>(end - p), needle.data(), needle.size())) {
            ++hits;
            p = static_cast<const char*>(hit) + 1;
        }
        benchmark::DoNotOptimize(hits);
    }
    state.counters["MB"] = static_cast<double>(bytes.size()) / 1e6;
}

void BM_FirstFilterOfFolder(benchmark::State& state) {
    const RecordList& list = Folder();
    std::size_t found = 0;
    for (auto _ : state) {
        FolderSearch search;
        found = search.Matching(list, TextMatcher(Query())).size();
    }
    state.counters["found"] = static_cast<double>(found);
}

void BM_NextFilterOfFolder(benchmark::State& state) {
    const RecordList& list = Folder();
    FolderSearch search;
    static_cast<void>(search.Matching(list, TextMatcher("s")));
    for (auto _ : state) {
        benchmark::DoNotOptimize(search.Matching(list, TextMatcher(Query())).size());
    }
}

BENCHMARK(BM_PlainScanOfFolderFile)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_FirstFilterOfFolder)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_NextFilterOfFolder)->Unit(benchmark::kMillisecond)->Iterations(5);

} // namespace
} // namespace tegalo
