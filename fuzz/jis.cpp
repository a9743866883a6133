// The Shift_JIS <-> ISO-2022-JP conversions. Every valid double-byte
// character maps to JIS X 0208 and back to itself (checked for all of them
// once); text of valid characters, ASCII and half-width katakana survives
// SjisToJis then JisToSjis unchanged and without a JIS error; arbitrary
// ISO-2022-JP never grows by more than the text it holds.
#include "fuzz/FuzzSupport.h"
#include "text/jis.h"

#include <string>

using namespace tegalo;

namespace {

bool CheckAllCharacters() {
    int valid = 0;
    for (unsigned sjis = 0x8000; sjis <= 0xFFFF; ++sjis) {
        const unsigned jis = SjisCharToJis(sjis);
        if (jis != 0) {
            ++valid;
            FUZZ_CHECK(JisCharToSjis(jis) == sjis);
        }
    }
    for (unsigned jis = 0x2121; jis <= 0x7E7E; ++jis) {
        const unsigned sjis = JisCharToSjis(jis);
        if (sjis != 0) {
            FUZZ_CHECK(SjisCharToJis(sjis) == jis);
        }
    }
    FUZZ_CHECK(valid >= 94 * 94 / 2);
    return true;
}

// The text the conversions must keep: printable ASCII, tab, CR, LF,
// half-width katakana and double-byte characters that map.
std::string Keepable(std::string_view bytes) {
    std::string kept;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        if (IsSjisLead(c) && i + 1 < bytes.size()) {
            const unsigned pair = c << 8 | static_cast<unsigned char>(bytes[i + 1]);
            if (SjisCharToJis(pair) != 0) {
                kept += bytes.substr(i, 2);
                ++i;
            }
        } else if ((c >= 0x20 && c < 0x7F) || c == '\t' || c == '\r' || c == '\n' || (c >= 0xA1 && c <= 0xDF)) {
            kept += static_cast<char>(c);
        }
    }
    return kept;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool allChecked = CheckAllCharacters();
    (void)allChecked;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);

    const std::string text = Keepable(bytes);
    const std::string wire = SjisToJis(text);
    bool jisError = true;
    FUZZ_CHECK(JisToSjis(wire, &jisError) == text);
    FUZZ_CHECK(!jisError);

    // Arbitrary bytes as ISO-2022-JP: two bytes of a run give two bytes.
    const std::string back = JisToSjis(bytes, &jisError);
    FUZZ_CHECK(back.size() <= bytes.size());
    // Arbitrary bytes as Shift_JIS: at most the escapes are added.
    FUZZ_CHECK(SjisToJis(bytes).size() <= bytes.size() * 4 + 6);
    return 0;
}
