#include "text/transfer_encoding.h"

#include "text/header_words.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define TEGALO_BASE64_SSSE3 1
#endif

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

#if TEGALO_BASE64_SSSE3
namespace {

// Twelve bytes at `in` (sixteen readable) to sixteen base64 characters at
// `out`, four groups at a time.
__attribute__((target("ssse3"))) inline void EncodeTwelve(const unsigned char* in, char* out) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
    // Each 32-bit lane gets the three bytes of one group, as b1 b0 b2 b1.
    v = _mm_shuffle_epi8(v, _mm_set_epi8(10, 11, 9, 10, 7, 8, 6, 7, 4, 5, 3, 4, 1, 2, 0, 1));
    // The four 6-bit values of each group, one per byte.
    const __m128i t0 = _mm_and_si128(v, _mm_set1_epi32(0x0FC0FC00));
    const __m128i t1 = _mm_mulhi_epu16(t0, _mm_set1_epi32(0x04000040));
    const __m128i t2 = _mm_and_si128(v, _mm_set1_epi32(0x003F03F0));
    const __m128i t3 = _mm_mullo_epi16(t2, _mm_set1_epi32(0x01000010));
    const __m128i values = _mm_or_si128(t1, t3);
    // Value to character: an offset chosen by the value's range.
    __m128i range = _mm_subs_epu8(values, _mm_set1_epi8(51));
    const __m128i upper = _mm_cmpgt_epi8(_mm_set1_epi8(26), values);
    range = _mm_or_si128(range, _mm_and_si128(upper, _mm_set1_epi8(13)));
    const __m128i offsets = _mm_setr_epi8('a' - 26, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52,
                                          '0' - 52, '0' - 52, '0' - 52, '0' - 52, '+' - 62, '/' - 63, 'A', 0, 0);
    const __m128i chars = _mm_add_epi8(_mm_shuffle_epi8(offsets, range), values);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), chars);
}

// Full 57-byte lines with the vector unit: four times twelve bytes, then
// three groups from the pair table.
__attribute__((target("ssse3"))) void EncodeFullLinesSsse3(const unsigned char* in, std::size_t lines, char* dst,
                                                            const char* pairs) {
    for (std::size_t line = 0; line < lines; ++line) {
        for (int k = 0; k < 4; ++k) {
            EncodeTwelve(in, dst);
            in += 12;
            dst += 16;
        }
        for (int g = 0; g < 3; ++g, in += 3) {
            const unsigned v = (unsigned{in[0]} << 16) | (unsigned{in[1]} << 8) | in[2];
            std::memcpy(dst, &pairs[(v >> 12) * 2], 2);
            std::memcpy(dst + 2, &pairs[(v & 0xFFF) * 2], 2);
            dst += 4;
        }
        *dst++ = '\r';
        *dst++ = '\n';
    }
}

// Sixteen base64 characters at `in` to twelve bytes at `out` (sixteen
// written). False, writing nothing, when any of them is outside the alphabet
// or is "=".
__attribute__((target("ssse3"))) inline bool DecodeSixteen(const char* in, char* out) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
    const __m128i mask2F = _mm_set1_epi8(0x2F);
    const __m128i highNibbles = _mm_and_si128(_mm_srli_epi32(v, 4), mask2F);
    const __m128i lowNibbles = _mm_and_si128(v, mask2F);
    // A character is in the alphabet when the classes of its two nibbles
    // have no bit in common.
    const __m128i lowClasses = _mm_setr_epi8(0x15, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x13, 0x1A,
                                             0x1B, 0x1B, 0x1B, 0x1A);
    const __m128i highClasses = _mm_setr_epi8(0x10, 0x10, 0x01, 0x02, 0x04, 0x08, 0x04, 0x08, 0x10, 0x10, 0x10, 0x10,
                                              0x10, 0x10, 0x10, 0x10);
    const __m128i classes = _mm_and_si128(_mm_shuffle_epi8(lowClasses, lowNibbles),
                                          _mm_shuffle_epi8(highClasses, highNibbles));
    if (_mm_movemask_epi8(_mm_cmpeq_epi8(classes, _mm_setzero_si128())) != 0xFFFF) {
        return false;
    }
    // Character to value: an offset chosen by the high nibble ("/" apart).
    const __m128i offsets = _mm_setr_epi8(0, 16, 19, 4, -65, -65, -71, -71, 0, 0, 0, 0, 0, 0, 0, 0);
    const __m128i slash = _mm_cmpeq_epi8(v, mask2F);
    v = _mm_add_epi8(v, _mm_shuffle_epi8(offsets, _mm_add_epi8(slash, highNibbles)));
    // Four 6-bit values to 24 bits per 32-bit lane, then the bytes in order.
    const __m128i pairs = _mm_maddubs_epi16(v, _mm_set1_epi32(0x01400140));
    const __m128i groups = _mm_madd_epi16(pairs, _mm_set1_epi32(0x00011000));
    const __m128i bytes = _mm_shuffle_epi8(groups, _mm_setr_epi8(2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), bytes);
    return true;
}

// DecodeSixteen twice over, on 32 characters (24 bytes, 32 written).
__attribute__((target("avx2"))) inline bool DecodeThirtyTwo(const char* in, char* out) {
    __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in));
    const __m256i mask2F = _mm256_set1_epi8(0x2F);
    const __m256i highNibbles = _mm256_and_si256(_mm256_srli_epi32(v, 4), mask2F);
    const __m256i lowNibbles = _mm256_and_si256(v, mask2F);
    const __m256i lowClasses = _mm256_setr_epi8(
        0x15, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x13, 0x1A, 0x1B, 0x1B, 0x1B, 0x1A, 0x15, 0x11, 0x11,
        0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x13, 0x1A, 0x1B, 0x1B, 0x1B, 0x1A);
    const __m256i highClasses = _mm256_setr_epi8(
        0x10, 0x10, 0x01, 0x02, 0x04, 0x08, 0x04, 0x08, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x01,
        0x02, 0x04, 0x08, 0x04, 0x08, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10);
    const __m256i classes = _mm256_and_si256(_mm256_shuffle_epi8(lowClasses, lowNibbles),
                                             _mm256_shuffle_epi8(highClasses, highNibbles));
    if (!_mm256_testz_si256(classes, classes)) {
        return false;
    }
    const __m256i offsets = _mm256_setr_epi8(0, 16, 19, 4, -65, -65, -71, -71, 0, 0, 0, 0, 0, 0, 0, 0, 0, 16, 19, 4,
                                             -65, -65, -71, -71, 0, 0, 0, 0, 0, 0, 0, 0);
    const __m256i slash = _mm256_cmpeq_epi8(v, mask2F);
    v = _mm256_add_epi8(v, _mm256_shuffle_epi8(offsets, _mm256_add_epi8(slash, highNibbles)));
    const __m256i pairs = _mm256_maddubs_epi16(v, _mm256_set1_epi32(0x01400140));
    const __m256i groups = _mm256_madd_epi16(pairs, _mm256_set1_epi32(0x00011000));
    __m256i bytes = _mm256_shuffle_epi8(groups, _mm256_setr_epi8(2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1,
                                                                  2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1));
    bytes = _mm256_permutevar8x32_epi32(bytes, _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 7, 7));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), bytes);
    return true;
}

bool HasSsse3() {
    static const bool has = __builtin_cpu_supports("ssse3");
    return has;
}

bool HasAvx2() {
    static const bool has = __builtin_cpu_supports("avx2");
    return has;
}

} // namespace
#endif

namespace {

// Base64Value shifted into the place of each of the four characters of a
// group, so that a group is four look-ups joined with "or".
struct DecodeTables {
    std::uint32_t shifted[4][256];
    DecodeTables() {
        for (unsigned c = 0; c < 256; ++c) {
            const auto value = static_cast<std::uint32_t>(Base64Value(static_cast<unsigned char>(c)));
            for (unsigned k = 0; k < 4; ++k) {
                shifted[k][c] = value << (18 - 6 * k);
            }
        }
    }
};

const DecodeTables& Tables() {
    static const DecodeTables tables;
    return tables;
}

} // namespace

std::size_t Base64LinesSize(std::size_t bytes) {
    const std::size_t tail = bytes % kBase64ChunkBytes;
    return bytes / kBase64ChunkBytes * 78 + (tail ? (tail + 2) / 3 * 4 + 2 : 0);
}

void AppendBase64Lines(std::string& out, std::string_view data) {
    const std::size_t start = out.size();
    out.resize(start + Base64LinesSize(data.size()));
    WriteBase64Lines(data, out.data() + start);
}

std::size_t WriteBase64Lines(std::string_view data, char* dst) {
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
    const auto* in = reinterpret_cast<const unsigned char*>(data.data());
    char* const begin = dst;
    std::size_t line = 0;
#if TEGALO_BASE64_SSSE3
    if (HasSsse3()) {
        EncodeFullLinesSsse3(in, fullLines, dst, pairs.data());
        line = fullLines;
        in += fullLines * kBase64ChunkBytes;
        dst += fullLines * 78;
    }
#endif
    for (; line < fullLines; ++line) {
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
    return static_cast<std::size_t>(dst - begin);
}

namespace {

// Decodes the groups of `count` characters at `in` to `out`, which may be
// `in` itself: the output never overtakes the input (three bytes for four
// characters), and what is stored beyond the bytes decoded lands on
// characters already read. Otherwise `out` must have room for 32 bytes
// more than the bytes decoded.
std::size_t DecodeGroups(const char* in, std::size_t count, char* out) {
    const DecodeTables& tables = Tables();
    std::size_t written = 0;
    std::size_t i = 0;
#if TEGALO_BASE64_SSSE3
    if (HasAvx2()) {
        while (i + 32 <= count && DecodeThirtyTwo(in + i, out + written)) {
            i += 32;
            written += 24;
        }
    }
    const bool ssse3 = HasSsse3();
#endif
    while (i + 4 <= count) {
#if TEGALO_BASE64_SSSE3
        if (ssse3 && i + 16 <= count && DecodeSixteen(in + i, out + written)) {
            i += 16;
            written += 12;
            continue;
        }
#endif
        // One group at a time up to the next sixteen (or to the end).
        const std::size_t stop = std::min(count & ~std::size_t{3}, i + 16);
        for (; i < stop; i += 4) {
            const auto* p = reinterpret_cast<const unsigned char*>(in + i);
            const std::uint32_t v = tables.shifted[0][p[0]] | tables.shifted[1][p[1]] | tables.shifted[2][p[2]] |
                                    tables.shifted[3][p[3]];
            const std::size_t bytes = p[3] != '=' ? 3 : (p[2] == '=' ? 1 : 2);
            out[written] = static_cast<char>(v >> 16);
            out[written + 1] = static_cast<char>((v >> 8) & 0xFF);
            out[written + 2] = static_cast<char>(v & 0xFF);
            written += bytes;
        }
    }
    return written;
}

} // namespace

std::size_t DecodeBase64Runs(const char* in, std::size_t count, char* out) {
    std::size_t i = 0;
#if TEGALO_BASE64_SSSE3
    std::size_t written = 0;
    if (HasAvx2()) {
        while (i + 32 <= count && DecodeThirtyTwo(in + i, out + written)) {
            i += 32;
            written += 24;
        }
    }
    if (HasSsse3()) {
        while (i + 16 <= count && DecodeSixteen(in + i, out + written)) {
            i += 16;
            written += 12;
        }
    }
#else
    static_cast<void>(in);
    static_cast<void>(count);
    static_cast<void>(out);
#endif
    return i;
}

std::size_t DecodeBase64Line(char* buffer, std::size_t count) {
    return DecodeGroups(buffer, count, buffer);
}

void AppendBase64Decoded(std::string& out, std::string_view lines) {
    std::size_t written = out.size();
    out.resize(written + lines.size() / 4 * 3 + 32);
    char* const base = out.data();
    const char* p = lines.data();
    const char* const end = p + lines.size();
    while (p < end) {
        const auto* eol = static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
        const char* next = eol == nullptr ? end : eol + 1;
        std::size_t length = static_cast<std::size_t>((eol == nullptr ? end : eol) - p);
        if (length > 0 && p[length - 1] == '\r') {
            --length;
        }
        written += DecodeGroups(p, length, base + written);
        p = next;
    }
    out.resize(written);
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

int HexDigitValue(char c) {
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return UpperHexValue(c);
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
