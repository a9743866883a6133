// Header encoded words. A header text of Shift_JIS characters goes out as
// encoded words and comes back the same; decoding arbitrary text never makes
// it longer (every encoded word is longer than its bytes).
#include "fuzz/FuzzSupport.h"
#include "text/header_words.h"
#include "text/jis.h"

#include <string>

using namespace tegalo;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);

    const std::string decoded = DecodeHeaderWords(bytes);
    FUZZ_CHECK(decoded.size() <= bytes.size());

    // The text of a header: characters that map, ASCII without "=" and "?"
    // (which could form a word of their own) and without control bytes.
    std::string text;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        if (IsSjisLead(c) && i + 1 < bytes.size()) {
            if (SjisCharToJis(c << 8 | static_cast<unsigned char>(bytes[i + 1])) != 0) {
                text += bytes.substr(i, 2);
            }
            ++i;
        } else if (c >= 0x20 && c < 0x7F && c != '=' && c != '?') {
            text += static_cast<char>(c);
        }
    }
    const std::string wire = SjisToJis(text);
    const std::string encoded = EncodeHeaderWords(wire);
    FUZZ_CHECK(encoded.find('\x1b') == std::string::npos);
    FUZZ_CHECK(DecodeHeaderWords(encoded) == wire);
    FUZZ_CHECK(JisToSjis(DecodeHeaderWords(encoded)) == text);
    return 0;
}
