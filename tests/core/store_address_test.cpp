#include "store/AddressBook.h"
#include "store/TegaloDoc.h"
#include "store/TextLines.h"

#include "store_test_support.h"

#include <gtest/gtest.h>

namespace tegalo {
namespace {

using namespace literals;
using namespace testing_support;

TEST(StoreAddress, CompareNames) {
    const std::string longName(300, 'n');
    struct Row {
        const char* name;
        std::string x;
        std::string y;
        int result;
    } const rows[] = {
        {"x first", "alice", "bob", 1},
        {"x after", "bob", "alice", -1},
        {"same name", "carol", "carol", 0},
        {"upper case before lower case", "Bob", "alice", 1},
        {"prefix sorts first", "ab", "abc", 1},
        {"longer after its prefix", "abc", "ab", -1},
        {"empty before anything", "", "a", 1},
        {"two empty names are the same", "", "", 0},
        {"Shift_JIS before ASCII: lead bytes count as negative", "山田"_sjis, "alice", 1},
        {"ASCII after Shift_JIS", "alice", "山田"_sjis, -1},
        {"hiragana before kanji", "あ"_sjis, "山田"_sjis, 1},
        {"long names compared whole", longName + "a", longName + "b", 1},
        {"long names of different length", longName, longName + "x", 1},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(CompareNames(row.x, row.y), row.result) << row.name;
    }
}

class StoreAddressBook : public MailboxTest {};

TEST_F(StoreAddressBook, RegistersInNameOrder) {
    Open();
    const std::string three = Golden("addr_three");
    struct Row {
        const char* name;
        std::string before;
        std::string entry;
        std::string after;
    } const rows[] = {
        {"into an empty book", "", "bob ,bob@example.com", "bob ,bob@example.com\r\n"},
        {"between two names", three, "bob ,bob@example.com", Golden("addr_four")},
        {"after every name", three, "zed,zed@example.jp", three + "zed,zed@example.jp\r\n"},
        {"before every name", three, "あ,a@example.jp"_sjis, "あ,a@example.jp\r\n"_sjis + three},
        {"a last line without line end is kept whole", "a,a@x.jp\r\nb,b@x.jp", "c,c@x.jp",
         "a,a@x.jp\r\nb,b@x.jp\r\nc,c@x.jp\r\n"},
        {"lines of any length", std::string(400, 'a') + ",x\r\n", "b,y", std::string(400, 'a') + ",x\r\nb,y\r\n"},
    };
    for (const Row& row : rows) {
        WriteFile(dir / "addr", row.before);
        ASSERT_EQ(doc.RegAddress(row.entry, "addr", 1), StoreStatus::kOk) << row.name << "\n" << ui.Shown();
        EXPECT_EQ(File("addr"), row.after) << row.name;
    }
    EXPECT_TRUE(ui.messages.empty()) << ui.Shown();
}

TEST_F(StoreAddressBook, RefusesWithoutChangingTheFile) {
    Open();
    const std::string three = Golden("addr_three");
    struct Row {
        const char* name;
        std::string before;
        std::string entry;
        StoreStatus status;
        std::string message;
    } const rows[] = {
        {"same name", three, "alice,other@example.jp", StoreStatus::kDuplicateName, "既に同名の登録があります"_sjis},
        {"same name after leading blanks", three, "  alice,other@example.jp", StoreStatus::kDuplicateName,
         "既に同名の登録があります"_sjis},
        {"same Shift_JIS name", three, "山田,other@example.jp"_sjis, StoreStatus::kDuplicateName,
         "既に同名の登録があります"_sjis},
        {"two entries without a comma both have the empty name", "nocomma\r\n", "other", StoreStatus::kDuplicateName,
         "既に同名の登録があります"_sjis},
        {"a line break would split the entry", three, "eve,eve@x.jp\r\nmallory,m@x.jp", StoreStatus::kInvalidArgument,
         "改行を含む宛先は登録できません"_sjis},
    };
    for (const Row& row : rows) {
        WriteFile(dir / "addr", row.before);
        EXPECT_EQ(doc.RegAddress(row.entry, "addr", 1), row.status) << row.name;
        EXPECT_EQ(ui.Last(), row.message) << row.name;
        EXPECT_EQ(File("addr"), row.before) << row.name;
    }
    EXPECT_EQ(doc.RegAddress("x,y", "addr", 2), StoreStatus::kInvalidArgument);
}

TEST_F(StoreAddressBook, MissingBookIsNotCreated) {
    Open();
    std::filesystem::remove(dir / "addr");
    EXPECT_EQ(doc.RegAddress("bob,bob@example.com", "addr", 1), StoreStatus::kCannotOpen);
    EXPECT_EQ(ui.messages, std::vector<std::string>{"アドレスファイルが開けません"_sjis});
    EXPECT_FALSE(std::filesystem::exists(dir / "addr"));
}

} // namespace
} // namespace tegalo
