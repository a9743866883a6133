// Checked POSIX file access for the store and the settings file. Every
// function reports the errno of the step that failed (0 for success); a short
// write is an error, never a success.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <sys/types.h>

namespace tegalo {

// Owns one file descriptor and closes it.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.Release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept;
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd();

    int Get() const { return fd_; }
    bool Valid() const { return fd_ >= 0; }
    int Release();
    // Closes the descriptor and returns close()'s errno (0 for success).
    [[nodiscard]] int Close();

private:
    int fd_ = -1;
};

// Opens `path` with `flags` (O_CLOEXEC is added). Sets `error` to errno on
// failure and returns an invalid descriptor.
UniqueFd OpenFile(const std::string& path, int flags, mode_t mode, int& error);

// Reads up to `length` bytes, retrying after interruptions and partial reads.
// Returns the number read (less than `length` only at the end of the file),
// or -1 with `error` set.
ssize_t ReadFull(int fd, char* buffer, std::size_t length, int& error);

// Writes all `length` bytes at the current position, or at `offset` when it
// is not negative. Returns 0 or the errno of the failing write (ENOSPC for a
// write that the kernel accepted only in part and then refused).
[[nodiscard]] int WriteFull(int fd, const char* data, std::size_t length, off_t offset = -1);

enum class TransferMode {
    kRead = 1,  // append `length` bytes from the file to `text`
    kWrite = 2, // write the first `length` bytes of `text` to the file
};

// Moves a record's bytes between a folder file and memory at the file's
// current position, in as many system calls as the kernel needs. Returns the
// number of bytes moved: in kRead mode fewer than `length` only at the end of
// the file, in kWrite mode always `length` (clipped to the text). Returns -1
// with `error` set when a call fails.
ssize_t TransferText(int fd, std::string& text, std::size_t length, TransferMode mode, int& error);

// Reads a whole (small) file into `content`. Returns 0 or errno.
[[nodiscard]] int ReadWholeFile(const std::string& path, std::string& content);

// fsync of a directory, so that a rename or unlink in it survives a crash.
[[nodiscard]] int SyncDirectory(const std::string& dir);

// Which file a path named when it was read, to notice a file replaced or
// changed behind the store's back.
struct FileStamp {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = -1;
    mode_t mode = 0;
    bool operator==(const FileStamp&) const = default;
};
[[nodiscard]] int StampOf(int fd, FileStamp& stamp);
[[nodiscard]] int StampOfPath(const std::string& path, FileStamp& stamp);

// Replaces `dir` + `name` as a whole or not at all. The new content goes to
// `dir` + `name` + ".tmp", which is flushed and synced, then renamed over the
// old file, and the directory is synced. Until Commit succeeds the old file
// is untouched; a failed or abandoned AtomicFile removes its temporary file.
class AtomicFile {
public:
    AtomicFile() = default;
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;
    ~AtomicFile();

    // `dir` ends with "/". The new file gets `mode`, whatever the umask.
    [[nodiscard]] int Open(const std::string& dir, std::string_view name, mode_t mode);
    // Buffered; the first error sticks and is returned by every later call.
    [[nodiscard]] int Write(std::string_view bytes);
    [[nodiscard]] int Commit();
    // The stamp of the new file after a successful Commit.
    const FileStamp& Stamp() const { return stamp_; }
    // errno of syncing the directory after the rename; the new file is in
    // place even when this is not 0.
    int DirectorySyncError() const { return directorySyncError_; }

private:
    [[nodiscard]] int Flush();
    void Abandon();

    std::string dir_;
    std::string finalPath_;
    std::string tempPath_;
    UniqueFd fd_;
    std::string buffer_;
    int error_ = 0;
    int directorySyncError_ = 0;
    FileStamp stamp_;
};

// An exclusive lock on `dir` + "tegalo.lock", held while the object lives
// and released by the kernel when the process ends, however it ends.
class MailboxLock {
public:
    // Returns 0, EWOULDBLOCK when another process holds the lock, or the
    // errno of creating or locking the file.
    [[nodiscard]] int Acquire(const std::string& dir);
    void Release() { fd_ = UniqueFd(); }
    bool Held() const { return fd_.Valid(); }

private:
    UniqueFd fd_;
};

inline constexpr std::string_view kLockFileName = "tegalo.lock";
inline constexpr std::string_view kTempSuffix = ".tmp";

} // namespace tegalo
