// tegalo-convert: runs one of Tegalo's text conversions on standard input and
// writes the result to standard output. Handy for trying the conversions by
// hand and for scripts that compare them with other converters.
//
// Input is read (or, from a file, mapped) and output written in large
// blocks. The conversions that can start afresh at a line end (between
// Shift_JIS and ISO-2022-JP, base64 both ways) work block by block, so that
// a large input is never copied whole; the others read the whole input
// first.
#include "text/header_words.h"
#include "text/jis.h"
#include "text/transfer_encoding.h"
#include "text/unicode.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Blocks of 256 KiB: large enough that the system calls cost nothing, small
// enough that a block and its result stay in the processor's cache.
constexpr std::size_t kBlock = 256 * 1024;
// Base64 encodes whole lines of 57 bytes until the last block.
constexpr std::size_t kEncodeBlock = 57 * 4096;

int Usage() {
    std::fputs("usage: tegalo-convert MODE < input > output\n"
               "modes: sjis-to-jis, jis-to-sjis, decode-header, encode-header,\n"
               "       utf8-to-sjis, sjis-to-utf8, qp-encode, qp-decode,\n"
               "       base64-encode, base64-decode (lines ending in LF or CR LF)\n"
               "example: echo 'こんにちは' | tegalo-convert utf8-to-sjis | tegalo-convert sjis-to-jis\n",
               stderr);
    return 2;
}

// Reads up to `want` bytes of standard input to `to`; returns the number
// read (fewer only at the end of the input), or -1 after a read error.
ssize_t ReadFull(char* to, std::size_t want) {
    std::size_t got = 0;
    while (got < want) {
        const ssize_t n = ::read(STDIN_FILENO, to + got, want - got);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            std::fprintf(stderr, "tegalo-convert: cannot read the input: %s\n", std::strerror(errno));
            return -1;
        }
        if (n == 0) {
            break;
        }
        got += static_cast<std::size_t>(n);
    }
    return static_cast<ssize_t>(got);
}

bool WriteAll(std::string_view data) {
    while (!data.empty()) {
        const ssize_t n = ::write(STDOUT_FILENO, data.data(), data.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            std::fprintf(stderr, "tegalo-convert: cannot write the output: %s\n", std::strerror(errno));
            return false;
        }
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

// The whole of standard input, read in one go when it is a file.
bool ReadAll(std::string& in) {
    struct stat st {};
    std::size_t want = kBlock;
    if (::fstat(STDIN_FILENO, &st) == 0 && S_ISREG(st.st_mode)) {
        const off_t at = ::lseek(STDIN_FILENO, 0, SEEK_CUR);
        if (at >= 0 && st.st_size > at) {
            want = static_cast<std::size_t>(st.st_size - at) + 1;
        }
    }
    for (;;) {
        const std::size_t before = in.size();
        in.resize(before + want);
        const ssize_t n = ReadFull(in.data() + before, want);
        in.resize(before + static_cast<std::size_t>(n < 0 ? 0 : n));
        if (n < 0) {
            return false;
        }
        if (static_cast<std::size_t>(n) < want) {
            return true;
        }
        want = in.size();
    }
}

// What a block conversion made: the length of the input prefix it
// converted, and its result.
struct Converted {
    std::size_t used;
    std::string_view output;
};

// Reads the input in blocks of `block` bytes and hands each to `convert`
// after what the previous one left over; `convert` converts a prefix of its
// text (the whole of it when `last`). After a conversion says so by
// setting `rawRest`, the rest of the input is copied unchanged.
template <typename Convert>
bool ConvertBlocks(std::size_t block, Convert convert) {
    bool rawRest = false;
    // A file is mapped rather than copied in; the blocks are views of it.
    struct stat st {};
    const off_t at = ::lseek(STDIN_FILENO, 0, SEEK_CUR);
    if (::fstat(STDIN_FILENO, &st) == 0 && S_ISREG(st.st_mode) && at == 0 && st.st_size > 0) {
        const auto size = static_cast<std::size_t>(st.st_size);
        void* map = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_POPULATE, STDIN_FILENO, 0);
        if (map != MAP_FAILED) {
            ::madvise(map, size, MADV_SEQUENTIAL);
            const std::string_view file(static_cast<const char*>(map), size);
            bool ok = true;
            std::size_t window = block;
            for (std::size_t pos = 0; ok && pos < size;) {
                const std::string_view text = file.substr(pos, window);
                const bool atEnd = pos + text.size() == size;
                const Converted done = convert(text, atEnd, rawRest);
                ok = WriteAll(done.output);
                pos += done.used;
                if (ok && rawRest) {
                    ok = WriteAll(file.substr(pos));
                    break;
                }
                // No place to stop in a whole window: take more at once.
                window = done.used == 0 ? 2 * window : block;
            }
            ::munmap(map, size);
            return ok;
        }
    }
    std::size_t capacity = 2 * block;
    auto buffer = std::make_unique_for_overwrite<char[]>(capacity);
    std::size_t have = 0;
    for (;;) {
        if (have + block > capacity) {
            capacity *= 2;
            auto larger = std::make_unique_for_overwrite<char[]>(capacity);
            std::memcpy(larger.get(), buffer.get(), have);
            buffer = std::move(larger);
        }
        const ssize_t n = ReadFull(buffer.get() + have, block);
        if (n < 0) {
            return false;
        }
        have += static_cast<std::size_t>(n);
        const bool atEnd = static_cast<std::size_t>(n) < block;
        const std::string_view text(buffer.get(), have);
        if (rawRest) {
            if (!WriteAll(text)) {
                return false;
            }
            have = 0;
        } else {
            const Converted done = convert(text, atEnd, rawRest);
            if (!WriteAll(done.output)) {
                return false;
            }
            have -= done.used;
            std::memmove(buffer.get(), buffer.get() + done.used, have);
        }
        if (atEnd) {
            return true;
        }
    }
}

// The length of the text up to its last line end after which a Shift_JIS
// text can be converted afresh: an LF after a byte below 0x40, which
// neither byte can take as the first half of a double-byte character.
std::size_t SjisRestartPoint(std::string_view text) {
    for (std::size_t pos = text.size(); pos > 1;) {
        const std::size_t lf = text.rfind('\n', pos - 1);
        if (lf == std::string_view::npos || lf == 0) {
            break;
        }
        if (static_cast<unsigned char>(text[lf - 1]) < 0x40) {
            return lf + 1;
        }
        pos = lf;
    }
    return 0;
}

// Where the escape sequence that starts at `pos` of `text` opens (1) or
// closes (-1) a run of JIS X 0208, or 0 for anything else.
int SequenceAt(std::string_view text, std::size_t pos) {
    if (pos + 3 > text.size() || text[pos] != '\x1b' || text[pos + 2] != 'B') {
        return 0;
    }
    return text[pos + 1] == '$' ? 1 : text[pos + 1] == '(' ? -1 : 0;
}

// The start of the last escape sequence (ESC $ B or ESC ( B) that ends at or
// before `end`, or npos.
std::size_t LastSequence(std::string_view text, std::size_t end) {
    while (end >= 3) {
        const void* hit = ::memrchr(text.data(), '\x1b', end - 2);
        if (hit == nullptr) {
            break;
        }
        const auto pos = static_cast<std::size_t>(static_cast<const char*>(hit) - text.data());
        if (SequenceAt(text, pos) != 0) {
            return pos;
        }
        end = pos + 2;
    }
    return std::string_view::npos;
}

// The length of the text up to its last line end after which an
// ISO-2022-JP text can be converted afresh: one where every run opened
// before it is closed and no closing sequence stands after the last run,
// so that nothing before it bears on the conversion of what follows. 0 when
// there is none.
std::size_t JisRestartPoint(std::string_view text) {
    std::size_t limit = text.size();
    while (limit > 0) {
        const void* hit = ::memrchr(text.data(), '\n', limit);
        if (hit == nullptr) {
            break;
        }
        const std::size_t point = static_cast<std::size_t>(static_cast<const char*>(hit) - text.data()) + 1;
        const std::size_t last = LastSequence(text, point);
        if (last == std::string_view::npos) {
            return point;
        }
        if (SequenceAt(text, last) < 0) {
            const std::size_t before = LastSequence(text, last);
            if (before != std::string_view::npos && SequenceAt(text, before) > 0) {
                return point;
            }
        }
        limit = last;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        return Usage();
    }
    const std::string mode = argv[1];
    std::string out;
    bool jisError = false;
    if (mode == "sjis-to-jis") {
        return ConvertBlocks(kBlock, [&out](std::string_view text, bool last, bool&) {
                   const std::size_t used = last ? text.size() : SjisRestartPoint(text);
                   out = tegalo::SjisToJis(text.substr(0, used));
                   return Converted{used, out};
               })
                   ? 0
                   : 1;
    }
    if (mode == "jis-to-sjis") {
        // A block that stops on an error leaves the rest unconverted, as
        // converting the whole text at once does.
        const bool ok = ConvertBlocks(kBlock, [&](std::string_view text, bool last, bool& rawRest) {
            const std::size_t used = last ? text.size() : JisRestartPoint(text);
            out = tegalo::JisToSjis(text.substr(0, used), &jisError);
            rawRest = jisError;
            return Converted{used, out};
        });
        if (jisError) {
            std::fputs("JIS code Error\n", stderr);
        }
        return ok && !jisError ? 0 : 1;
    }
    if (mode == "base64-encode") {
        return ConvertBlocks(kEncodeBlock, [&out](std::string_view text, bool, bool&) {
                   const std::size_t size = tegalo::Base64LinesSize(text.size());
                   if (out.size() < size) {
                       out.resize(size);
                   }
                   return Converted{text.size(), std::string_view(out.data(), tegalo::WriteBase64Lines(text, out.data()))};
               })
                   ? 0
                   : 1;
    }
    if (mode == "base64-decode") {
        return ConvertBlocks(kBlock, [&out](std::string_view text, bool last, bool&) {
                   std::size_t used = text.size();
                   if (!last) {
                       const std::size_t lf = text.rfind('\n');
                       used = lf == std::string_view::npos ? 0 : lf + 1;
                   }
                   out.clear();
                   tegalo::AppendBase64Decoded(out, text.substr(0, used));
                   return Converted{used, out};
               })
                   ? 0
                   : 1;
    }

    std::string in;
    if (!ReadAll(in)) {
        return 1;
    }
    int status = 0;
    if (mode == "decode-header") {
        out = tegalo::DecodeHeaderWords(in);
    } else if (mode == "encode-header") {
        out = tegalo::EncodeHeaderWords(in);
    } else if (mode == "utf8-to-sjis") {
        tegalo::SjisConversion c = tegalo::Utf8ToSjis(in);
        for (const std::string& ch : c.unmapped) {
            std::fprintf(stderr, "no Shift_JIS form: %s\n", ch.c_str());
            status = 1;
        }
        out = std::move(c.text);
    } else if (mode == "sjis-to-utf8") {
        out = tegalo::SjisToUtf8(in);
    } else if (mode == "qp-encode") {
        out = tegalo::EncodeQuotedPrintable(in);
    } else if (mode == "qp-decode") {
        out = tegalo::DecodeQuotedPrintable(in);
    } else {
        return Usage();
    }
    return WriteAll(out) ? status : 1;
}
