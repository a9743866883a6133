#include "transfer/SmtpReader.h"

#include "transfer/MailDate.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <fstream>
#include <random>
#include <sstream>

namespace tegalo {
namespace {

std::string ReplyFile(const std::string& name) {
    std::ifstream in(std::string(TEGALO_TEST_DATA) + "/smtp/" + name, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_FALSE(text.str().empty()) << name;
    return text.str();
}

// Every reply in `stream`, fed in pieces cut at `cuts` (offsets, ascending).
std::vector<SmtpReply> Replies(std::string_view stream, const std::vector<std::size_t>& cuts) {
    SmtpReader reader;
    std::vector<SmtpReply> replies;
    std::size_t from = 0;
    auto feed = [&](std::size_t to) {
        reader.Feed(stream.substr(from, to - from));
        from = to;
        SmtpReply reply;
        while (reader.TakeReply(reply) == SmtpReader::Result::Complete) {
            replies.push_back(reply);
        }
    };
    for (const std::size_t cut : cuts) {
        feed(cut);
    }
    feed(stream.size());
    EXPECT_EQ(reader.Pending(), 0u);
    return replies;
}

TEST(SmtpReader, FramesReplies) {
    struct Row {
        const char* name;
        std::string stream;
        std::vector<int> codes;
        std::vector<std::size_t> lineCounts;
    };
    const std::vector<Row> rows = {
        {"one line", "220 mail.example.jp ESMTP\r\n", {220}, {1}},
        {"code alone", "250\r\n", {250}, {1}},
        {"multi-line EHLO answer", ReplyFile("ehlo-multiline.reply"), {250}, {11}},
        {"multi-line greeting", ReplyFile("greeting-multiline.reply"), {220}, {3}},
        {"multi-line refusal", ReplyFile("rcpt-refused-multiline.reply"), {550}, {4}},
        {"several replies in one arrival", "250 ok\r\n354 go ahead\r\n", {250, 354}, {1, 1}},
        {"a line ended by LF alone", "250-a\n250 b\n", {250}, {2}},
        {"no code: a reply of its own with code 0", "hello\r\n250 ok\r\n", {0, 250}, {1, 1}},
        {"a fourth digit is no code", "2500 x\r\n", {0}, {1}},
        {"the last line's code counts", "250-a\r\n550 b\r\n", {550}, {2}},
        {"an empty line", "\r\n", {0}, {1}},
    };
    for (const Row& row : rows) {
        const std::vector<SmtpReply> replies = Replies(row.stream, {});
        ASSERT_EQ(replies.size(), row.codes.size()) << row.name;
        for (std::size_t i = 0; i < replies.size(); ++i) {
            EXPECT_EQ(replies[i].code, row.codes[i]) << row.name;
            EXPECT_EQ(replies[i].lines.size(), row.lineCounts[i]) << row.name;
        }
    }
    const std::vector<SmtpReply> ehlo = Replies("250-mail.example.jp\r\n250 SIZE\r\n", {});
    EXPECT_EQ(ehlo[0].lines, (std::vector<std::string>{"250-mail.example.jp", "250 SIZE"}));
    EXPECT_EQ(ehlo[0].Text(), "250-mail.example.jp 250 SIZE");
}

TEST(SmtpReader, SameRepliesWhateverTheArrivals) {
    const std::string stream = ReplyFile("greeting-multiline.reply") + ReplyFile("ehlo-multiline.reply") +
                               "250 2.1.0 Ok\r\n" + ReplyFile("rcpt-refused-multiline.reply") + "221 Bye\r\n";
    const std::vector<SmtpReply> whole = Replies(stream, {});
    ASSERT_EQ(whole.size(), 5u);
    const auto same = [&](const std::vector<SmtpReply>& replies, const std::string& how) {
        ASSERT_EQ(replies.size(), whole.size()) << how;
        for (std::size_t i = 0; i < whole.size(); ++i) {
            EXPECT_EQ(replies[i].code, whole[i].code) << how;
            EXPECT_EQ(replies[i].lines, whole[i].lines) << how;
        }
    };
    for (std::size_t cut = 1; cut < stream.size(); ++cut) {
        same(Replies(stream, {cut}), "cut at " + std::to_string(cut));
    }
    std::vector<std::size_t> everyByte;
    for (std::size_t i = 1; i < stream.size(); ++i) {
        everyByte.push_back(i);
    }
    same(Replies(stream, everyByte), "byte by byte");
    std::mt19937 rng(5321);
    for (int round = 0; round < 20; ++round) {
        std::vector<std::size_t> cuts;
        for (std::size_t at = rng() % 9; at < stream.size(); at += 1 + rng() % 40) {
            cuts.push_back(at);
        }
        same(Replies(stream, cuts), "random pieces, round " + std::to_string(round));
    }
}

TEST(SmtpReader, ReplyThatNeverEnds) {
    SmtpReader line;
    line.Feed(std::string(SmtpReader::kMaxReply, 'x'));
    SmtpReply reply;
    EXPECT_EQ(line.TakeReply(reply), SmtpReader::Result::NeedMore);
    line.Feed("x");
    EXPECT_EQ(line.TakeReply(reply), SmtpReader::Result::TooLong);

    SmtpReader continued;
    for (std::size_t fed = 0; fed <= SmtpReader::kMaxReply; fed += 10) {
        continued.Feed("250-more\r\n");
    }
    continued.Feed("250 end\r\n");
    EXPECT_EQ(continued.TakeReply(reply), SmtpReader::Result::TooLong);

    continued.Clear();
    continued.Feed("250 fresh\r\n");
    ASSERT_EQ(continued.TakeReply(reply), SmtpReader::Result::Complete);
    EXPECT_EQ(reply.lines, std::vector<std::string>{"250 fresh"});
}

TEST(SmtpMailDate, EnglishWhateverTheLocale) {
    struct Row {
        const char* name;
        LocalTime time;
        const char* wire;
        const char* stored;
    };
    const std::vector<Row> rows = {
        {"Tokyo, one-digit day", {2026, 12, 7, 9, 5, 3, 1, 540}, "Mon, 07 Dec 2026 09:05:03 +0900", "Mon, Dec 07, 2026"},
        {"UTC, last second of the year", {2024, 12, 31, 23, 59, 59, 2, 0}, "Tue, 31 Dec 2024 23:59:59 +0000",
         "Tue, Dec 31, 2024"},
        {"west of Greenwich, half hour", {2025, 2, 28, 12, 0, 0, 5, -210}, "Fri, 28 Feb 2025 12:00:00 -0330",
         "Fri, Feb 28, 2025"},
        {"Sunday in January", {2023, 1, 1, 0, 0, 0, 0, 345}, "Sun, 01 Jan 2023 00:00:00 +0545", "Sun, Jan 01, 2023"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(WireDate(row.time), row.wire) << row.name;
        EXPECT_EQ(StoredDate(row.time), row.stored) << row.name;
    }
}

TEST(SmtpMailDate, SystemClockGivesTheZoneOffset) {
    const char* old = std::getenv("TZ");
    const std::string saved = old ? old : "";
    for (const auto& [zone, minutes] : std::vector<std::pair<const char*, int>>{{"JST-9", 540}, {"<-0330>3:30", -210}}) {
        ::setenv("TZ", zone, 1);
        ::tzset();
        const LocalTime now = SystemLocalTime();
        EXPECT_EQ(now.utcOffsetMinutes, minutes) << zone;
        EXPECT_GE(now.year, 2024) << zone;
    }
    if (old) {
        ::setenv("TZ", saved.c_str(), 1);
    } else {
        ::unsetenv("TZ");
    }
    ::tzset();
}

} // namespace
} // namespace tegalo
