#include "store/Attachments.h"

#include "mime/Outgoing.h"
#include "store/FileIo.h"
#include "text/transfer_encoding.h"
#include "text/unicode.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tegalo {

namespace {

constexpr std::size_t kNameMax = 255;
constexpr std::size_t kExtensionMax = 32;

void SetError(std::string* error, std::string text) {
    if (error) {
        *error = std::move(text);
    }
}

// Cuts a UTF-8 string to at most `max` bytes without splitting a character.
std::string_view CutUtf8(std::string_view s, std::size_t max) {
    if (s.size() <= max) {
        return s;
    }
    std::size_t n = max;
    while (n > 0 && (static_cast<unsigned char>(s[n]) & 0xC0) == 0x80) {
        --n;
    }
    return s.substr(0, n);
}

} // namespace

std::string AttachmentDirectory(std::string* error) {
    std::string dir;
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime == '/') {
        dir = std::string(runtime) + "/tegalo";
    } else {
        const char* tmp = std::getenv("TMPDIR");
        dir = std::string(tmp && *tmp == '/' ? tmp : "/tmp") + "/tegalo-" + std::to_string(::getuid());
    }
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
        SetError(error, dir + ": " + std::strerror(errno));
        return {};
    }
    struct stat st {};
    if (::lstat(dir.c_str(), &st) != 0) {
        SetError(error, dir + ": " + std::strerror(errno));
        return {};
    }
    if (!S_ISDIR(st.st_mode) || st.st_uid != ::getuid() || (st.st_mode & 077) != 0) {
        SetError(error, dir + ": not a private directory of this user");
        return {};
    }
    return dir;
}

namespace {

constexpr bool IsBase64Letter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/';
}

// The line at the start of `text` without its line end (CR LF or LF), and
// `text` moved past it.
std::string_view TakeLine(std::string_view& text) {
    const std::size_t lf = text.find('\n');
    std::string_view line = text.substr(0, lf);
    text.remove_prefix(lf == std::string_view::npos ? text.size() : lf + 1);
    if (line.ends_with('\r')) {
        line.remove_suffix(1);
    }
    return line;
}

// Base64 content of a part. Characters outside the alphabet (a blank at a
// line end, a stray byte) are left out and groups may run across lines
// (RFC 2045 6.8). The data ends with the content, after a group padded with
// "=", or at a delimiter line ("--..."), which older records keep after it.
std::string DecodeBase64Content(std::string_view content) {
    std::string out;
    out.reserve(content.size() / 4 * 3 + 3);
    std::string pending; // letters of a group not yet complete
    bool padded = false;
    while (!content.empty() && !padded) {
        const std::string_view line = TakeLine(content);
        if (line.starts_with("--")) {
            break;
        }
        if (pending.empty() && line.size() % 4 == 0 && std::all_of(line.begin(), line.end(), IsBase64Letter)) {
            // The usual line: decoded in place at the end of the output.
            const std::size_t at = out.size();
            out.append(line);
            out.resize(at + DecodeBase64Line(out.data() + at, line.size()));
            continue;
        }
        for (const char c : line) {
            if (IsBase64Letter(c)) {
                pending.push_back(c);
            } else if (c == '=') {
                padded = true;
                break;
            }
        }
        const std::size_t whole = pending.size() / 4 * 4;
        const std::size_t at = out.size();
        out.append(pending, 0, whole);
        out.resize(at + DecodeBase64Line(out.data() + at, whole));
        pending.erase(0, whole);
    }
    // A last group of two or three letters holds one or two bytes, padded or not.
    if (pending.size() >= 2) {
        pending.resize(4, '=');
        const std::size_t at = out.size();
        out.append(pending);
        out.resize(at + DecodeBase64Line(out.data() + at, 4));
    }
    return out;
}

constexpr unsigned UuValue(char c) {
    return static_cast<unsigned>(static_cast<unsigned char>(c) - 0x20) & 0x3F;
}

// Uuencoded content: the lines after "begin <mode> <name>" (or from the
// start when there is none) up to "end" or a line that holds no bytes.
// Each line starts with its byte count; every four characters after it
// give three bytes, characters cut off at the line end counting as zero.
std::string DecodeUuencodedContent(std::string_view content) {
    std::string_view rest = content;
    while (!rest.empty()) {
        if (TakeLine(rest).starts_with("begin ")) {
            // A long name of the begin line may be folded onto lines that
            // start with a blank; they hold no data.
            std::string_view next = rest;
            while (!next.empty() && (next[0] == ' ' || next[0] == '\t') &&
                   TakeLine(next).find_first_not_of(" \t") != std::string_view::npos) {
                rest = next;
            }
            content = rest;
            break;
        }
    }
    std::string out;
    out.reserve(content.size() / 4 * 3);
    while (!content.empty()) {
        std::string_view line = TakeLine(content);
        if (line.empty()) {
            continue;
        }
        if (line.starts_with("end")) {
            break;
        }
        const unsigned count = UuValue(line[0]);
        if (count == 0) {
            break;
        }
        line.remove_prefix(1);
        for (unsigned done = 0, at = 0; done < count; at += 4) {
            const auto value = [&](unsigned k) { return at + k < line.size() ? UuValue(line[at + k]) : 0u; };
            const unsigned group = value(0) << 18 | value(1) << 12 | value(2) << 6 | value(3);
            for (int shift = 16; shift >= 0 && done < count; shift -= 8, ++done) {
                out.push_back(static_cast<char>((group >> shift) & 0xFF));
            }
        }
    }
    return out;
}

bool IsUuencoding(std::string_view encoding) {
    // The record keeps nine characters of the encoding's name.
    return encoding == "x-uuencod" || encoding == "x-uuencode" || encoding == "uuencode" || encoding == "x-uue" ||
           encoding == "uue";
}

} // namespace

std::string DecodeAttachment(std::string_view content, std::string_view encoding) {
    // An attachment of a composed message is stored with the delimiter line
    // that closes it; it is no part of the file.
    if (content.ends_with(kDelimiterLine)) {
        content.remove_suffix(kDelimiterLine.size());
    }
    if (encoding == "base64") {
        return DecodeBase64Content(content);
    }
    if (IsUuencoding(encoding)) {
        return DecodeUuencodedContent(content);
    }
    std::string decodedText;
    if (encoding == "quoted-pr") {
        decodedText = DecodeQuotedPrintable(content);
        content = decodedText;
    }
    std::string out;
    out.reserve(content.size() + 2);
    while (!content.empty()) {
        const std::size_t eol = content.find("\r\n");
        out.append(content.substr(0, eol));
        out.append("\r\n");
        content.remove_prefix(eol == std::string_view::npos ? content.size() : eol + 2);
    }
    return out;
}

std::string SafeAttachmentName(std::string_view sjisName) {
    std::string name;
    for (char c : SjisToUtf8(sjisName)) {
        const auto u = static_cast<unsigned char>(c);
        name.push_back(u < 0x20 || u == 0x7F || c == '/' || c == '\\' ? '_' : c);
    }
    while (!name.empty() && name.back() == ' ') {
        name.pop_back();
    }
    if (name.empty() || name == "." || name == "..") {
        name = "attachment";
    }
    if (name.size() > kNameMax) {
        const std::size_t dot = name.rfind('.');
        std::string_view extension;
        if (dot != std::string::npos && dot > 0 && name.size() - dot <= kExtensionMax) {
            extension = std::string_view(name).substr(dot);
        }
        std::string cut(CutUtf8(name, kNameMax - extension.size()));
        cut.append(extension);
        name = std::move(cut);
    }
    return name;
}

namespace {

// The name of the n-th copy under one name: "name.ext", "name (2).ext", ...
std::string NumberedName(const std::string& name, int n) {
    if (n == 1) {
        return name;
    }
    const std::string number = " (" + std::to_string(n) + ")";
    const std::size_t dot = name.rfind('.');
    const std::size_t stemEnd = dot == std::string::npos || dot == 0 ? name.size() : dot;
    const std::string_view extension = std::string_view(name).substr(stemEnd);
    std::string numbered(CutUtf8(std::string_view(name).substr(0, stemEnd), kNameMax - extension.size() - number.size()));
    numbered += number;
    numbered += extension;
    return numbered;
}

// True when `path` is a plain file (not a link) holding exactly `bytes`.
bool HoldsBytes(const std::string& path, std::string_view bytes) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || static_cast<std::size_t>(st.st_size) != bytes.size()) {
        return false;
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
        return false;
    }
    std::string held(bytes.size(), '\0');
    std::size_t got = 0;
    while (got < held.size()) {
        const ssize_t n = ::read(fd, held.data() + got, held.size() - got);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        got += static_cast<std::size_t>(n);
    }
    ::close(fd);
    return got == bytes.size() && held == bytes;
}

constexpr int kMaxCopies = 999;

} // namespace

std::string WriteAttachmentCopy(const std::string& directory, const std::string& name, std::string_view bytes,
                                std::string* error) {
    // A name is taken only when nothing stands under it, so no copy of
    // another attachment is overwritten and no planted link replaced; the
    // directory is the user's own, closed to others.
    std::string chosen;
    for (int n = 1; n <= kMaxCopies && chosen.empty(); ++n) {
        const std::string candidate = NumberedName(name, n);
        const std::string path = directory + "/" + candidate;
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0) {
            if (errno != ENOENT) {
                SetError(error, path + ": " + std::strerror(errno));
                return {};
            }
            chosen = candidate;
        } else if (HoldsBytes(path, bytes)) {
            return path; // the same attachment opened again
        }
    }
    if (chosen.empty()) {
        SetError(error, directory + "/" + name + ": too many copies of that name");
        return {};
    }
    AtomicFile file;
    // Another Tegalo (another mailbox) may write to the same directory, so
    // the temporary file gets a name of its own.
    int failed = file.Open(directory, chosen, 0600, TempName::kUnique, ".tegalo-");
    if (failed == 0) {
        failed = file.Write(bytes);
    }
    if (failed == 0) {
        failed = file.Commit();
    }
    if (failed != 0) {
        const std::string& where = file.FailedStep() == AtomicStep::kCreate ? directory : file.Path();
        SetError(error, where + ": " + std::strerror(failed));
        return {};
    }
    return file.Path();
}

bool IsAttachmentCopyPath(std::string_view path, std::string_view directory) {
    if (directory.empty() || path.size() <= directory.size() + 1 || path.substr(0, directory.size()) != directory ||
        path[directory.size()] != '/') {
        return false;
    }
    const std::string_view name = path.substr(directory.size() + 1);
    return name.find('/') == std::string_view::npos && name != "." && name != "..";
}

bool MayRunCode(std::string_view utf8Name) {
    static constexpr std::array<std::string_view, 33> kExtensions = {
        ".sh",   ".bash", ".zsh",  ".csh", ".ksh",  ".py",  ".pl",  ".rb",   ".php", ".js",   ".jar", ".desktop",
        ".exe",  ".com",  ".bat",  ".cmd", ".msi",  ".scr", ".vbs", ".vbe",  ".wsf", ".ps1",  ".lnk", ".run",
        ".bin",  ".out",  ".elf",  ".deb", ".rpm",  ".appimage", ".so", ".pif", ".hta"};
    std::string lower(utf8Name);
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) {
        return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    });
    const std::size_t dot = lower.rfind('.');
    if (dot == std::string::npos) {
        return true; // no extension: the desktop decides by content, which may be a program
    }
    const std::string_view extension = std::string_view(lower).substr(dot);
    return std::find(kExtensions.begin(), kExtensions.end(), extension) != kExtensions.end();
}

} // namespace tegalo
