#include "store/Record.h"

#include "store_test_support.h"

#include <gtest/gtest.h>

namespace tegalo {
namespace {

using testing_support::Golden;

TEST(StoreRecord, SixCharacterFields) {
    struct Row {
        const char* name;
        std::string_view field;
        std::optional<int> value;
    } const rows[] = {
        {"zero as written", "     0", 0},
        {"count 12", "    12", 12},
        {"largest value", "999999", 999999},
        {"leading zeros are digits too", "000012", 12},
        {"all blanks", "      ", std::nullopt},
        {"trailing blank", "   12 ", std::nullopt},
        {"minus sign", "    -1", std::nullopt},
        {"letter", "  1a 9", std::nullopt},
        {"blank between digits", "  1 23", std::nullopt},
        {"character right after the digits", "    1:", std::nullopt},
        {"byte above ASCII", "    1\xB9", std::nullopt},
        {"tab for a blank", "\t    1", std::nullopt},
        {"too short", "   12", std::nullopt},
        {"too long", "     12", std::nullopt},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(ParseField(row.field), row.value) << row.name;
        if (row.value && row.field[0] == ' ') {
            EXPECT_EQ(FormatField(*row.value), row.field) << row.name;
        }
    }
}

TEST(StoreRecord, FolderNames) {
    struct Row {
        std::string_view name;
        int folder;
    } const rows[] = {
        {"recv", kReceived},     {".\\recv", kReceived}, {"./sent", kSent},   {"reserv", kWaiting},
        {"recycle", kDeleted},   {"RECV", kNoFolder},    {"recv ", kNoFolder}, {"addr", kNoFolder},
        {"", kNoFolder},         {".\\", kNoFolder},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(FolderFromName(row.name), row.folder) << row.name;
    }
    for (int folder = kReceived; folder <= kDeleted; ++folder) {
        EXPECT_EQ(FolderFromName(FolderName(folder)), folder);
    }
}

TEST(StoreRecord, ExampleRecordByteForByte) {
    const RecordPieces pieces{"Hi", "bob", "Mon", "X: y\r\n", "ok", {}};
    const PartSizes sizes = SizesFor(pieces, 0, 0);
    EXPECT_EQ(sizes, (PartSizes{76, 2, 3, 3, 0, 0, 6, 2, 0, 0, 0}));
    EXPECT_EQ(FormatField(1) + BuildRecord(sizes, JoinPieces(pieces)), Golden("example88"));
}

TEST(StoreRecord, SplitGivesThePiecesBack) {
    const RecordPieces pieces{"subject", "sender", "date", "Header: x\r\n", "part", {"first", "", "third"}};
    const std::string record = BuildRecord(SizesFor(pieces, 3, 1), JoinPieces(pieces));
    const std::optional<RecordPieces> cut = SplitRecord(record);
    ASSERT_TRUE(cut.has_value());
    EXPECT_EQ(cut->subject, "subject");
    EXPECT_EQ(cut->sender, "sender");
    EXPECT_EQ(cut->date, "date");
    EXPECT_EQ(cut->header, "Header: x\r\n");
    EXPECT_EQ(cut->body, "part");
    EXPECT_EQ(cut->attachments[0], "first");
    EXPECT_EQ(cut->attachments[1], "");
    EXPECT_EQ(cut->attachments[2], "third");
    EXPECT_EQ(ParseSizeBlock(record)->at(kPartCount), 3);
    const std::string unread = BuildRecord(SizesFor(pieces, 3, 0), JoinPieces(pieces));
    EXPECT_EQ(WithReadMark(unread), record);
}

TEST(StoreRecord, RecordsThatCannotBeStored) {
    const PartSizes good{76, 2, 3, 3, 0, 0, 6, 2, 0, 0, 0};
    struct Row {
        const char* name;
        PartSizes sizes;
        std::size_t textLength;
        RecordProblem problem;
    } const rows[] = {
        {"consistent", good, 16, RecordProblem::kNone},
        {"text shorter than the sizes say", good, 15, RecordProblem::kSizeMismatch},
        {"entry 0 off by one", {77, 2, 3, 3, 0, 0, 6, 2, 0, 0, 0}, 16, RecordProblem::kSizeMismatch},
        {"negative piece", {74, 2, 3, 3, 0, 0, 6, 2, 0, 0, -2}, 14, RecordProblem::kSizeMismatch},
        {"a piece of a million bytes", {1000060, 0, 0, 0, 0, 0, 0, 1000000, 0, 0, 0}, 1000000,
         RecordProblem::kTooLarge},
        {"pieces that add up past six digits", {1000000, 0, 0, 0, 0, 0, 0, 999940, 0, 0, 0}, 999940,
         RecordProblem::kTooLarge},
        {"largest record", {999999, 0, 0, 0, 0, 0, 0, 999939, 0, 0, 0}, 999939, RecordProblem::kNone},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(CheckRecord(row.sizes, std::string(row.textLength, 'x')), row.problem) << row.name;
    }
    EXPECT_EQ(CheckWholeRecord("short"), RecordProblem::kSizeMismatch);
}

} // namespace
} // namespace tegalo
