#include "text/transfer_encoding.h"

#include "text/header_words.h"

#include <array>
#include <cstring>

namespace tegalo {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char kHexDigits[] = "0123456789ABCDEF";
constexpr std::size_t kBase64ChunkBytes = 57;

int UpperHexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// Appends the base64 of up to three bytes to `out`.
template <typename Out>
void EncodeGroup(const unsigned char* in, std::size_t n, Out out) {
    const unsigned b1 = in[0];
    const unsigned b2 = n > 1 ? in[1] : 0;
    const unsigned b3 = n > 2 ? in[2] : 0;
    out(kAlphabet[b1 >> 2]);
    out(kAlphabet[((b1 & 0x03) << 4) | (b2 >> 4)]);
    out(n > 1 ? kAlphabet[((b2 & 0x0F) << 2) | (b3 >> 6)] : '=');
    out(n > 2 ? kAlphabet[b3 & 0x3F] : '=');
}

void AppendBase64(std::string_view data, std::string& out) {
    const auto* p = reinterpret_cast<const unsigned char*>(data.data());
    const std::size_t n = data.size();
    auto push = [&out](char c) { out.push_back(c); };
    std::size_t i = 0;
    for (; i + 3 <= n; i += 3) {
        EncodeGroup(p + i, 3, push);
    }
    if (i < n) {
        EncodeGroup(p + i, n - i, push);
    }
}

} // namespace

char Base64Char(int value) {
    return kAlphabet[value & 63];
}

std::size_t EncodeBase64Chunk(char* buffer, std::size_t length) {
    if (length > kBase64ChunkBytes) {
        length = kBase64ChunkBytes;
    }
    const std::size_t groups = (length + 2) / 3;
    // Work from the last group back, so that no group's input is overwritten
    // before it has been read.
    for (std::size_t g = groups; g-- > 0;) {
        unsigned char in[3] = {0, 0, 0};
        const std::size_t n = length - g * 3 >= 3 ? 3 : length - g * 3;
        for (std::size_t k = 0; k < n; ++k) {
            in[k] = static_cast<unsigned char>(buffer[g * 3 + k]);
        }
        char* dst = buffer + g * 4;
        EncodeGroup(in, n, [&dst](char c) { *dst++ = c; });
    }
    return groups * 4;
}

std::string EncodeBase64(std::string_view data) {
    std::string out;
    out.reserve((data.size() + 2) / 3 * 4);
    AppendBase64(data, out);
    return out;
}

std::string EncodeBase64Lines(std::string_view data) {
    std::string out;
    AppendBase64Lines(out, data);
    return out;
}

void AppendBase64Lines(std::string& out, std::string_view data) {
    // Two characters for each 12 bits, from a table built once.
    static const auto pairs = [] {
        std::array<char, 4096 * 2> table{};
        for (unsigned v = 0; v < 4096; ++v) {
            table[v * 2] = kAlphabet[v >> 6];
            table[v * 2 + 1] = kAlphabet[v & 63];
        }
        return table;
    }();
    const std::size_t n = data.size();
    const std::size_t fullLines = n / kBase64ChunkBytes;
    const std::size_t tail = n % kBase64ChunkBytes;
    const std::size_t start = out.size();
    out.resize(start + fullLines * 78 + (tail ? (tail + 2) / 3 * 4 + 2 : 0));
    const auto* in = reinterpret_cast<const unsigned char*>(data.data());
    char* dst = out.data() + start;
    for (std::size_t line = 0; line < fullLines; ++line) {
        for (std::size_t g = 0; g < kBase64ChunkBytes / 3; ++g, in += 3) {
            const unsigned v = (unsigned{in[0]} << 16) | (unsigned{in[1]} << 8) | in[2];
            std::memcpy(dst, &pairs[(v >> 12) * 2], 2);
            std::memcpy(dst + 2, &pairs[(v & 0xFFF) * 2], 2);
            dst += 4;
        }
        *dst++ = '\r';
        *dst++ = '\n';
    }
    if (tail) {
        std::size_t left = tail;
        for (; left >= 3; left -= 3, in += 3) {
            EncodeGroup(in, 3, [&dst](char c) { *dst++ = c; });
        }
        if (left) {
            EncodeGroup(in, left, [&dst](char c) { *dst++ = c; });
        }
        *dst++ = '\r';
        *dst++ = '\n';
    }
}

std::size_t DecodeBase64Line(char* buffer, std::size_t count) {
    std::size_t written = 0;
    for (std::size_t i = 0; i + 4 <= count; i += 4) {
        const char c3 = buffer[i + 2];
        const char c4 = buffer[i + 3];
        const int a = Base64Value(static_cast<unsigned char>(buffer[i]));
        const int b = Base64Value(static_cast<unsigned char>(buffer[i + 1]));
        const int c = Base64Value(static_cast<unsigned char>(c3));
        const int d = Base64Value(static_cast<unsigned char>(c4));
        const std::size_t bytes = c4 != '=' ? 3 : (c3 == '=' ? 1 : 2);
        // The output never overtakes the input: three bytes per four characters.
        buffer[written++] = static_cast<char>((a * 4 + b / 16) & 0xFF);
        if (bytes > 1) {
            buffer[written++] = static_cast<char>(((b % 16) * 16 + c / 4) & 0xFF);
        }
        if (bytes > 2) {
            buffer[written++] = static_cast<char>(((c % 4) * 64 + d) & 0xFF);
        }
    }
    return written;
}

std::string EncodeQuotedPrintableLine(std::string_view line) {
    std::string out;
    out.reserve(line.size() * 3 + line.size() / 24 + 2);
    std::size_t count = 0;
    for (char ch : line) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x21 || c == '=' || c >= 0x7F) {
            out.push_back('=');
            out.push_back(kHexDigits[c >> 4]);
            out.push_back(kHexDigits[c & 0x0F]);
            count += 3;
        } else {
            out.push_back(ch);
            count += 1;
        }
        if (count % 72 == 0) {
            out.append("=\r\n");
            count += 3;
        }
    }
    out.append("\r\n");
    return out;
}

std::string EncodeQuotedPrintable(std::string_view text) {
    std::string out;
    out.reserve(text.size() * 3 / 2 + 8);
    std::size_t pos = 0;
    for (;;) {
        const std::size_t eol = text.find("\r\n", pos);
        if (eol == std::string_view::npos) {
            out.append(EncodeQuotedPrintableLine(text.substr(pos)));
            break;
        }
        out.append(EncodeQuotedPrintableLine(text.substr(pos, eol - pos)));
        pos = eol + 2;
    }
    out.resize(out.size() - 2);
    return out;
}

std::string DecodeQuotedPrintable(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    std::size_t pos = 0;
    for (;;) {
        const std::size_t eq = text.find('=', pos);
        if (eq == std::string_view::npos) {
            out.append(text.substr(pos));
            return out;
        }
        out.append(text.substr(pos, eq - pos));
        if (text.size() - eq < 3) {
            out.push_back('=');
            return out;
        }
        const int hi = UpperHexValue(text[eq + 1]);
        const int lo = UpperHexValue(text[eq + 2]);
        if (hi >= 0 && lo >= 0) {
            out.push_back(static_cast<char>(hi * 16 + lo));
        }
        pos = eq + 3;
    }
}

} // namespace tegalo
