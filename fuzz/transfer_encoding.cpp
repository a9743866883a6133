// Base64 and quoted-printable: whatever goes in comes back out of the
// encoder and the decoder the same, and decoding arbitrary text never gives
// more bytes than the encoding allows.
#include "fuzz/FuzzSupport.h"
#include "text/transfer_encoding.h"

#include <string>

using namespace tegalo;

namespace {

std::string DecodeBase64Text(std::string_view text) {
    std::string out;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find("\r\n", at);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        std::string line(text.substr(at, end - at));
        line.resize(DecodeBase64Line(line.data(), line.size()));
        out += line;
        at = end + 2;
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);

    const std::string lines = EncodeBase64Lines(bytes);
    FUZZ_CHECK(DecodeBase64Text(lines) == bytes);
    std::string flat = EncodeBase64(bytes);
    FUZZ_CHECK(flat.size() == (size + 2) / 3 * 4);
    flat.resize(DecodeBase64Line(flat.data(), flat.size()));
    FUZZ_CHECK(flat == bytes);

    std::string raw(bytes);
    FUZZ_CHECK(DecodeBase64Line(raw.data(), raw.size()) <= size / 4 * 3);

    // Quoted-printable keeps every byte of a text whose lines end in CR LF.
    const std::string qp = EncodeQuotedPrintable(bytes);
    FUZZ_CHECK(DecodeQuotedPrintable(qp) == bytes);
    FUZZ_CHECK(DecodeQuotedPrintable(bytes).size() <= size);
    return 0;
}
