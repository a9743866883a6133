#include "store/AddressBook.h"

#include "store_test_support.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <sys/stat.h>

namespace tegalo {
namespace {

using namespace literals;
using namespace testing_support;

TEST(AddressBookEntry, OfASender) {
    struct Row {
        const char* name;
        std::string sender;
        std::string entry;
    } const rows[] = {
        {"name, blank and bracketed address", "山田 太郎 <taro@example.jp>"_sjis, "山田 太郎 ,taro@example.jp"_sjis},
        {"bare address is name and address", "bob@example.org", "bob@example.org,bob@example.org"},
        {"\"<\" at the start does not split", "<only@example.jp>", "<only@example.jp>,<only@example.jp>"},
        {"no \">\": the address runs to the end", "Ann <ann@example.jp", "Ann ,ann@example.jp"},
        {"text after \">\" is left out", "Ann <ann@example.jp> (work)", "Ann ,ann@example.jp"},
        {"comma in the name becomes a full-width comma", "\"Doe, John\" <john@example.com>",
         "\"Doe"_sjis + "，"_sjis + " John\" ,john@example.com"},
        {"comma in a bare sender stays in the address", "a@x, b@y", "a@x"_sjis + "，"_sjis + " b@y,a@x, b@y"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(SenderAddressEntry(row.sender), row.entry) << row.name;
        EXPECT_EQ(ParseAddressBook(row.entry).size(), 1u) << row.name;
        EXPECT_TRUE(ParseAddressBook(row.entry)[0].comma) << row.name;
    }
}

// Files that the dialog must write back exactly as it read them.
TEST(AddressBookFile, ReadAndWrittenBackUnchanged) {
    struct Row {
        const char* name;
        std::string bytes;
    } const rows[] = {
        {"empty book", ""},
        {"one entry", "alice,alice@example.jp\r\n"},
        {"comma in the address stays in the address", "list,\"a,b\"@example.jp,extra\r\n"},
        {"Japanese name", "山田 太郎 ,taro@example.jp\r\n"_sjis},
        {"line without a comma", "just a name\r\n"},
        {"empty line between entries", "a,a@x\r\n\r\nb,b@x\r\n"},
        {"empty address after the comma", "nobody,\r\n"},
        {"blanks kept on both sides", "  bob ,  bob@example.com \r\n"},
        {"bytes that are not Shift_JIS", "\x81\xff,\x80@x\r\n"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(FormatAddressBook(ParseAddressBook(row.bytes)), row.bytes) << row.name;
    }
}

TEST(AddressBookFile, SplitsAtTheFirstComma) {
    const std::vector<AddressEntry> entries =
        ParseAddressBook("a,b,c\r\n"
                         "no comma\r\n"
                         ",only@address\r\n"
                         "last,without line end");
    const std::vector<AddressEntry> expected{
        {"a", "b,c", true},
        {"no comma", "", false},
        {"", "only@address", true},
        {"last", "without line end", true},
    };
    EXPECT_EQ(entries, expected);
    // Only the line end is added when the last line had none.
    EXPECT_EQ(FormatAddressBook(entries), "a,b,c\r\nno comma\r\n,only@address\r\nlast,without line end\r\n");
}

TEST(AddressBookFile, LineWithoutCommaGetsOneOnceItHasAnAddress) {
    AddressEntry entry{"name", "", false};
    EXPECT_EQ(FormatAddressBook({entry}), "name\r\n");
    entry.address = "name@example.jp";
    EXPECT_EQ(FormatAddressBook({entry}), "name,name@example.jp\r\n");
}

TEST(AddressBookFile, WriteReplacesTheWholeFile) {
    TempDir dir;
    WriteFile(dir / "addr", "old,old@example.jp\r\nsecond,s@example.jp\r\n");
    ASSERT_EQ(::chmod((dir / "addr").c_str(), 0640), 0);
    ASSERT_EQ(WriteAddressBook(dir.Path(), "addr", {{"new", "new@example.jp", true}}), 0);
    EXPECT_EQ(ReadFile(dir / "addr"), "new,new@example.jp\r\n");
    EXPECT_EQ(std::filesystem::status(dir / "addr").permissions(),
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write |
                  std::filesystem::perms::group_read);
    EXPECT_FALSE(std::filesystem::exists(dir / "addr.tmp"));

    std::vector<AddressEntry> read;
    ASSERT_EQ(ReadAddressBook(dir.Path(), "addr", read), 0);
    EXPECT_EQ(read, (std::vector<AddressEntry>{{"new", "new@example.jp", true}}));
}

TEST(AddressBookFile, WriteCreatesAMissingFile) {
    TempDir dir;
    ASSERT_EQ(WriteAddressBook(dir.Path(), "addr", {}), 0);
    EXPECT_TRUE(std::filesystem::is_regular_file(dir / "addr"));
    EXPECT_EQ(ReadFile(dir / "addr"), "");
}

TEST(AddressBookFile, FailedWriteLeavesTheOldFileWhole) {
    const std::string old = "old,old@example.jp\r\n";
    struct Row {
        const char* name;
        std::vector<AddressEntry> entries;
        int error;
    } const rows[] = {
        {"comma in a name would split it on the next read", {{"a,b", "x@y", true}}, EINVAL},
        {"line end in a name", {{"a\r\nb", "x@y", true}}, EINVAL},
        {"line end in an address", {{"a", "x@y\n", true}}, EINVAL},
        {"temporary file cannot be created", {{"new", "new@example.jp", true}}, EISDIR},
    };
    for (const Row& row : rows) {
        TempDir dir;
        WriteFile(dir / "addr", old);
        if (row.error == EISDIR) {
            std::filesystem::create_directory(dir / "addr.tmp");
        }
        EXPECT_EQ(WriteAddressBook(dir.Path(), "addr", row.entries), row.error) << row.name;
        EXPECT_EQ(ReadFile(dir / "addr"), old) << row.name;
    }
}

TEST(AddressBookFile, FailedWriteOnAFullDiskLeavesTheOldFileWhole) {
    TempDir dir;
    const std::string old = "old,old@example.jp\r\n";
    WriteFile(dir / "addr", old);
    const std::vector<AddressEntry> many(200, AddressEntry{"someone", "someone@example.jp", true});
    int error = 0;
    {
        const FileSizeLimit limit(100);
        error = WriteAddressBook(dir.Path(), "addr", many);
    }
    EXPECT_EQ(error, EFBIG);
    EXPECT_EQ(ReadFile(dir / "addr"), old);
    EXPECT_FALSE(std::filesystem::exists(dir / "addr.tmp"));
}

TEST(AddressBookFile, ReadReportsAMissingFile) {
    TempDir dir;
    std::vector<AddressEntry> entries{{"kept", "", true}};
    EXPECT_EQ(ReadAddressBook(dir.Path(), "addr", entries), ENOENT);
    EXPECT_EQ(entries.size(), 1u);
}

} // namespace
} // namespace tegalo
