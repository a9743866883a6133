// Storing received mail in other charsets costs about what ISO-2022-JP
// costs: 1,000 UTF-8 messages of 5 KB (base64 text, UTF-8 encoded words)
// against the same 1,000 messages in ISO-2022-JP (7bit text, ISO-2022-JP
// encoded words), each cut into its record and appended to the received
// folder of a new mailbox, the batch made durable at the end. bench/run
// prints the ratio.
#include "config/NewMailbox.h"
#include "store/TegaloDoc.h"
#include "text/header_words.h"
#include "text/jis.h"
#include "text/transfer_encoding.h"
#include "text/unicode.h"
#include "transfer/DocReceiveStore.h"
#include "mime/ReceivedMessage.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <random>
#include <stdexcept>
#include <string>
#include <unistd.h>
#include <vector>

namespace tegalo {
namespace {

constexpr int kMessages = 1000;

class QuietUi : public StoreUi {
public:
    void Message(std::string_view text) override {
        std::fprintf(stderr, "store: %.*s\n", int(text.size()), text.data());
    }
};

// About 5 KB of Japanese text (UTF-8) that differs from message to message.
std::string JapaneseText(int seed) {
    static const char* const kLines[] = {
        "来週の会議は第一会議室で午前十時から始めます。", "資料は前日までに共有フォルダへ置いてください。",
        "ご不明な点があれば山田までご連絡ください。", "Tegalo からのお知らせ：受信の確認をお願いします。"};
    std::mt19937 rng(static_cast<unsigned>(seed));
    std::string text;
    while (text.size() < 5000) {
        text += kLines[rng() % 4];
        text += "\r\n";
    }
    return text;
}

std::string Utf8Message(int i) {
    const std::string text = JapaneseText(i);
    return "From: =?UTF-8?B?" + EncodeBase64("山田 太郎") +
           "?= <yamada@example.jp>\r\nTo: taro@example.jp\r\n"
           "Subject: =?UTF-8?B?" +
           EncodeBase64("会議のお知らせ " + std::to_string(i)) +
           "?=\r\n"
           "Date: Mon, 07 Dec 2026 10:00:00 +0900\r\nContent-Type: text/plain; charset=UTF-8\r\n"
           "Content-Transfer-Encoding: base64\r\n\r\n" +
           EncodeBase64Lines(text);
}

std::string JisMessage(int i) {
    const std::string text = SjisToJis(SjisLiteral(JapaneseText(i)));
    return "From: " + EncodeHeaderWords(SjisToJis(SjisLiteral("山田 太郎"))) +
           " <yamada@example.jp>\r\n"
           "To: taro@example.jp\r\nSubject: " +
           EncodeHeaderWords(SjisToJis(SjisLiteral("会議のお知らせ " + std::to_string(i)))) +
           "\r\n"
           "Date: Mon, 07 Dec 2026 10:00:00 +0900\r\nContent-Type: text/plain; charset=ISO-2022-JP\r\n"
           "Content-Transfer-Encoding: 7bit\r\n\r\n" +
           text;
}

void StoreAll(benchmark::State& state, std::string (*make)(int)) {
    std::vector<std::string> messages;
    for (int i = 0; i < kMessages; ++i) {
        messages.push_back(make(i));
    }
    for (auto _ : state) {
        state.PauseTiming();
        std::string dir = (std::filesystem::temp_directory_path() / "tegalo-bench-XXXXXX").string();
        if (::mkdtemp(dir.data()) == nullptr) {
            throw std::runtime_error("mkdtemp failed");
        }
        dir += "/";
        QuietUi ui;
        CTegaloDoc doc(ui);
        if (CreateMailbox(dir, ui) != StoreStatus::kOk || doc.Start(dir) != StoreStatus::kOk) {
            state.SkipWithError("mailbox");
            return;
        }
        DocReceiveStore store(doc);
        state.ResumeTiming();
        for (const std::string& text : messages) {
            const ReceivedMessage message = SplitReceivedMessage(text);
            if (store.AddReceived(message.Sizes(), message.RecordText()) != StoreResult::Stored) {
                state.SkipWithError("not stored");
                return;
            }
        }
        if (!store.Commit()) {
            state.SkipWithError("not committed");
            return;
        }
        state.PauseTiming();
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
        state.ResumeTiming();
    }
}

void BM_StoreUtf8Messages1000(benchmark::State& state) {
    StoreAll(state, Utf8Message);
}
void BM_StoreIso2022jpMessages1000(benchmark::State& state) {
    StoreAll(state, JisMessage);
}

BENCHMARK(BM_StoreIso2022jpMessages1000)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_StoreUtf8Messages1000)->Unit(benchmark::kMillisecond)->Iterations(5);

} // namespace
} // namespace tegalo
