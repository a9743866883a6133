// What each message of the corpus shows once received: subject, sender,
// text and attachments (names, encodings, sizes and a hash of the decoded
// bytes), kept in tests/data/received as UTF-8 and checked by eye against
// other mail readers when written.
#include "store/Attachments.h"
#include "text/unicode.h"
#include "mime/ReceivedMessage.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace tegalo {
namespace {

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::uint64_t Fnv1a(std::string_view bytes) {
    std::uint64_t hash = 14695981039346656037ull;
    for (const char c : bytes) {
        hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    }
    return hash;
}

// The message as the receive session hands it over: CR LF line ends, no
// final CR LF.
std::string AsReceived(std::string text) {
    if (text.ends_with("\r\n")) {
        text.resize(text.size() - 2);
    }
    return text;
}

std::string Shown(const ReceivedMessage& m) {
    std::string out;
    out += "subject:" + SjisToUtf8(m.subject) + "\n";
    out += "from:" + SjisToUtf8(m.from) + "\n";
    out += "parts: " + std::to_string(m.partCount) + ", left out: " + std::to_string(m.partsLeftOut) +
           ", replaced: " + std::to_string(m.replaced) + "\n";
    for (const std::string& attachment : m.attachments) {
        const std::string bytes = DecodeAttachment(PartRecordContent(attachment), PartRecordEncoding(attachment));
        char hash[32];
        std::snprintf(hash, sizeof hash, "%016llx", static_cast<unsigned long long>(Fnv1a(bytes)));
        out += "attachment: " + SjisToUtf8(PartRecordName(attachment)) + " (" +
               std::string(PartRecordEncoding(attachment)) + ", " + std::to_string(bytes.size()) + " bytes, " + hash +
               ")\n";
    }
    out += "text:\n";
    const std::string_view body = m.partCount == 0 ? std::string_view(m.body) : PartRecordContent(m.body);
    out += SjisToUtf8(body);
    return out;
}

TEST(ReceivedCorpus, EachMessageShowsWhatItsExpectedFileSays) {
    const std::filesystem::path corpus = TEGALO_CORPUS;
    if (!std::filesystem::is_directory(corpus)) {
        GTEST_SKIP() << "no corpus at " << corpus << ": the shared test messages are not on this machine";
    }
    const std::filesystem::path expected = std::filesystem::path(TEGALO_TEST_DATA) / "received";
    const bool write = std::getenv("TEGALO_WRITE_GOLDEN") != nullptr;
    int checked = 0;
    for (const auto& entry : std::filesystem::directory_iterator(corpus)) {
        if (entry.path().extension() != ".eml") {
            continue;
        }
        const std::string name = entry.path().stem().string();
        const ReceivedMessage message = SplitReceivedMessage(AsReceived(ReadFile(entry.path())));
        const std::string shown = Shown(message);
        const std::filesystem::path file = expected / (name + ".txt");
        if (write) {
            std::ofstream(file, std::ios::binary) << shown;
        }
        ASSERT_TRUE(std::filesystem::exists(file)) << name << ": no expected file";
        EXPECT_EQ(shown, ReadFile(file)) << name;
        ++checked;
    }
    EXPECT_GT(checked, 0);
}

} // namespace
} // namespace tegalo
