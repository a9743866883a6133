#include "text/jis.h"

#include <cstddef>
#include <cstring>

namespace tegalo {

namespace {

constexpr std::string_view kOpenRun = "\x1b$B";
constexpr std::string_view kCloseRun = "\x1b(B";
constexpr std::ptrdiff_t kNotFound = PTRDIFF_MAX;

// Finds the first occurrence of a three-byte escape sequence in the text
// formed by `out` followed by `rest`. `out` never holds a whole sequence, but
// its last two bytes may start one that `rest` completes. Returns the
// position relative to the start of `rest` (negative when the sequence
// starts inside `out`), or kNotFound.
std::ptrdiff_t FindSequence(std::string_view out, std::string_view rest, std::string_view seq) {
    for (std::size_t back = 2; back >= 1; --back) {
        if (out.size() < back || rest.size() < 3 - back) {
            continue;
        }
        bool match = true;
        for (std::size_t i = 0; i < 3 && match; ++i) {
            const char c = i < back ? out[out.size() - back + i] : rest[i - back];
            match = c == seq[i];
        }
        if (match) {
            return -static_cast<std::ptrdiff_t>(back);
        }
    }
    const std::size_t pos = rest.find(seq);
    return pos == std::string_view::npos ? kNotFound : static_cast<std::ptrdiff_t>(pos);
}

// JisCharToSjis for every pair of the 94 x 94 square, built once, as the
// two bytes in text order.
struct JisTable {
    char sjis[94 * 94][2];
    JisTable();
};

const JisTable& Table() {
    static const JisTable table;
    return table;
}

} // namespace

JisTable::JisTable() {
    for (unsigned j1 = 0; j1 < 94; ++j1) {
        for (unsigned j2 = 0; j2 < 94; ++j2) {
            const unsigned code = JisCharToSjis(((j1 + 0x21) << 8) | (j2 + 0x21));
            sjis[j1 * 94 + j2][0] = static_cast<char>(code >> 8);
            sjis[j1 * 94 + j2][1] = static_cast<char>(code & 0xFF);
        }
    }
}

unsigned JisCharToSjis(unsigned jis) {
    unsigned j1 = (jis >> 8) & 0xFF;
    unsigned j2 = jis & 0xFF;
    if (j1 < 0x21 || j1 > 0x7E || j2 < 0x21 || j2 > 0x7E) {
        return 0;
    }
    unsigned s2;
    if (j1 & 1) {
        s2 = j2 <= 0x5F ? j2 + 0x1F : j2 + 0x20;
    } else {
        s2 = j2 + 0x7E;
    }
    unsigned s1 = (j1 - 0x21) / 2 + 0x81;
    if (s1 > 0x9F) {
        s1 += 0x40;
    }
    return (s1 << 8) | s2;
}

unsigned SjisCharToJis(unsigned sjis) {
    unsigned s1 = (sjis >> 8) & 0xFF;
    unsigned s2 = sjis & 0xFF;
    const bool leadOk = (s1 >= 0x81 && s1 <= 0x9F) || (s1 >= 0xE0 && s1 <= 0xFC);
    const bool trailOk = (s2 >= 0x40 && s2 <= 0x7E) || (s2 >= 0x80 && s2 <= 0xFC);
    if (!leadOk || !trailOk) {
        return 0;
    }
    unsigned h = s1 >= 0xA0 ? s1 - 0xC1 : s1 - 0x81;
    unsigned code;
    if (s2 >= 0x9F) {
        code = h * 512 + 0x2200 + (s2 - 0x7E);
    } else {
        code = h * 512 + 0x2100 + (s2 <= 0x7E ? s2 - 0x1F : s2 - 0x20);
    }
    unsigned low = code & 0xFF;
    if (code < 0x2121 || code > 0x7E7E || low < 0x21 || low > 0x7E) {
        return 0;
    }
    return code;
}

std::string SjisToJis(std::string_view in) {
    std::string out;
    out.reserve(in.size() + in.size() / 8 + 16);
    const std::size_t n = in.size();
    std::size_t i = 0;
    while (i < n) {
        const auto c = static_cast<unsigned char>(in[i]);
        if (!IsSjisLead(c) || i + 1 >= n) {
            out.push_back(static_cast<char>(c));
            ++i;
            continue;
        }
        out.append(kOpenRun);
        do {
            const unsigned pair = (static_cast<unsigned char>(in[i]) << 8) | static_cast<unsigned char>(in[i + 1]);
            if (const unsigned jis = SjisCharToJis(pair)) {
                out.push_back(static_cast<char>(jis >> 8));
                out.push_back(static_cast<char>(jis & 0xFF));
            }
            i += 2;
        } while (i + 1 < n && IsSjisLead(static_cast<unsigned char>(in[i])));
        out.append(kCloseRun);
    }
    return out;
}

// Single pass over the input. The converted text so far never holds a whole
// escape sequence; only when a run converts to nothing can its last two bytes
// join the following text into one, which FindSequence accounts for.
std::string JisToSjis(std::string_view in, bool* jisError) {
    if (jisError) {
        *jisError = false;
    }
    // The output is never longer than the input: escape sequences vanish and
    // every pair stays a pair.
    std::string out(in.size(), '\0');
    char* const base = out.data();
    std::size_t written = 0;
    const char* const src = in.data();
    const std::size_t n = in.size();
    const JisTable& table = Table();
    std::size_t r = 0;
    auto finish = [&](bool error) {
        std::memcpy(base + written, src + r, n - r);
        out.resize(written + n - r);
        if (jisError) {
            *jisError = error;
        }
        return std::move(out);
    };
    for (;;) {
        std::ptrdiff_t open = kNotFound;
        std::ptrdiff_t close = kNotFound;
        const std::string_view rest = in.substr(r);
        const bool tailMayJoin = (written > 0 && base[written - 1] == '\x1b') || (written > 1 && base[written - 2] == '\x1b');
        if (tailMayJoin) {
            const std::string_view done(base, written);
            open = FindSequence(done, rest, kOpenRun);
            close = FindSequence(done, rest, kCloseRun);
        } else {
            // The first opening sequence, and any closing one met on the way.
            for (std::size_t i = r; i + 2 < n;) {
                const void* hit = std::memchr(src + i, 0x1b, n - 2 - i);
                if (!hit) {
                    break;
                }
                const std::size_t k = static_cast<std::size_t>(static_cast<const char*>(hit) - src);
                if (src[k + 2] == 'B' && src[k + 1] == '$') {
                    open = static_cast<std::ptrdiff_t>(k - r);
                    break;
                }
                if (close == kNotFound && src[k + 2] == 'B' && src[k + 1] == '(') {
                    close = static_cast<std::ptrdiff_t>(k - r);
                }
                i = k + 1;
            }
            if (open != kNotFound && close == kNotFound) {
                const std::size_t from = r + static_cast<std::size_t>(open) + 3;
                const std::size_t hit = from <= n ? in.find(kCloseRun, from) : std::string_view::npos;
                if (hit != std::string_view::npos) {
                    close = static_cast<std::ptrdiff_t>(hit - r);
                }
            }
        }
        if (open == kNotFound) {
            return finish(false);
        }
        if (close == kNotFound || close < open) {
            return finish(true);
        }
        if (open >= 0) {
            std::memcpy(base + written, src + r, static_cast<std::size_t>(open));
            written += static_cast<std::size_t>(open);
        } else {
            written -= static_cast<std::size_t>(-open);
        }
        const std::size_t runEnd = r + static_cast<std::size_t>(close);
        for (std::size_t i = r + static_cast<std::size_t>(open + 3); i + 1 < runEnd; i += 2) {
            const unsigned j1 = static_cast<unsigned char>(src[i]) - 0x21u;
            const unsigned j2 = static_cast<unsigned char>(src[i + 1]) - 0x21u;
            if (j1 >= 94 || j2 >= 94) {
                break;
            }
            std::memcpy(base + written, table.sjis[j1 * 94 + j2], 2);
            written += 2;
        }
        r = runEnd + 3;
    }
}

} // namespace tegalo
