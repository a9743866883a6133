// Finding messages: the folding that makes case and full-/half-width forms
// equal, matches only on character boundaries, the folder's kept search
// texts, and the date key of the date column. Also the other readers of
// hand-written or composed text in the window: UTF-8 lines of the recipient
// list and the stored names of composed attachments.
#include "store/FolderFile.h"
#include "store/PartName.h"
#include "mime/RecipientList.h"
#include "store/Record.h"
#include "store/RecordSearch.h"
#include "text/jis.h"
#include "text/unicode.h"

#include <gtest/gtest.h>

namespace tegalo {
namespace {

using namespace tegalo::literals;

std::string Record(const std::string& subject, const std::string& sender, const std::string& body,
                   const std::string& header = "X: y\r\n\r\n") {
    const RecordPieces pieces{subject, sender, "Mon, 07 Dec 2026 10:00:00 +0900", header, body, {}};
    return BuildRecord(SizesFor(pieces, 0, 0), JoinPieces(pieces));
}

struct FoldCase {
    const char* name;
    std::string text;
    std::string query;
    bool found;
};

TEST(RecordSearch, FoldedMatching) {
    const FoldCase cases[] = {
        {"ASCII case", "Hello World", "hello", true},
        {"full-width capitals", "ＴＡＮＡＫＡ様"_sjis, "tanaka", true},
        {"full-width query on ASCII", "tanaka@example.jp", "ｔａｎａｋａ＠"_sjis, true},
        {"full-width digits", "第１２回"_sjis, "12", true},
        {"ideographic space", "山田　太郎"_sjis, "山田 太郎"_sjis, true},
        {"half-width katakana", "ﾃｽﾄ"_sjis, "テスト"_sjis, true},
        {"half-width voiced marks join", "ｶﾞｲﾄﾞ ﾊﾟｰﾄ"_sjis, "ガイド パート"_sjis, true},
        {"half-width vu", "ｳﾞｧ"_sjis, "ヴァ"_sjis, true},
        {"full-width query on half-width text", "ｻﾝﾌﾟﾙ"_sjis, "サンプル"_sjis, true},
        // "ヂ" is 83 61: the "a" of a query must not match its second byte.
        {"no match inside a double-byte character", "ヂ"_sjis, "a", false},
        {"second byte that equals a query's first", "\x83\x41\x41", "a", true},
        {"kanji are not folded", "東京"_sjis, "京都"_sjis, false},
        {"different letters", "hello", "help", false},
    };
    for (const FoldCase& c : cases) {
        const TextMatcher matcher(c.query);
        EXPECT_EQ(matcher.FoundIn(Folded(c.text)), c.found) << c.name;
    }
    EXPECT_TRUE(TextMatcher("").Empty());
    EXPECT_TRUE(TextMatcher("\r\n").Empty()) << "line ends are not searched for";
}

TEST(RecordSearch, SearchesSubjectSenderAndTextOnly) {
    const std::string record =
        Record("会議の件"_sjis, "Suzuki <suzuki@example.jp>", "本文です\r\n"_sjis, "X-Secret: header\r\n\r\n");
    const std::string text = RecordSearchText(record);
    EXPECT_TRUE(TextMatcher("会議"_sjis).FoundIn(text));
    EXPECT_TRUE(TextMatcher("SUZUKI").FoundIn(text));
    EXPECT_TRUE(TextMatcher("本文"_sjis).FoundIn(text));
    EXPECT_FALSE(TextMatcher("secret").FoundIn(text)) << "the header block is not searched";
    // No match runs from the subject into the sender.
    EXPECT_FALSE(TextMatcher("件suzuki"_sjis).FoundIn(text));
    EXPECT_EQ(RecordSearchText("broken"), "");
}

TEST(RecordSearch, FolderSearchFollowsAppendsAndRemovals) {
    std::string bytes = FormatField(3) + Record("alpha", "a@x", "one") + Record("beta", "b@x", "two") +
                        Record("Alpha again", "c@x", "three");
    RecordList list = ParseFolderBytes(bytes, 1);
    FolderSearch search;
    EXPECT_EQ(search.Matching(list, TextMatcher("ALPHA")), (std::vector<int>{0, 2}));
    EXPECT_EQ(search.FoldedLine(list, 2, 0), "alpha again");
    EXPECT_EQ(search.FoldedLine(list, 1, 1), "b@x");
    // The record 0 left the list: the kept texts move up with it.
    search.Erase(0);
    list = ParseFolderBytes(FormatField(2) + Record("beta", "b@x", "two") + Record("Alpha again", "c@x", "three"), 1);
    EXPECT_EQ(search.Matching(list, TextMatcher("alpha")), (std::vector<int>{1}));
    // An appended record is searched too, also when asked from it on.
    list = ParseFolderBytes(FormatField(3) + Record("beta", "b@x", "two") + Record("Alpha again", "c@x", "three") +
                                Record("x", "y@z", "ａｌｐｈａ"_sjis),
                            1);
    EXPECT_EQ(search.Matching(list, TextMatcher("alpha"), 2), (std::vector<int>{2}));
    // Fewer records than texts: the list changed unseen, the texts are made anew.
    list = ParseFolderBytes(FormatField(1) + Record("alpha", "a@x", "one"), 1);
    EXPECT_EQ(search.Matching(list, TextMatcher("alpha")), (std::vector<int>{0}));
}

// Finding a query in a record as it is must agree with folding the record
// whole and searching that: texts and queries made of the forms that fold
// alike, half-width katakana and their marks, double-byte characters whose
// second byte looks like ASCII, at every position (also past the first 16
// bytes, where the scan takes blocks).
TEST(RecordSearch, SearchingRecordsAsTheyAreAgreesWithFoldingThem) {
    const std::vector<std::string> units = {
        "a", "A", "ａ"_sjis, "Ａ"_sjis, "b", "ｂ"_sjis, " ", "　"_sjis, "ｶ"_sjis, "ﾞ"_sjis, "ﾟ"_sjis, "ﾊ"_sjis,
        "ガ"_sjis, "カ"_sjis, "パ"_sjis, "゛"_sjis, "ヂ"_sjis, "\x83\x41", "京"_sjis, "\r\n", "1", "１"_sjis, "x"};
    std::uint32_t seed = 12345;
    const auto next = [&seed](std::size_t bound) {
        seed = seed * 1103515245u + 12345u;
        return static_cast<std::size_t>(seed >> 8) % bound;
    };
    const auto text = [&](std::size_t most) {
        std::string t;
        for (std::size_t k = next(most + 1); k > 0; --k) {
            t += units[next(units.size())];
        }
        return t;
    };
    int found = 0;
    for (int round = 0; round < 4000; ++round) {
        const std::string record = Record(text(6), text(4), text(30));
        const std::string query = text(3);
        const TextMatcher matcher(query);
        const bool expected = matcher.FoundIn(RecordSearchText(record));
        found += expected ? 1 : 0;
        ASSERT_EQ(matcher.FoundInRecord(record), expected)
            << "query \"" << SjisToUtf8(query) << "\" in \"" << SjisToUtf8(RecordSearchText(record)) << '"';
    }
    EXPECT_GT(found, 400) << "the cases find something often enough to test it";
    EXPECT_FALSE(TextMatcher("a").FoundInRecord("broken"));
}

TEST(RecordSearch, DateSortKey) {
    const auto key = [](std::string_view d) { return DateSortKey(d); };
    ASSERT_TRUE(key("Mon, 07 Dec 2026 10:00:00 +0900"));
    EXPECT_EQ(*key("Mon, 07 Dec 2026 10:00:00 +0900"), *key("Mon, 07 Dec 2026 01:00:00 +0000"));
    EXPECT_EQ(*key("Thu, 01 Jan 1970 00:00:00 +0000"), 0);
    EXPECT_LT(*key("7 Dec 2026 09:59 +0900"), *key("Mon, 07 Dec 2026 10:00:00 +0900"));
    // Tegalo's own stored date of composed messages.
    EXPECT_EQ(*key("Mon, Dec 07, 2026"), *key("07 Dec 2026 00:00:00 +0000"));
    EXPECT_LT(*key("Sat, 28 Feb 2026 12:00:00 +0900"), *key("Sun, 1 Mar 2026 00:00:00 +0900"));
    EXPECT_FALSE(key(""));
    EXPECT_FALSE(key("yesterday"));
    EXPECT_FALSE(key("07 2026"));
}

TEST(RecipientListUtf8, LinesWrittenInUtf8AreConverted) {
    const std::string sjis = "花子,hanako@example.jp"_sjis;
    // Shift_JIS lines stay as they are; a UTF-8 line is converted; a
    // character without a Shift_JIS form becomes 〓.
    const std::string content = sjis + "\r\n" + "次郎,jiro@example.jp\r\n" + "plain,p@example.jp\n" +
                                "絵文字😀,e@example.jp\r\n";
    const std::vector<std::string> lines = RecipientListLines(content);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], sjis);
    EXPECT_EQ(lines[1], "次郎,jiro@example.jp"_sjis);
    EXPECT_EQ(lines[2], "plain,p@example.jp");
    EXPECT_EQ(lines[3], "絵文字〓,e@example.jp"_sjis);
    // A Shift_JIS line that happens to hold a UTF-8 lead byte stays as it is.
    EXPECT_EQ(RecipientListLines("\xE6\x97"), (std::vector<std::string>{"\xE6\x97"}));
}

TEST(PartName, ComposedNamesAreShownInShiftJis) {
    const std::string jis = SjisToJis("資料.png"_sjis);
    ASSERT_NE(jis.find('\x1b'), std::string::npos);
    EXPECT_EQ(ShownPartName(jis), "資料.png"_sjis);
    EXPECT_EQ(ShownPartName("資料.png"_sjis), "資料.png"_sjis) << "received names are already Shift_JIS";
    // An escape that does not close is kept as it is, nothing lost.
    const std::string broken = "\x1b$B;qNA.png";
    EXPECT_EQ(ShownPartName(broken), broken);
}

} // namespace
} // namespace tegalo
