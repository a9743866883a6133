#include "transfer/UidlFile.h"

#include "store/Record.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tegalo {
namespace {

constexpr std::string_view kAccount = "account ";
constexpr std::string_view kStored = "stored ";
constexpr std::string_view kKept = "kept ";

std::string ErrorText(std::string_view what, const std::string& path, int error) {
    return std::string(what) + " " + path + ": " + std::strerror(error);
}

// Writes all of `bytes`, retrying short writes. Returns 0 or an errno value.
int WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return 0;
}

} // namespace

bool IsValidUidl(std::string_view uid) {
    if (uid.empty() || uid.size() > 70) {
        return false;
    }
    for (const char c : uid) {
        if (c < 0x21 || c > 0x7E) {
            return false;
        }
    }
    return true;
}

std::string FormatUidlList(const UidlList& list) {
    std::string text;
    text.append(kAccount).append(list.account).append(kCrLf);
    for (const auto& [uid, mark] : list.marks) {
        text.append(mark == UidlMark::Stored ? kStored : kKept).append(uid).append(kCrLf);
    }
    return text;
}

UidlList ParseUidlList(std::string_view text) {
    UidlList list;
    bool first = true;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (line.ends_with('\r')) {
            line.remove_suffix(1);
        }
        if (first) {
            first = false;
            if (line.starts_with(kAccount)) {
                list.account = std::string(line.substr(kAccount.size()));
                continue;
            }
        }
        if (line.starts_with(kStored) && IsValidUidl(line.substr(kStored.size()))) {
            list.marks[std::string(line.substr(kStored.size()))] = UidlMark::Stored;
        } else if (line.starts_with(kKept) && IsValidUidl(line.substr(kKept.size()))) {
            list.marks[std::string(line.substr(kKept.size()))] = UidlMark::Kept;
        }
    }
    return list;
}

UidlFile::UidlFile(std::string directory)
    : directory_(directory.empty() ? std::string(".") : std::move(directory)),
      path_(directory_ + (directory_.ends_with('/') ? "" : "/") + std::string(kFileName)) {}

UidlLoad UidlFile::Load() {
    UidlLoad result;
    const int fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) {
            result.ok = true; // no list yet: nothing received so far
        } else {
            result.error = ErrorText("cannot open", path_, errno);
        }
        return result;
    }
    std::string text;
    char buffer[16 * 1024];
    while (true) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            result.error = ErrorText("cannot read", path_, errno);
            ::close(fd);
            return result;
        }
        if (n == 0) {
            break;
        }
        text.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    result.ok = true;
    result.list = ParseUidlList(text);
    return result;
}

std::string UidlFile::Save(const UidlList& list) {
    std::string temp = path_ + ".XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) {
        return ErrorText("cannot create a file beside", path_, errno);
    }
    const auto fail = [&](std::string_view what, int error) {
        ::close(fd);
        ::unlink(temp.c_str());
        return ErrorText(what, temp, error);
    };
    if (::fchmod(fd, 0600) != 0) {
        return fail("cannot set the mode of", errno);
    }
    if (const int error = WriteAll(fd, FormatUidlList(list)); error != 0) {
        return fail("cannot write", error);
    }
    if (::fsync(fd) != 0) {
        return fail("cannot flush", errno);
    }
    if (::close(fd) != 0) {
        const int error = errno;
        ::unlink(temp.c_str());
        return ErrorText("cannot close", temp, error);
    }
    if (::rename(temp.c_str(), path_.c_str()) != 0) {
        const int error = errno;
        ::unlink(temp.c_str());
        return ErrorText("cannot rename to", path_, error);
    }
    // The rename itself reaches the disk with the directory.
    const int dir = ::open(directory_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        const int synced = ::fsync(dir);
        const int error = errno;
        ::close(dir);
        if (synced != 0) {
            return ErrorText("cannot flush the directory of", path_, error);
        }
    }
    return {};
}

} // namespace tegalo
