#include "transfer/Pop3Reader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tegalo {
namespace {

// Reads `stream` as a status line followed by a multi-line reply, repeatedly,
// feeding it in pieces of `piece` bytes (0: all at once). Each reply comes
// out as "<status>|<data>".
std::vector<std::string> ReadReplies(const std::string& stream, std::size_t piece) {
    Pop3Reader reader;
    std::vector<std::string> replies;
    std::string status;
    bool inBlock = false;
    const std::size_t step = piece == 0 ? stream.size() : piece;
    for (std::size_t at = 0; at < stream.size(); at += step) {
        reader.Feed(std::string_view(stream).substr(at, step));
        while (true) {
            std::string taken;
            if (!inBlock) {
                if (reader.TakeLine(status) != Pop3Reader::Result::Complete) {
                    break;
                }
                inBlock = true;
            } else {
                if (reader.TakeBlock(taken) != Pop3Reader::Result::Complete) {
                    break;
                }
                replies.push_back(status + "|" + taken);
                inBlock = false;
            }
        }
    }
    return replies;
}

TEST(Pop3Reader, MultiLineRepliesInAnyPieces) {
    struct Row {
        const char* name;
        std::string stream;
        std::vector<std::string> replies;
    };
    const std::vector<Row> rows = {
        {"two messages", "+OK 5\r\nab\r\ncd\r\n.\r\n+OK\r\nef\r\n.\r\n", {"+OK 5|ab\r\ncd", "+OK|ef"}},
        {"empty message", "+OK\r\n.\r\n", {"+OK|"}},
        {"stuffed dots removed", "+OK\r\n..\r\n...x\r\n.y\r\n.\r\n", {"+OK|.\r\n..x\r\ny"}},
        {"a line ending in a full stop is no end", "+OK\r\nend.\r\nmore\r\n.\r\n", {"+OK|end.\r\nmore"}},
        {"single dot before text dropped", "+OK\r\na\r\n.b\r\n.\r\n", {"+OK|a\r\nb"}},
        {"bare CR and LF pass", "+OK\r\na\rb\nc\r\n.\r\n", {"+OK|a\rb\nc"}},
        {"dot then CR without LF", "+OK\r\n.\rx\r\n.\r\n", {"+OK|\rx"}},
        {"NUL bytes kept", std::string("+OK\r\na\0b\r\n.\r\n", 14), {std::string("+OK|a\0b", 7)}},
        {"blank lines kept", "+OK\r\n\r\n\r\nx\r\n\r\n.\r\n", {"+OK|\r\n\r\nx\r\n"}},
    };
    for (const Row& row : rows) {
        const std::vector<std::size_t> pieces = {0, 1, 2, 3, 7};
        for (const std::size_t piece : pieces) {
            EXPECT_EQ(ReadReplies(row.stream, piece), row.replies) << row.name << ", pieces of " << piece;
        }
        // And split in two at every position.
        for (std::size_t cut = 1; cut < row.stream.size(); ++cut) {
            Pop3Reader reader;
            std::vector<std::string> replies;
            std::string status, data;
            bool inBlock = false;
            for (const std::string_view part : {std::string_view(row.stream).substr(0, cut),
                                                 std::string_view(row.stream).substr(cut)}) {
                reader.Feed(part);
                while (inBlock ? reader.TakeBlock(data) == Pop3Reader::Result::Complete
                               : reader.TakeLine(status) == Pop3Reader::Result::Complete) {
                    if (inBlock) {
                        replies.push_back(status + "|" + data);
                    }
                    inBlock = !inBlock;
                }
            }
            EXPECT_EQ(replies, row.replies) << row.name << ", cut at " << cut;
        }
    }
}

TEST(Pop3Reader, StatusLineLimit) {
    Pop3Reader reader;
    std::string line;
    reader.Feed(std::string(Pop3Reader::kMaxStatusLine, 'x'));
    EXPECT_EQ(reader.TakeLine(line), Pop3Reader::Result::NeedMore);
    reader.Feed("yz");
    EXPECT_EQ(reader.TakeLine(line), Pop3Reader::Result::TooLong);

    Pop3Reader fits;
    fits.Feed("+OK " + std::string(Pop3Reader::kMaxStatusLine - 4, 'x') + "\r\n");
    EXPECT_EQ(fits.TakeLine(line), Pop3Reader::Result::Complete);
    EXPECT_EQ(line.size(), Pop3Reader::kMaxStatusLine);
}

TEST(Pop3Reader, LongDataIsCutAtTheLimitAndReadToItsEnd) {
    Pop3Reader reader(10);
    reader.Feed("+OK\r\n0123456789abcdef\r\n.\r\n+OK next\r\n");
    std::string line, data;
    bool truncated = false;
    ASSERT_EQ(reader.TakeLine(line), Pop3Reader::Result::Complete);
    ASSERT_EQ(reader.TakeBlock(data, &truncated), Pop3Reader::Result::Complete);
    EXPECT_TRUE(truncated);
    EXPECT_EQ(data, "0123456789");
    ASSERT_EQ(reader.TakeLine(line), Pop3Reader::Result::Complete);
    EXPECT_EQ(line, "+OK next");
}

TEST(Pop3Reader, MegabyteLineFedInSmallPiecesStaysLinear) {
    Pop3Reader reader;
    const std::string line(1 << 20, 'a');
    reader.Feed("+OK\r\n");
    std::string status, data;
    ASSERT_EQ(reader.TakeLine(status), Pop3Reader::Result::Complete);
    for (std::size_t at = 0; at < line.size(); at += 100) {
        reader.Feed(std::string_view(line).substr(at, 100));
        ASSERT_EQ(reader.TakeBlock(data), Pop3Reader::Result::NeedMore);
        ASSERT_EQ(reader.Pending(), 0u) << "data is moved out as it comes";
    }
    reader.Feed("\r\n.\r\n");
    ASSERT_EQ(reader.TakeBlock(data), Pop3Reader::Result::Complete);
    EXPECT_EQ(data, line);
}

} // namespace
} // namespace tegalo
