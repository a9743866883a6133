#include "text/unicode.h"

#include <cerrno>
#include <iconv.h>
#include <stdexcept>

namespace tegalo {

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

// One iconv descriptor per direction and thread, reset before each use.
class Converter {
public:
    Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {
        if (cd_ == reinterpret_cast<iconv_t>(-1)) {
            throw std::runtime_error(std::string("iconv cannot convert from ") + from + " to " + to);
        }
    }
    ~Converter() { iconv_close(cd_); }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    // Converts `in`, calling onBad(position, length) for input that cannot be
    // converted (length 0 for an incomplete sequence at the end); onBad
    // returns the number of input bytes to skip.
    template <typename OnBad>
    void Run(std::string_view in, std::string& out, OnBad onBad) {
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        char* src = const_cast<char*>(in.data());
        std::size_t srcLeft = in.size();
        char buffer[4096];
        while (srcLeft > 0) {
            char* dst = buffer;
            std::size_t dstLeft = sizeof buffer;
            const std::size_t rc = iconv(cd_, &src, &srcLeft, &dst, &dstLeft);
            const int error = errno;
            out.append(buffer, static_cast<std::size_t>(dst - buffer));
            if (rc != static_cast<std::size_t>(-1) || error == E2BIG) {
                continue;
            }
            const std::size_t pos = in.size() - srcLeft;
            std::size_t skip = onBad(pos, error == EINVAL ? srcLeft : 0);
            if (skip == 0 || skip > srcLeft) {
                skip = srcLeft < 1 ? srcLeft : 1;
            }
            src += skip;
            srcLeft -= skip;
            iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        }
        char* dst = buffer;
        std::size_t dstLeft = sizeof buffer;
        iconv(cd_, nullptr, nullptr, &dst, &dstLeft);
        out.append(buffer, static_cast<std::size_t>(dst - buffer));
    }

private:
    iconv_t cd_;
};

std::size_t Utf8SequenceLength(std::string_view s, std::size_t pos) {
    const auto c = static_cast<unsigned char>(s[pos]);
    std::size_t n = c < 0x80 ? 1 : c < 0xC2 ? 0 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : c < 0xF5 ? 4 : 0;
    if (n == 0 || pos + n > s.size()) {
        return 0;
    }
    for (std::size_t i = 1; i < n; ++i) {
        if ((static_cast<unsigned char>(s[pos + i]) & 0xC0) != 0x80) {
            return 0;
        }
    }
    return n;
}

} // namespace

SjisConversion Utf8ToSjis(std::string_view utf8) {
    thread_local Converter converter("CP932", "UTF-8");
    SjisConversion result;
    result.text.reserve(utf8.size());
    converter.Run(utf8, result.text, [&](std::size_t pos, std::size_t) {
        const std::size_t n = Utf8SequenceLength(utf8, pos);
        result.unmapped.emplace_back(n == 0 ? kReplacement : utf8.substr(pos, n));
        return n == 0 ? std::size_t{1} : n;
    });
    return result;
}

std::string SjisToUtf8(std::string_view sjis) {
    thread_local Converter converter("UTF-8", "CP932");
    std::string out;
    out.reserve(sjis.size() * 3 / 2);
    converter.Run(sjis, out, [&](std::size_t, std::size_t) {
        out.append(kReplacement);
        return std::size_t{1};
    });
    return out;
}

std::string SjisLiteral(std::string_view utf8) {
    SjisConversion c = Utf8ToSjis(utf8);
    if (!c.Complete()) {
        throw std::logic_error("text without a Shift_JIS form: " + std::string(utf8));
    }
    return std::move(c.text);
}

} // namespace tegalo
