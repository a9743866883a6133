#include "store/FileIo.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tegalo {

namespace {

constexpr std::size_t kWriteBuffer = 1 << 20;

std::atomic<DurableStepObserver*> g_observer{nullptr};

// The step after which the process ends, from TEGALO_FAIL_AFTER_STEP; 0 for none.
long FailAfterStep() {
    static const long limit = [] {
        const char* text = std::getenv(std::string(kFailAfterStepVariable).c_str());
        if (text == nullptr || *text == '\0') {
            return 0L;
        }
        char* end = nullptr;
        const long k = std::strtol(text, &end, 10);
        return *end == '\0' && k > 0 ? k : 0L;
    }();
    return limit;
}

const bool g_failArmed = FailAfterStep() > 0;
std::atomic<long> g_steps{0};

std::string PathOfFd(int fd) {
    const std::string link = "/proc/self/fd/" + std::to_string(fd);
    char target[PATH_MAX];
    const ssize_t n = ::readlink(link.c_str(), target, sizeof target);
    return n < 0 ? link : std::string(target, static_cast<std::size_t>(n));
}

// Reports a step that was made; `path` is computed only when someone looks.
template <typename PathFn>
void NoteStep(DurableStep step, PathFn&& path, off_t offset = -1, std::size_t length = 0) {
    DurableStepObserver* observer = g_observer.load(std::memory_order_acquire);
    if (observer == nullptr && !g_failArmed) {
        return;
    }
    if (observer != nullptr) {
        observer->OnDurableStep(DurableStepEvent{step, path(), offset, length});
    }
    if (g_failArmed && g_steps.fetch_add(1) + 1 == FailAfterStep()) {
        std::_Exit(kFailAfterStepExit);
    }
}

void NoteFdStep(DurableStep step, int fd, off_t offset = -1, std::size_t length = 0) {
    NoteStep(step, [fd] { return PathOfFd(fd); }, offset, length);
}

void NotePathStep(DurableStep step, const std::string& path) {
    NoteStep(step, [&path] { return path; });
}

} // namespace

namespace {

struct PhaseLimit {
    std::string name; // empty: not armed
    long count = 0;
};

// The phase at which the process ends, from TEGALO_FAIL_AT_PHASE.
const PhaseLimit& FailAtPhase() {
    static const PhaseLimit limit = [] {
        PhaseLimit parsed;
        const char* text = std::getenv(std::string(kFailAtPhaseVariable).c_str());
        const std::string_view value = text != nullptr ? text : "";
        const std::size_t colon = value.rfind(':');
        if (colon == std::string_view::npos || colon == 0) {
            return parsed;
        }
        const std::string number(value.substr(colon + 1));
        char* end = nullptr;
        const long n = std::strtol(number.c_str(), &end, 10);
        if (!number.empty() && *end == '\0' && n > 0) {
            parsed.name = std::string(value.substr(0, colon));
            parsed.count = n;
        }
        return parsed;
    }();
    return limit;
}

const bool g_phaseArmed = !FailAtPhase().name.empty();
std::atomic<long> g_phaseHits{0};

} // namespace

void ReachedPhase(std::string_view name) {
    if (!g_phaseArmed || name != FailAtPhase().name) {
        return;
    }
    if (g_phaseHits.fetch_add(1) + 1 == FailAtPhase().count) {
        std::_Exit(kFailAfterStepExit);
    }
}

DurableStepObserver* SetDurableStepObserver(DurableStepObserver* observer) {
    return g_observer.exchange(observer, std::memory_order_acq_rel);
}

int SyncFile(int fd, bool dataOnly) {
    if ((dataOnly ? ::fdatasync(fd) : ::fsync(fd)) != 0) {
        return errno;
    }
    NoteFdStep(DurableStep::kSync, fd);
    return 0;
}

int SyncFileSystem(const std::string& dir) {
    int error = 0;
    UniqueFd fd = OpenFile(dir, O_RDONLY | O_DIRECTORY, 0, error);
    if (!fd.Valid()) {
        return error;
    }
    if (::syncfs(fd.Get()) != 0) {
        return errno;
    }
    NotePathStep(DurableStep::kSync, dir);
    return fd.Close();
}

int RenameFile(const std::string& from, const std::string& to) {
    if (::rename(from.c_str(), to.c_str()) != 0) {
        return errno;
    }
    NotePathStep(DurableStep::kRename, to);
    return 0;
}

int RemoveFile(const std::string& path) {
    if (::unlink(path.c_str()) != 0) {
        return errno;
    }
    NotePathStep(DurableStep::kUnlink, path);
    return 0;
}

int TruncateFile(int fd, off_t size) {
    if (::ftruncate(fd, size) != 0) {
        return errno;
    }
    NoteFdStep(DurableStep::kTruncate, fd, size);
    return 0;
}

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
    if (length > 0) {
        NoteFdStep(DurableStep::kWrite, fd, offset, length);
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
    NotePathStep(DurableStep::kSyncDirectory, dir);
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

int AtomicFile::Fail(AtomicStep step, int error) {
    error_ = error;
    failedStep_ = step;
    Abandon();
    return error_;
}

int AtomicFile::Open(const std::string& dir, std::string_view name, mode_t mode, TempName tempName,
                     std::string_view uniquePrefix) {
    Abandon();
    dir_ = dir.empty() ? std::string("./") : dir;
    if (!dir_.ends_with('/')) {
        dir_ += '/';
    }
    finalPath_ = dir_ + std::string(name);
    buffer_.clear();
    error_ = 0;
    directorySyncError_ = 0;
    failedStep_ = AtomicStep::kNone;
    if (tempName == TempName::kFixed) {
        tempPath_ = finalPath_ + std::string(kTempSuffix);
        fd_ = OpenFile(tempPath_, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW, mode, error_);
    } else {
        tempPath_ = dir_ + std::string(uniquePrefix.empty() ? std::string_view(".tegalo-") : uniquePrefix) + "XXXXXX";
        int fd;
        do {
            // mkostemp creates the file with O_CREAT | O_EXCL and mode 0600.
            fd = ::mkostemp(tempPath_.data(), O_CLOEXEC);
        } while (fd < 0 && errno == EINTR);
        error_ = fd < 0 ? errno : 0;
        fd_ = UniqueFd(fd);
    }
    if (!fd_.Valid()) {
        failedStep_ = AtomicStep::kCreate;
        return error_;
    }
    if (::fchmod(fd_.Get(), mode) != 0) {
        return Fail(AtomicStep::kMode, errno);
    }
    return 0;
}

int AtomicFile::Flush() {
    if (error_ == 0 && !buffer_.empty()) {
        error_ = WriteFull(fd_.Get(), buffer_.data(), buffer_.size());
        buffer_.clear();
        if (error_ != 0) {
            failedStep_ = AtomicStep::kWrite;
        }
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
            if (error_ != 0) {
                failedStep_ = AtomicStep::kWrite;
            }
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
    if (Flush() != 0) {
        return Fail(AtomicStep::kWrite, error_);
    }
    if (const int error = SyncFile(fd_.Get()); error != 0) {
        return Fail(AtomicStep::kSync, error);
    }
    if (const int error = StampOf(fd_.Get(), stamp_); error != 0) {
        return Fail(AtomicStep::kSync, error);
    }
    if (const int error = fd_.Close(); error != 0) {
        ::unlink(tempPath_.c_str());
        error_ = error;
        failedStep_ = AtomicStep::kClose;
        return error_;
    }
    if (const int error = RenameFile(tempPath_, finalPath_); error != 0) {
        ::unlink(tempPath_.c_str());
        error_ = error;
        failedStep_ = AtomicStep::kRename;
        return error_;
    }
    // The new content is in place, so the caller must treat the change as
    // made. A failed directory sync only means the rename might not survive
    // a power failure; it is kept for the caller.
    directorySyncError_ = SyncDirectory(dir_);
    if (directorySyncError_ != 0) {
        failedStep_ = AtomicStep::kSyncDirectory;
    }
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
