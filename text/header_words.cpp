#include "text/header_words.h"

#include "text/transfer_encoding.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace tegalo {

namespace {

constexpr std::string_view kLowerPrefix = "=?iso-2022-jp?B?";
constexpr std::string_view kUpperPrefix = "=?ISO-2022-JP?B?";
constexpr std::string_view kEndMarker = "?=";
constexpr std::size_t kPrefixLength = 16;
static_assert(kLowerPrefix.size() == kPrefixLength && kUpperPrefix.size() == kPrefixLength);

// Decodes an encoded word's text in groups of four; the result ends at its
// first zero byte.
void DecodeWordText(std::string_view encoded, std::string& out) {
    out.clear();
    for (std::size_t i = 0; i + 4 <= encoded.size(); i += 4) {
        const int w = Base64Value(static_cast<unsigned char>(encoded[i]));
        const int x = Base64Value(static_cast<unsigned char>(encoded[i + 1]));
        const int y = Base64Value(static_cast<unsigned char>(encoded[i + 2]));
        const int z = Base64Value(static_cast<unsigned char>(encoded[i + 3]));
        const char bytes[3] = {static_cast<char>((w * 4 + x / 16) & 0xFF),
                               static_cast<char>(((x % 16) * 16 + y / 4) & 0xFF),
                               static_cast<char>(((y % 4) * 64 + z) & 0xFF)};
        for (char b : bytes) {
            if (b == 0) {
                return;
            }
            out.push_back(b);
        }
    }
}

// The text being decoded lives in one buffer: the finished part at
// [0, written) and the part still to be read at [read, size). Each word
// decodes to fewer bytes than it occupied, so the decoded bytes fit into the
// gap between the two; they are placed in front of the unread part, together
// with the last prefix-length-minus-one finished bytes, so that the next
// search sees them exactly as a search over the whole text would.
class WordDecoder {
public:
    explicit WordDecoder(std::string_view text) : buf_(text) {}

    std::string Run() {
        // First every word with the lower-case prefix, the whole text over.
        for (;;) {
            const std::size_t q = buf_.find(kLowerPrefix, read_);
            if (q == std::string::npos) {
                break;
            }
            if (!ReplaceWordAt(q)) {
                return Finish(q);
            }
        }
        Compact();
        // Then the upper-case ones. Decoded bytes may form new lower-case
        // words, which come first; they can only start before `modifiedEnd`,
        // since the text beyond it was searched in full above.
        std::size_t modifiedEnd = 0;
        for (;;) {
            std::size_t q = std::string::npos;
            if (read_ < modifiedEnd) {
                const std::size_t limit = std::min(modifiedEnd + kPrefixLength - 1, buf_.size());
                const std::size_t hit = std::string_view(buf_).substr(read_, limit - read_).find(kLowerPrefix);
                if (hit != std::string_view::npos) {
                    q = read_ + hit;
                }
            }
            if (q == std::string::npos) {
                q = buf_.find(kUpperPrefix, read_);
            }
            if (q == std::string::npos) {
                return Finish(read_);
            }
            if (!ReplaceWordAt(q)) {
                return Finish(q);
            }
            modifiedEnd = std::max(modifiedEnd, lastWordEnd_);
        }
    }

private:
    void Commit(std::size_t upTo) {
        std::memmove(buf_.data() + written_, buf_.data() + read_, upTo - read_);
        written_ += upTo - read_;
        read_ = upTo;
    }

    // Replaces the word whose prefix starts at q. Returns false when no end
    // marker follows the prefix, which ends the decoding.
    bool ReplaceWordAt(std::size_t q) {
        Commit(q);
        const std::size_t textStart = q + kPrefixLength;
        const std::size_t end = buf_.find(kEndMarker, textStart);
        if (end == std::string::npos) {
            return false;
        }
        DecodeWordText(std::string_view(buf_).substr(textStart, end - textStart), decoded_);
        lastWordEnd_ = end + kEndMarker.size();
        const std::size_t keep = std::min(kPrefixLength - 1, written_);
        const std::size_t newRead = lastWordEnd_ - decoded_.size() - keep;
        std::memmove(buf_.data() + newRead, buf_.data() + written_ - keep, keep);
        std::memcpy(buf_.data() + newRead + keep, decoded_.data(), decoded_.size());
        written_ -= keep;
        read_ = newRead;
        return true;
    }

    std::string Finish(std::size_t from) {
        read_ = from;
        Compact();
        return std::move(buf_);
    }

    void Compact() {
        Commit(buf_.size());
        buf_.resize(written_);
        written_ = 0;
        read_ = 0;
    }

    std::string buf_;
    std::string decoded_;
    std::size_t written_ = 0;
    std::size_t read_ = 0;
    std::size_t lastWordEnd_ = 0;
};

} // namespace

namespace {

int ComputeBase64Value(unsigned c) {
    if (c == '+') {
        return 62;
    }
    if (c == '/') {
        return 63;
    }
    if (c == '=' || c < 0x30 || c > 0x7F) {
        return 0;
    }
    if (c < 0x40) {
        return static_cast<int>((c + 4) & 63);
    }
    if (c < 0x60) {
        return static_cast<int>((c - 0x41) & 63);
    }
    return static_cast<int>((c - 0x47) & 63);
}

} // namespace

int Base64Value(unsigned char c) {
    static const auto table = [] {
        std::array<unsigned char, 256> values{};
        for (unsigned i = 0; i < 256; ++i) {
            values[i] = static_cast<unsigned char>(ComputeBase64Value(i));
        }
        return values;
    }();
    return table[c];
}

std::string DecodeHeaderWords(std::string_view text) {
    return WordDecoder(text).Run();
}

std::string EncodeHeaderWords(std::string_view text) {
    static constexpr std::string_view kOpen = "\x1b$B";
    static constexpr std::string_view kClose = "\x1b(B";
    std::string out;
    out.reserve(text.size() * 4 / 3 + 32);
    std::size_t pos = 0;
    for (;;) {
        const std::size_t open = text.find(kOpen, pos);
        if (open == std::string_view::npos) {
            out.append(text.substr(pos));
            return out;
        }
        const std::size_t close = text.find(kClose, open + kOpen.size());
        const std::size_t runEnd = close == std::string_view::npos ? text.size() : close + kClose.size();
        out.append(text.substr(pos, open - pos));
        out.append(kLowerPrefix);
        out.append(EncodeBase64(text.substr(open, runEnd - open)));
        out.append(kEndMarker);
        pos = runEnd;
    }
}

} // namespace tegalo
