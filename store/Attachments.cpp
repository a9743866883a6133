#include "store/Attachments.h"

#include "mime/Outgoing.h"
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

bool IsBase64Text(std::string_view line) {
    static const auto allowed = [] {
        std::array<bool, 256> table{};
        for (const char c : std::string_view("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/=")) {
            table[static_cast<unsigned char>(c)] = true;
        }
        return table;
    }();
    return std::all_of(line.begin(), line.end(), [](char c) { return allowed[static_cast<unsigned char>(c)]; });
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

bool WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
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

std::string DecodeAttachment(std::string_view content, std::string_view encoding) {
    // An attachment of a composed message is stored with the delimiter line
    // that closes it; it is no part of the file.
    if (content.ends_with(kDelimiterLine)) {
        content.remove_suffix(kDelimiterLine.size());
    }
    std::string decodedText;
    if (encoding == "quoted-pr") {
        decodedText = DecodeQuotedPrintable(content);
        content = decodedText;
    }
    const bool base64 = encoding == "base64";
    std::string out;
    out.reserve(content.size() + 2);
    while (!content.empty()) {
        const std::size_t eol = content.find("\r\n");
        const std::string_view text = content.substr(0, eol);
        if (base64) {
            if (text.empty() || !IsBase64Text(text)) {
                break;
            }
            // Decode in place at the end of the output, which has room for the line.
            const std::size_t at = out.size();
            out.append(text);
            out.resize(at + DecodeBase64Line(out.data() + at, text.size()));
            if (eol == std::string_view::npos) {
                break;
            }
        } else {
            out.append(text);
            out.append("\r\n");
        }
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

std::string WriteAttachmentCopy(const std::string& directory, const std::string& name, std::string_view bytes,
                                std::string* error) {
    const std::string path = directory + "/" + name;
    std::string temp = directory + "/.tegalo-XXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) {
        SetError(error, directory + ": " + std::strerror(errno));
        return {};
    }
    const bool written = ::fchmod(fd, 0600) == 0 && WriteAll(fd, bytes) && ::fsync(fd) == 0;
    const int writeErrno = errno;
    if (::close(fd) != 0 || !written) {
        SetError(error, path + ": " + std::strerror(written ? errno : writeErrno));
        ::unlink(temp.c_str());
        return {};
    }
    if (::rename(temp.c_str(), path.c_str()) != 0) {
        SetError(error, path + ": " + std::strerror(errno));
        ::unlink(temp.c_str());
        return {};
    }
    return path;
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
