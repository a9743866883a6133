#include "text/unicode.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace tegalo {
namespace {

using namespace tegalo::literals;

TEST(Unicode, ConvertsBothWays) {
    EXPECT_EQ(SjisToUtf8("\x82\xA0\x82\xA2"), "あい");
    EXPECT_EQ(SjisToUtf8("\xDA\xC3\xDE\xA8"), "ﾚﾃﾞｨ") << "half-width katakana";
    EXPECT_EQ(SjisToUtf8("\x87\x40"), "①") << "NEC special characters of code page 932";
    EXPECT_EQ(SjisToUtf8("\x81\x60"), "～") << "code page 932 maps 0x8160 to the full-width tilde";
    const SjisConversion c = Utf8ToSjis("受信 mail ①");
    EXPECT_TRUE(c.Complete());
    EXPECT_EQ(c.text, "\x8E\xF3\x90\x4D mail \x87\x40");
}

TEST(Unicode, ReportsWhatHasNoShiftJisForm) {
    const SjisConversion c = Utf8ToSjis("a😀b€c");
    EXPECT_EQ(c.text, "abc");
    ASSERT_EQ(c.unmapped.size(), 2u);
    EXPECT_EQ(c.unmapped[0], "😀");
    EXPECT_EQ(c.unmapped[1], "€");

    const SjisConversion broken = Utf8ToSjis("x\xFFy");
    EXPECT_EQ(broken.text, "xy");
    ASSERT_EQ(broken.unmapped.size(), 1u);
    EXPECT_EQ(broken.unmapped[0], "\xEF\xBF\xBD");
}

TEST(Unicode, InvalidShiftJisBytesBecomeReplacementCharacters) {
    EXPECT_EQ(SjisToUtf8("a\x82"), "a\xEF\xBF\xBD") << "lead byte at the end";
    EXPECT_EQ(SjisToUtf8("\x82\x20x"), "\xEF\xBF\xBD x") << "bad trail byte is kept as itself";
}

TEST(Unicode, LiteralsAreStoredAsShiftJis) {
    EXPECT_EQ("HTML形式.html"_sjis, "HTML\x8C\x60\x8E\xAE.html");
    EXPECT_EQ("ファイルが開けません4 LoadList"_sjis, SjisLiteral("ファイルが開けません4 LoadList"));
    EXPECT_THROW(SjisLiteral("😀"), std::logic_error);
}

} // namespace
} // namespace tegalo
