#include "store/FileIo.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tegalo {

namespace {

constexpr std::size_t kWriteBuffer = 1 << 20;

} // namespace

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
    if (this != &other) {
        static_cast<void>(Close());
        fd_ = other.Release();
    }
    return *this;
}

UniqueFd::~UniqueFd() {
    static_cast<void>(Close());
}

int UniqueFd::Release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
}

int UniqueFd::Close() {
    if (fd_ < 0) {
        return 0;
    }
    const int rc = ::close(fd_);
    fd_ = -1;
    // After EINTR the descriptor is gone on Linux; do not close it again.
    return rc == 0 || errno == EINTR ? 0 : errno;
}

UniqueFd OpenFile(const std::string& path, int flags, mode_t mode, int& error) {
    int fd;
    do {
        fd = ::open(path.c_str(), flags | O_CLOEXEC, mode);
    } while (fd < 0 && errno == EINTR);
    error = fd < 0 ? errno : 0;
    return UniqueFd(fd);
}

ssize_t ReadFull(int fd, char* buffer, std::size_t length, int& error) {
    std::size_t done = 0;
    while (done < length) {
        const ssize_t n = ::read(fd, buffer + done, length - done);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            error = errno;
            return -1;
        }
        if (n == 0) {
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    error = 0;
    return static_cast<ssize_t>(done);
}

int WriteFull(int fd, const char* data, std::size_t length, off_t offset) {
    std::size_t done = 0;
    while (done < length) {
        const ssize_t n = offset < 0
                              ? ::write(fd, data + done, length - done)
                              : ::pwrite(fd, data + done, length - done, offset + static_cast<off_t>(done));
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno;
        }
        if (n == 0) {
            return ENOSPC;
        }
        done += static_cast<std::size_t>(n);
    }
    return 0;
}

ssize_t TransferText(int fd, std::string& text, std::size_t length, TransferMode mode, int& error) {
    error = 0;
    if (mode == TransferMode::kRead) {
        const std::size_t start = text.size();
        text.resize(start + length);
        const ssize_t n = ReadFull(fd, text.data() + start, length, error);
        text.resize(start + (n < 0 ? 0 : static_cast<std::size_t>(n)));
        return n;
    }
    if (length > text.size()) {
        length = text.size();
    }
    error = WriteFull(fd, text.data(), length);
    return error != 0 ? -1 : static_cast<ssize_t>(length);
}

int ReadWholeFile(const std::string& path, std::string& content) {
    int error = 0;
    UniqueFd fd = OpenFile(path, O_RDONLY, 0, error);
    if (!fd.Valid()) {
        return error;
    }
    content.clear();
    char buffer[16384];
    for (;;) {
        const ssize_t n = ReadFull(fd.Get(), buffer, sizeof buffer, error);
        if (n < 0) {
            return error;
        }
        content.append(buffer, static_cast<std::size_t>(n));
        if (static_cast<std::size_t>(n) < sizeof buffer) {
            return 0;
        }
    }
}

int SyncDirectory(const std::string& dir) {
    int error = 0;
    UniqueFd fd = OpenFile(dir, O_RDONLY | O_DIRECTORY, 0, error);
    if (!fd.Valid()) {
        return error;
    }
    if (::fsync(fd.Get()) != 0) {
        return errno;
    }
    return fd.Close();
}

int StampOf(int fd, FileStamp& stamp) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        return errno;
    }
    stamp = FileStamp{st.st_dev, st.st_ino, st.st_size, st.st_mode & 07777};
    return 0;
}

int StampOfPath(const std::string& path, FileStamp& stamp) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        return errno;
    }
    stamp = FileStamp{st.st_dev, st.st_ino, st.st_size, st.st_mode & 07777};
    return 0;
}

AtomicFile::~AtomicFile() {
    Abandon();
}

void AtomicFile::Abandon() {
    if (fd_.Valid()) {
        static_cast<void>(fd_.Close());
        ::unlink(tempPath_.c_str());
    }
}

int AtomicFile::Open(const std::string& dir, std::string_view name, mode_t mode) {
    Abandon();
    dir_ = dir;
    finalPath_ = dir + std::string(name);
    tempPath_ = finalPath_ + std::string(kTempSuffix);
    buffer_.clear();
    error_ = 0;
    directorySyncError_ = 0;
    fd_ = OpenFile(tempPath_, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW, mode, error_);
    if (!fd_.Valid()) {
        return error_;
    }
    if (::fchmod(fd_.Get(), mode) != 0) {
        error_ = errno;
        Abandon();
    }
    return error_;
}

int AtomicFile::Flush() {
    if (error_ == 0 && !buffer_.empty()) {
        error_ = WriteFull(fd_.Get(), buffer_.data(), buffer_.size());
        buffer_.clear();
    }
    return error_;
}

int AtomicFile::Write(std::string_view bytes) {
    if (error_ != 0 || !fd_.Valid()) {
        return error_ != 0 ? error_ : EBADF;
    }
    if (buffer_.size() + bytes.size() > kWriteBuffer) {
        if (Flush() != 0) {
            return error_;
        }
        if (bytes.size() >= kWriteBuffer) {
            error_ = WriteFull(fd_.Get(), bytes.data(), bytes.size());
            return error_;
        }
    }
    if (buffer_.capacity() < kWriteBuffer) {
        buffer_.reserve(kWriteBuffer);
    }
    buffer_ += bytes;
    return 0;
}

int AtomicFile::Commit() {
    if (!fd_.Valid()) {
        return error_ != 0 ? error_ : EBADF;
    }
    if (Flush() == 0 && ::fsync(fd_.Get()) != 0) {
        error_ = errno;
    }
    if (error_ == 0) {
        error_ = StampOf(fd_.Get(), stamp_);
    }
    if (error_ == 0) {
        error_ = fd_.Close();
    }
    if (error_ == 0 && ::rename(tempPath_.c_str(), finalPath_.c_str()) != 0) {
        error_ = errno;
    }
    if (error_ != 0) {
        static_cast<void>(fd_.Close());
        ::unlink(tempPath_.c_str());
        return error_;
    }
    // The new content is in place, so the caller must treat the change as
    // made. A failed directory sync only means the rename might not survive
    // a power failure; it is kept for the caller's trace.
    directorySyncError_ = SyncDirectory(dir_);
    return 0;
}

int MailboxLock::Acquire(const std::string& dir) {
    int error = 0;
    UniqueFd fd = OpenFile(dir + std::string(kLockFileName), O_RDWR | O_CREAT | O_NOFOLLOW, 0600, error);
    if (!fd.Valid()) {
        return error;
    }
    int rc;
    do {
        rc = ::flock(fd.Get(), LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        return errno;
    }
    fd_ = std::move(fd);
    return 0;
}

} // namespace tegalo
