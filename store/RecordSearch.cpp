#include "store/RecordSearch.h"

#include "store/Attachments.h"
#include "store/FolderFile.h"
#include "store/Record.h"
#include "text/jis.h"
#include "text/unicode.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string.h> // memmem

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace tegalo {

namespace {

// The full-width katakana for the half-width bytes 0xA1 to 0xDF, in order.
constexpr std::string_view kFullWidthKana =
    "。「」、・ヲァィゥェォャュョッーアイウエオカキクケコサシスセソタチツテトナニヌネノハヒフヘホ"
    "マミムメモヤユヨラリルレロワン゛゜";

struct FoldTables {
    std::array<unsigned char, 128> ascii{};
    // For the lead bytes 0x81, 0x82 and 0xFA: the ASCII byte a double-byte
    // character folds to, or 0 when it stays.
    std::array<std::array<unsigned char, 256>, 3> wide{};
    // Half-width katakana 0xA1..0xDF: the full-width character's two bytes.
    std::array<std::array<unsigned char, 2>, 63> kana{};
    // Which half-width katakana take a voiced (ﾞ) or semi-voiced (ﾟ) mark.
    std::array<bool, 63> voiced{};
    std::array<bool, 63> semiVoiced{};

    FoldTables() {
        for (unsigned c = 0; c < 128; ++c) {
            ascii[c] = static_cast<unsigned char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
        }
        const unsigned char leads[] = {0x81, 0x82, 0xFA};
        for (std::size_t l = 0; l < 3; ++l) {
            for (unsigned t = 0x40; t <= 0xFC; ++t) {
                const char pair[] = {static_cast<char>(leads[l]), static_cast<char>(t)};
                const std::string utf8 = SjisToUtf8(std::string_view(pair, 2));
                // U+3000 is E3 80 80; U+FF01..U+FF5E are EF BC 81..EF BD 9E.
                unsigned code = 0;
                if (utf8.size() == 3) {
                    code = (static_cast<unsigned char>(utf8[0]) & 0x0Fu) << 12 |
                           (static_cast<unsigned char>(utf8[1]) & 0x3Fu) << 6 |
                           (static_cast<unsigned char>(utf8[2]) & 0x3Fu);
                }
                if (code == 0x3000) {
                    wide[l][t] = ' ';
                } else if (code >= 0xFF01 && code <= 0xFF5E) {
                    wide[l][t] = ascii[code - 0xFEE0];
                }
            }
        }
        const std::string full = SjisLiteral(kFullWidthKana);
        for (std::size_t i = 0; i < 63; ++i) {
            kana[i] = {static_cast<unsigned char>(full[2 * i]), static_cast<unsigned char>(full[2 * i + 1])};
            const unsigned c = 0xA1 + static_cast<unsigned>(i);
            voiced[i] = (c >= 0xB6 && c <= 0xC4) || (c >= 0xCA && c <= 0xCE) || c == 0xB3; // ｶ..ﾄ, ﾊ..ﾎ, ｳ
            semiVoiced[i] = c >= 0xCA && c <= 0xCE;                                      // ﾊ..ﾎ
        }
    }
};

const FoldTables& Tables() {
    static const FoldTables tables;
    return tables;
}

int WideIndex(unsigned char lead) {
    return lead == 0x81 ? 0 : lead == 0x82 ? 1 : lead == 0xFA ? 2 : -1;
}

// True when `pos` starts a character of `text` (folded or not): the bytes in
// the lead-byte range right before it pair up as whole characters. (A byte
// outside that range always ends a character, as a character of its own or
// as the second byte of one.)
bool OnBoundary(std::string_view text, std::size_t pos) {
    std::size_t run = 0;
    while (run < pos && IsSjisLead(static_cast<unsigned char>(text[pos - run - 1]))) {
        ++run;
    }
    return run % 2 == 0;
}

} // namespace

namespace {

// Folds `sjis` into `o`, which has room for twice its length (half-width
// katakana double); returns the end of what was written. With `stop`, only
// the characters that start before it (a few past it for ASCII runs), each
// whole as in all of `sjis`.
unsigned char* FoldInto(std::string_view sjis, unsigned char* o, std::size_t stop = std::string_view::npos) {
    const FoldTables& t = Tables();
    const auto* s = reinterpret_cast<const unsigned char*>(sjis.data());
    const std::size_t n = sjis.size();
    stop = std::min(stop, n);
    std::size_t i = 0;
    while (i < stop) {
        // Eight ASCII bytes at a time: upper case letters get bit 0x20.
        if (i + 8 <= n) {
            std::uint64_t word;
            std::memcpy(&word, s + i, 8);
            constexpr std::uint64_t kHigh = 0x8080808080808080u;
            constexpr std::uint64_t kOnes = 0x0101010101010101u;
            if ((word & kHigh) == 0) {
                const std::uint64_t atLeastA = word + kOnes * (0x80 - 'A');
                const std::uint64_t aboveZ = word + kOnes * (0x7F - 'Z');
                const std::uint64_t upper = atLeastA & ~aboveZ & kHigh;
                word |= upper >> 2;
                std::memcpy(o, &word, 8);
                o += 8;
                i += 8;
                continue;
            }
        }
        const unsigned char c = s[i];
        if (c < 0x80) {
            *o++ = t.ascii[c];
            ++i;
        } else if (c >= 0xA1 && c <= 0xDF) {
            const std::size_t k = c - 0xA1u;
            unsigned code = static_cast<unsigned>(t.kana[k][0]) << 8 | t.kana[k][1];
            ++i;
            if (i < n && s[i] == 0xDE && t.voiced[k]) {
                code = c == 0xB3 ? 0x8394u : code + 1; // ｳﾞ is ヴ
                ++i;
            } else if (i < n && s[i] == 0xDF && t.semiVoiced[k]) {
                code += 2;
                ++i;
            }
            *o++ = static_cast<unsigned char>(code >> 8);
            *o++ = static_cast<unsigned char>(code & 0xFF);
        } else if (IsSjisLead(c) && i + 1 < n) {
            const int w = WideIndex(c);
            const unsigned char narrow = w < 0 ? 0 : t.wide[static_cast<std::size_t>(w)][s[i + 1]];
            if (narrow != 0) {
                *o++ = narrow;
            } else {
                *o++ = c;
                *o++ = s[i + 1];
            }
            i += 2;
        } else {
            *o++ = c;
            ++i;
        }
    }
    return o;
}

} // namespace

void AppendFolded(std::string_view sjis, std::string& out) {
    const std::size_t start = out.size();
    out.resize(start + sjis.size() * 2);
    auto* begin = reinterpret_cast<unsigned char*>(out.data());
    const unsigned char* end = FoldInto(sjis, begin + start);
    out.resize(static_cast<std::size_t>(end - begin));
}

std::string Folded(std::string_view sjis) {
    std::string out;
    AppendFolded(sjis, out);
    return out;
}

namespace {

// The subject, sender and message text of a record (for a multipart record
// the text part without its part header); false for a record that cannot
// be cut into its pieces. Reads only the size fields it needs: a search
// reads every record of the folder.
bool SearchedPieces(std::string_view record, std::array<std::string_view, 3>& pieces) {
    if (record.size() < kSizeBlockLength) {
        return false;
    }
    const auto field = [&](std::size_t index) {
        return ParseField(record.substr(index * kFieldWidth, kFieldWidth)).value_or(-1);
    };
    const int length = field(kRecordLength);
    const int subject = field(kSubjectLength);
    const int sender = field(kSenderLength);
    const int date = field(kDateLength);
    const int parts = field(kPartCount);
    const int header = field(kHeaderLength);
    const int body = field(kBodyLength);
    if (length < 0 || subject < 0 || sender < 0 || date < 0 || parts < 0 || header < 0 || body < 0 ||
        record.size() != kFieldWidth + static_cast<std::size_t>(length) ||
        kSizeBlockLength + static_cast<std::size_t>(subject + sender + date + header + body) > record.size()) {
        return false;
    }
    const std::size_t at = kSizeBlockLength + static_cast<std::size_t>(subject + sender + date + header);
    const std::string_view text = record.substr(at, static_cast<std::size_t>(body));
    pieces = {record.substr(kSizeBlockLength, static_cast<std::size_t>(subject)),
              record.substr(kSizeBlockLength + static_cast<std::size_t>(subject), static_cast<std::size_t>(sender)),
              parts != 0 ? PartRecordContent(text) : text};
    return true;
}

} // namespace

std::string RecordSearchText(std::string_view record) {
    std::array<std::string_view, 3> pieces;
    std::string text;
    if (!SearchedPieces(record, pieces)) {
        return text;
    }
    text.reserve(pieces[0].size() + pieces[1].size() + pieces[2].size() + 3);
    for (std::string_view piece : pieces) {
        AppendFolded(piece, text);
        text.push_back('\n');
    }
    return text;
}

// How to find the query in unfolded text: the raw forms of one of its
// characters (the anchor), single bytes and byte pairs, each of which folds
// to that character; and how many characters of the query stand before the
// anchor and from it on.
struct TextMatcher::RawPlan {
    std::vector<unsigned char> singles;
    std::vector<std::array<unsigned char, 2>> pairs;
    std::size_t before = 0;
    std::size_t from = 0;
    // The first bytes of the raw forms of the character after the anchor
    // (all true when the anchor is the last character).
    std::array<bool, 256> next{};
    // The first bytes of the anchor's forms.
    std::array<bool, 256> first{};
};

namespace {

// Every raw character and half-width katakana with its mark, by what it
// folds to (one folded character: a byte, or 0x10000 | its two bytes).
struct RawForms {
    std::vector<unsigned char> singles;
    std::vector<std::array<unsigned char, 2>> pairs;
};

const std::vector<std::pair<unsigned, RawForms>>& InverseFolds() {
    static const std::vector<std::pair<unsigned, RawForms>> table = [] {
        // (folded character, raw form: one byte, or 0x10000 | two bytes)
        std::vector<std::pair<unsigned, unsigned>> found;
        const auto add = [&](const unsigned char* folded, std::size_t length, unsigned raw) {
            if (length == 1) {
                found.emplace_back(folded[0], raw);
            } else if (length == 2 && IsSjisLead(folded[0])) {
                found.emplace_back(0x10000u | static_cast<unsigned>(folded[0]) << 8 | folded[1], raw);
            } // more than one character: found through its first form
        };
        unsigned char out[8];
        for (unsigned b = 0; b < 256; ++b) {
            const char raw[] = {static_cast<char>(b)};
            if (IsSjisLead(static_cast<unsigned char>(b))) {
                for (unsigned trail = 0; trail < 256; ++trail) {
                    const char pair[] = {static_cast<char>(b), static_cast<char>(trail)};
                    add(out, static_cast<std::size_t>(FoldInto(std::string_view(pair, 2), out) - out),
                        0x10000u | b << 8 | trail);
                }
                continue;
            }
            add(out, static_cast<std::size_t>(FoldInto(std::string_view(raw, 1), out) - out), b);
            if (b >= 0xA1 && b <= 0xDF) {
                for (const unsigned mark : {0xDEu, 0xDFu}) {
                    const char pair[] = {static_cast<char>(b), static_cast<char>(mark)};
                    add(out, static_cast<std::size_t>(FoldInto(std::string_view(pair, 2), out) - out),
                        0x10000u | b << 8 | mark);
                }
            }
        }
        std::sort(found.begin(), found.end());
        std::vector<std::pair<unsigned, RawForms>> forms;
        for (const auto& [key, raw] : found) {
            if (forms.empty() || forms.back().first != key) {
                forms.emplace_back(key, RawForms{});
            }
            RawForms& f = forms.back().second;
            if (raw < 0x100) {
                f.singles.push_back(static_cast<unsigned char>(raw));
            } else {
                f.pairs.push_back({static_cast<unsigned char>(raw >> 8 & 0xFF), static_cast<unsigned char>(raw & 0xFF)});
            }
        }
        return forms;
    }();
    return table;
}

const RawForms* FormsOf(unsigned key) {
    const auto& table = InverseFolds();
    const auto it = std::lower_bound(table.begin(), table.end(), key,
                                     [](const auto& entry, unsigned k) { return entry.first < k; });
    return it != table.end() && it->first == key ? &it->second : nullptr;
}

// How often a raw form turns up in mail text, roughly: the anchor is the
// query's character whose forms turn up least.
double Frequency(unsigned char single) {
    static constexpr double kLetters[26] = {8.2, 1.5, 2.8, 4.3, 12.7, 2.2, 2.0, 6.1, 7.0, 0.2, 0.8, 4.0, 2.4,
                                            6.7, 7.5, 1.9, 0.1, 6.0, 6.3, 9.1, 2.8, 1.0, 2.4, 0.2, 2.0, 0.1};
    if (single >= 'a' && single <= 'z') {
        return kLetters[single - 'a'];
    }
    if (single >= 'A' && single <= 'Z') {
        return kLetters[single - 'A'] / 4;
    }
    if (single == ' ') {
        return 18;
    }
    return single < 0x80 ? 2 : 0.5;
}

double Frequency(const std::array<unsigned char, 2>& pair) {
    if (pair[0] == 0x82) {
        return pair[1] >= 0x9F ? 4 : 0.05; // hiragana; full-width letters and digits
    }
    return pair[0] == 0x81 ? 3 : pair[0] == 0x83 ? 1 : 0.2;
}

} // namespace

TextMatcher::TextMatcher(std::string_view sjisQuery) {
    std::string typed;
    for (char c : sjisQuery) {
        if (c != '\r' && c != '\n') {
            typed.push_back(c);
        }
    }
    query_ = Folded(typed);
    // The query's characters as the folded text has them.
    std::vector<unsigned> keys;
    const auto* q = reinterpret_cast<const unsigned char*>(query_.data());
    for (std::size_t i = 0; i < query_.size();) {
        if (IsSjisLead(q[i]) && i + 1 < query_.size()) {
            keys.push_back(0x10000u | static_cast<unsigned>(q[i]) << 8 | q[i + 1]);
            i += 2;
        } else {
            keys.push_back(q[i++]);
        }
    }
    const RawForms* anchor = nullptr;
    std::size_t anchorIndex = 0;
    double least = 0;
    for (std::size_t k = 0; k < keys.size(); ++k) {
        const RawForms* forms = FormsOf(keys[k]);
        if (forms == nullptr) {
            return; // a character no raw text folds to on its own: fold the records whole
        }
        double frequency = 0;
        for (unsigned char single : forms->singles) {
            frequency += Frequency(single);
        }
        for (const auto& pair : forms->pairs) {
            frequency += Frequency(pair);
        }
        if (anchor == nullptr || frequency < least) {
            anchor = forms;
            anchorIndex = k;
            least = frequency;
        }
    }
    if (anchor != nullptr && anchor->singles.size() <= 4 && anchor->pairs.size() <= 4) {
        auto plan = std::make_unique<RawPlan>(RawPlan{anchor->singles, anchor->pairs, anchorIndex,
                                                      keys.size() - anchorIndex, {}});
        if (anchorIndex + 1 < keys.size()) {
            const RawForms* after = FormsOf(keys[anchorIndex + 1]);
            for (unsigned char single : after->singles) {
                plan->next[single] = true;
            }
            for (const auto& pair : after->pairs) {
                plan->next[pair[0]] = true;
            }
        } else {
            plan->next.fill(true);
        }
        for (unsigned char single : plan->singles) {
            plan->first[single] = true;
        }
        for (const auto& pair : plan->pairs) {
            plan->first[pair[0]] = true;
        }
        plan_ = std::move(plan);
    }
}

TextMatcher::~TextMatcher() = default;
TextMatcher::TextMatcher(TextMatcher&&) noexcept = default;
TextMatcher& TextMatcher::operator=(TextMatcher&&) noexcept = default;

bool TextMatcher::FoundInRecord(std::string_view record) const {
    if (Empty()) {
        return true;
    }
    std::array<std::string_view, 3> pieces;
    if (!SearchedPieces(record, pieces)) {
        return false;
    }
    if (!plan_) {
        std::string text;
        for (std::string_view piece : pieces) {
            text.clear();
            AppendFolded(piece, text);
            if (FoundIn(text)) {
                return true;
            }
        }
        return false;
    }
    for (std::string_view piece : pieces) {
        if (FoundInPiece(piece)) {
            return true;
        }
    }
    return false;
}

#if defined(__x86_64__)
namespace {

// Hands each place in `s` where one of the forms starts to `check`, block by
// block, until it says yes (then `found`). Returns where the blocks ended.
template <class Check>
std::size_t ScanBlocksSse2(const unsigned char* s, std::size_t n, const std::vector<unsigned char>& singleForms,
                           const std::vector<std::array<unsigned char, 2>>& pairForms, Check&& check, bool& found) {
    __m128i singles[4];
    __m128i leads[4];
    __m128i trails[4];
    const std::size_t ns = singleForms.size();
    const std::size_t np = pairForms.size();
    for (std::size_t k = 0; k < ns; ++k) {
        singles[k] = _mm_set1_epi8(static_cast<char>(singleForms[k]));
    }
    for (std::size_t k = 0; k < np; ++k) {
        leads[k] = _mm_set1_epi8(static_cast<char>(pairForms[k][0]));
        trails[k] = _mm_set1_epi8(static_cast<char>(pairForms[k][1]));
    }
    std::size_t i = 0;
    for (; i + 17 <= n; i += 16) {
        const __m128i here = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
        const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i + 1));
        __m128i hit = _mm_setzero_si128();
        for (std::size_t k = 0; k < ns; ++k) {
            hit = _mm_or_si128(hit, _mm_cmpeq_epi8(here, singles[k]));
        }
        for (std::size_t k = 0; k < np; ++k) {
            hit = _mm_or_si128(hit, _mm_and_si128(_mm_cmpeq_epi8(here, leads[k]), _mm_cmpeq_epi8(next, trails[k])));
        }
        for (auto bits = static_cast<unsigned>(_mm_movemask_epi8(hit)); bits != 0; bits &= bits - 1) {
            if (check(i + static_cast<std::size_t>(__builtin_ctz(bits)))) {
                found = true;
                return i;
            }
        }
    }
    return i;
}

// The same, 32 bytes a block.
template <class Check>
__attribute__((target("avx2"))) std::size_t
ScanBlocksAvx2(const unsigned char* s, std::size_t n, const std::vector<unsigned char>& singleForms,
               const std::vector<std::array<unsigned char, 2>>& pairForms, Check&& check, bool& found) {
    __m256i singles[4];
    __m256i leads[4];
    __m256i trails[4];
    const std::size_t ns = singleForms.size();
    const std::size_t np = pairForms.size();
    for (std::size_t k = 0; k < ns; ++k) {
        singles[k] = _mm256_set1_epi8(static_cast<char>(singleForms[k]));
    }
    for (std::size_t k = 0; k < np; ++k) {
        leads[k] = _mm256_set1_epi8(static_cast<char>(pairForms[k][0]));
        trails[k] = _mm256_set1_epi8(static_cast<char>(pairForms[k][1]));
    }
    std::size_t i = 0;
    for (; i + 33 <= n; i += 32) {
        const __m256i here = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + i));
        const __m256i next = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + i + 1));
        __m256i hit = _mm256_setzero_si256();
        for (std::size_t k = 0; k < ns; ++k) {
            hit = _mm256_or_si256(hit, _mm256_cmpeq_epi8(here, singles[k]));
        }
        for (std::size_t k = 0; k < np; ++k) {
            hit = _mm256_or_si256(hit,
                                  _mm256_and_si256(_mm256_cmpeq_epi8(here, leads[k]), _mm256_cmpeq_epi8(next, trails[k])));
        }
        for (auto bits = static_cast<unsigned>(_mm256_movemask_epi8(hit)); bits != 0; bits &= bits - 1) {
            if (check(i + static_cast<std::size_t>(__builtin_ctz(bits)))) {
                found = true;
                return i;
            }
        }
    }
    return i;
}

} // namespace
#endif

bool TextMatcher::FoundInPiece(std::string_view sjis) const {
    const RawPlan& plan = *plan_;
    const auto* s = reinterpret_cast<const unsigned char*>(sjis.data());
    const std::size_t n = sjis.size();
    // A match holding an anchor form at `p` lies in the text from two bytes
    // per character before the anchor to two per character from it on
    // (no character's raw form is longer): fold that much and compare.
    std::string folded;
    const auto matchesAround = [&](std::size_t p) {
        // Most places fail on the next character already.
        const std::size_t after =
            p + (std::find(plan.singles.begin(), plan.singles.end(), s[p]) != plan.singles.end() ? 1 : 2);
        if (plan.from > 1 && (after >= n || !plan.next[s[after]])) {
            return false;
        }
        std::size_t start = p >= 2 * plan.before ? p - 2 * plan.before : 0;
        if (!OnBoundary(sjis, start)) {
            --start;
        }
        // A voiced mark belongs to the half-width katakana before it.
        if (start > 0 && (s[start] == 0xDE || s[start] == 0xDF) && s[start - 1] >= 0xA1 && s[start - 1] <= 0xDF &&
            OnBoundary(sjis, start - 1)) {
            --start;
        }
        const std::string_view window = sjis.substr(start);
        const std::size_t stop = p + 2 * plan.from - start;
        folded.resize(2 * std::min(stop + 8, window.size()) + 8);
        auto* begin = reinterpret_cast<unsigned char*>(folded.data());
        const unsigned char* end = FoldInto(window, begin, stop);
        return Find(std::string_view(folded.data(), static_cast<std::size_t>(end - begin))) != std::string_view::npos;
    };
    std::size_t i = 0;
#if defined(__x86_64__)
    static const bool avx2 = __builtin_cpu_supports("avx2");
    bool found = false;
    if (avx2) {
        i = ScanBlocksAvx2(s, n, plan.singles, plan.pairs, matchesAround, found);
    }
    if (!found) {
        i += ScanBlocksSse2(s + i, n - i, plan.singles, plan.pairs,
                            [&](std::size_t p) { return matchesAround(i + p); }, found);
    }
    if (found) {
        return true;
    }
#endif
    for (; i < n; ++i) {
        if (!plan.first[s[i]]) {
            continue;
        }
        bool hit = std::find(plan.singles.begin(), plan.singles.end(), s[i]) != plan.singles.end();
        for (std::size_t k = 0; !hit && k < plan.pairs.size(); ++k) {
            hit = i + 1 < n && s[i] == plan.pairs[k][0] && s[i + 1] == plan.pairs[k][1];
        }
        if (hit && matchesAround(i)) {
            return true;
        }
    }
    return false;
}

bool TextMatcher::FoundIn(std::string_view foldedText) const {
    return query_.empty() || Find(foldedText) != std::string_view::npos;
}

std::size_t TextMatcher::Find(std::string_view foldedText, std::size_t from) const {
    if (query_.empty()) {
        return from <= foldedText.size() ? from : std::string_view::npos;
    }
    while (from + query_.size() <= foldedText.size()) {
        const void* hit =
            memmem(foldedText.data() + from, foldedText.size() - from, query_.data(), query_.size());
        if (hit == nullptr) {
            break;
        }
        const auto pos = static_cast<std::size_t>(static_cast<const char*>(hit) - foldedText.data());
        if (OnBoundary(foldedText, pos)) {
            return pos;
        }
        from = pos + 1;
    }
    return std::string_view::npos;
}

void FolderSearch::Reset() {
    text_.reset();
    size_ = 0;
    capacity_ = 0;
    ends_.clear();
}

std::string_view FolderSearch::TextOf(std::size_t index) const {
    const std::size_t start = index == 0 ? 0 : ends_[index - 1];
    return std::string_view(text_.get() + start, ends_[index] - start);
}

void FolderSearch::Erase(int index) {
    if (index < 0 || static_cast<std::size_t>(index) >= ends_.size()) {
        return;
    }
    const auto k = static_cast<std::size_t>(index);
    const std::size_t start = k == 0 ? 0 : ends_[k - 1];
    const std::size_t length = ends_[k] - start;
    std::memmove(text_.get() + start, text_.get() + ends_[k], size_ - ends_[k]);
    size_ -= length;
    ends_.erase(ends_.begin() + index);
    for (std::size_t i = k; i < ends_.size(); ++i) {
        ends_[i] -= length;
    }
}

void FolderSearch::Append(std::string_view record) {
    const std::optional<RecordPieces> pieces = SplitRecord(record);
    if (!pieces) {
        ends_.push_back(size_); // nothing to sort by
        return;
    }
    const std::size_t room = 2 * (pieces->subject.size() + pieces->sender.size()) + 2;
    if (capacity_ - size_ < room) {
        const std::size_t capacity = std::max(capacity_ + capacity_ / 2, size_ + room);
        std::unique_ptr<char[]> bigger(new char[capacity]); // not filled: only what is written is read
        if (size_ > 0) {
            std::memcpy(bigger.get(), text_.get(), size_);
        }
        text_ = std::move(bigger);
        capacity_ = capacity;
    }
    auto* begin = reinterpret_cast<unsigned char*>(text_.get());
    unsigned char* o = begin + size_;
    for (std::string_view piece : {pieces->subject, pieces->sender}) {
        o = FoldInto(piece, o);
        *o++ = '\n';
    }
    size_ = static_cast<std::size_t>(o - begin);
    ends_.push_back(size_);
}

void FolderSearch::Complete(const RecordList& list) {
    if (ends_.size() > list.size()) {
        Reset(); // fewer records than lines: the list changed unseen
    }
    ends_.reserve(list.size());
    for (std::size_t i = ends_.size(); i < list.size(); ++i) {
        Append(list[i]);
    }
}

std::vector<int> FolderSearch::Matching(const RecordList& list, const TextMatcher& matcher, int first) {
    std::vector<int> found;
    for (auto i = static_cast<std::size_t>(std::max(first, 0)); i < list.size(); ++i) {
        if (i + 2 < list.size()) {
            __builtin_prefetch(list[i + 2].data()); // records lie far apart: fetch ahead
        }
        if (matcher.FoundInRecord(list[i])) {
            found.push_back(static_cast<int>(i));
        }
    }
    return found;
}

std::string_view FolderSearch::FoldedLine(const RecordList& list, int index, int line) {
    Complete(list);
    if (index < 0 || static_cast<std::size_t>(index) >= ends_.size()) {
        return {};
    }
    std::string_view text = TextOf(static_cast<std::size_t>(index));
    for (int k = 0; k < line; ++k) {
        const std::size_t lf = text.find('\n');
        text = lf == std::string_view::npos ? std::string_view() : text.substr(lf + 1);
    }
    return text.substr(0, text.find('\n'));
}

namespace {

int MonthOf(std::string_view word) {
    static constexpr std::string_view kMonths[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                                   "jul", "aug", "sep", "oct", "nov", "dec"};
    if (word.size() < 3) {
        return 0;
    }
    const std::string lower = Folded(word.substr(0, 3));
    for (int m = 0; m < 12; ++m) {
        if (lower == kMonths[m]) {
            return m + 1;
        }
    }
    return 0;
}

// Days from 1970-01-01 to the given day of the proleptic Gregorian calendar.
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

bool AllDigits(std::string_view s) {
    return !s.empty() && s.find_first_not_of("0123456789") == std::string_view::npos;
}

int Number(std::string_view s) {
    int value = 0;
    for (char c : s.substr(0, 9)) {
        value = value * 10 + (c - '0');
    }
    return value;
}

} // namespace

std::optional<std::int64_t> DateSortKey(std::string_view date) {
    int day = 0;
    int month = 0;
    int year = -1;
    int seconds = 0;
    int zoneMinutes = 0;
    std::size_t pos = 0;
    while (pos < date.size()) {
        const std::size_t start = date.find_first_not_of(" ,\t", pos);
        if (start == std::string_view::npos) {
            break;
        }
        const std::size_t end = std::min(date.find_first_of(" ,\t", start), date.size());
        const std::string_view word = date.substr(start, end - start);
        pos = end;
        if (AllDigits(word) && word.size() <= 2 && day == 0) {
            day = Number(word);
        } else if (AllDigits(word) && word.size() == 4 && year < 0) {
            year = Number(word);
        } else if (word.find(':') != std::string_view::npos && AllDigits(word.substr(0, 1))) {
            int parts[3] = {0, 0, 0};
            std::size_t p = 0;
            for (int k = 0; k < 3 && p <= word.size(); ++k) {
                const std::size_t colon = std::min(word.find(':', p), word.size());
                const std::string_view digits = word.substr(p, colon - p);
                parts[k] = AllDigits(digits) ? Number(digits) : 0;
                p = colon + 1;
            }
            seconds = parts[0] * 3600 + parts[1] * 60 + parts[2];
        } else if ((word[0] == '+' || word[0] == '-') && word.size() == 5 && AllDigits(word.substr(1))) {
            const int hhmm = Number(word.substr(1));
            zoneMinutes = (hhmm / 100 * 60 + hhmm % 100) * (word[0] == '-' ? -1 : 1);
        } else if (month == 0) {
            month = MonthOf(word);
        }
    }
    if (day < 1 || day > 31 || month == 0 || year < 0) {
        return std::nullopt;
    }
    return DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) * 86400 + seconds -
           zoneMinutes * 60;
}

} // namespace tegalo
