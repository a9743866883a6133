// The recipient list's lines, the recipient field made of picked lines, and
// the line ends of typed text.
#include "mime/ComposedMessage.h"
#include "mime/RecipientList.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tegalo {
namespace {

struct ListCase {
    const char* name;
    std::string content;
    std::vector<std::string> lines;
};

TEST(ComposeRecipientList, LinesInFileOrder) {
    const std::string longLine(400, 'x');
    const ListCase cases[] = {
        {"CR LF lines", "A,a@x\r\nB,b@x\r\n", {"A,a@x", "B,b@x"}},
        {"LF lines", "A,a@x\nB,b@x\n", {"A,a@x", "B,b@x"}},
        {"last line without a line end keeps its last character", "A,a@x\r\nB,b@x", {"A,a@x", "B,b@x"}},
        {"a line longer than any buffer stays one line", longLine + "\r\nB,b@x\r\n", {longLine, "B,b@x"}},
        {"empty lines name nobody", "\r\nA,a@x\r\n\r\n\nB,b@x\r\n", {"A,a@x", "B,b@x"}},
        {"not sorted", "b,2\r\na,1\r\n", {"b,2", "a,1"}},
        {"empty file", "", {}},
    };
    for (const ListCase& c : cases) {
        EXPECT_EQ(RecipientListLines(c.content), c.lines) << c.name;
    }
}

struct FieldCase {
    const char* name;
    std::string lines;
    std::string field;
};

TEST(ComposeRecipientField, FromPickedLines) {
    const FieldCase cases[] = {
        {"two lines", "name1,address1\r\nname2,address2\r\n", "name1<address1>,name2<address2>"},
        {"one line", "Taro,taro@x\r\n", "Taro<taro@x>"},
        {"no lines", "", ""},
        {"only an empty line", "\r\n", ""},
        {"an address with a comma keeps everything after the first", "A,a@x,b\r\n", "A<a@x,b>"},
        {"a line without a comma is an address alone", "taro@x\r\n", "<taro@x>"},
        {"a last line typed without Enter counts", "A,a@x\r\nB,b@x", "A<a@x>,B<b@x>"},
        {"lines after an empty line are not lost", "A,a@x\r\n\r\nB,b@x\r\n", "A<a@x>,B<b@x>"},
        {"LF line ends", "A,a@x\nB,b@x\n", "A<a@x>,B<b@x>"},
        {"Shift_JIS names", "\x89\xd4\x8e\x71,h@x\r\n", "\x89\xd4\x8e\x71<h@x>"},
    };
    for (const FieldCase& c : cases) {
        EXPECT_EQ(RecipientField(c.lines), c.field) << c.name;
    }
}

TEST(ComposeText, LineEndsBecomeCrLf) {
    EXPECT_EQ(WithCrLf("a\nb\n"), "a\r\nb\r\n");
    EXPECT_EQ(WithCrLf("a\r\nb"), "a\r\nb");
    EXPECT_EQ(WithCrLf("a\rb\r\n\n"), "a\r\nb\r\n\r\n");
    EXPECT_EQ(WithCrLf(""), "");
}

} // namespace
} // namespace tegalo
