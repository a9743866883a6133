// Checked POSIX file access for the store, the settings file, the list of
// received ids and attachment copies. Every function reports the errno of
// the step that failed (0 for success); a short write is an error, never a
// success.
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

// fsync (fdatasync when `dataOnly`) of an open file. Returns 0 or errno.
[[nodiscard]] int SyncFile(int fd, bool dataOnly = false);
// syncfs(2) of the file system that holds the directory `dir`: every file
// written there reaches the disk in one call, however many they are.
// Reported as a kSync of `dir`. Returns 0 or errno.
[[nodiscard]] int SyncFileSystem(const std::string& dir);
// rename(2). Returns 0 or errno.
[[nodiscard]] int RenameFile(const std::string& from, const std::string& to);
// unlink(2). Returns 0 or errno (ENOENT when there was nothing to remove).
int RemoveFile(const std::string& path);
// ftruncate(2). Returns 0 or errno.
[[nodiscard]] int TruncateFile(int fd, off_t size);

// --- Durable steps ---
//
// Every change the store makes to its files is a sequence of durable steps:
// the writes, syncs, renames, unlinks and truncations of the functions above
// (WriteFull, SyncFile, SyncFileSystem, SyncDirectory, RenameFile, RemoveFile, TruncateFile
// and AtomicFile, which uses them). Each successful step is reported, after
// it was made, to the observer a test installed, so that tests can check
// the order of the steps (a record synced before the count that announces
// it). With no observer and no step limit the cost is one test of a flag.
//
// The environment variable TEGALO_FAIL_AFTER_STEP=k ends the process with
// std::_Exit(kFailAfterStepExit), with no cleanup, right after its k-th
// durable step (counting from 1, from the start of the process): crash
// tests stop a store operation after every one of its steps in turn.
enum class DurableStep {
    kWrite,         // bytes written to a file (one WriteFull or AtomicFile flush)
    kSync,          // fsync or fdatasync of a file
    kRename,        // a file renamed over another
    kUnlink,        // a file removed (a path that was not there is no step)
    kTruncate,      // a file cut to a length
    kSyncDirectory, // fsync of a directory
};

struct DurableStepEvent {
    DurableStep step;
    // The file the step changed: the path as given, or for a step on an open
    // file the path the kernel knows it by (absolute). For kRename the target.
    std::string path;
    off_t offset = -1;       // kWrite: where (-1: at the file position); kTruncate: the new length
    std::size_t length = 0;  // kWrite: how many bytes
};

class DurableStepObserver {
public:
    virtual ~DurableStepObserver() = default;
    virtual void OnDurableStep(const DurableStepEvent& event) = 0;
};

// Installs `observer` for the whole process (nullptr removes it) and returns
// the one installed before. Steps are reported on the thread that makes them.
DurableStepObserver* SetDurableStepObserver(DurableStepObserver* observer);

inline constexpr std::string_view kFailAfterStepVariable = "TEGALO_FAIL_AFTER_STEP";
inline constexpr int kFailAfterStepExit = 86;

// --- Session phases ---
//
// The mail sessions name the points of a conversation where a crash
// matters ("pop3-retr": a message text arrived, before it is stored;
// "smtp-250": the server's answer to a message text arrived, before any
// bookkeeping; ...) by calling ReachedPhase. The environment variable
// TEGALO_FAIL_AT_PHASE=<name>:<n> ends the process with
// std::_Exit(kFailAfterStepExit) when phase <name> is reached for the n-th
// time (counting from 1): kill tests stop a session at every phase in turn.
// Without the variable the cost is one test of a flag.
void ReachedPhase(std::string_view name);

inline constexpr std::string_view kFailAtPhaseVariable = "TEGALO_FAIL_AT_PHASE";

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

// Which step of an AtomicFile failed, so that a caller can name it.
enum class AtomicStep {
    kNone,           // nothing failed
    kCreate,         // creating the temporary file
    kMode,           // giving it its mode
    kWrite,          // writing to it
    kSync,           // syncing it
    kClose,          // closing it
    kRename,         // renaming it over the file
    kSyncDirectory,  // syncing the directory after the rename (the new file is in place)
};

// How the temporary file of an AtomicFile is named.
enum class TempName {
    // `name` + ".tmp": for files of the mailbox, which one process holds
    // (MailboxLock) and whose leftovers the next start removes.
    kFixed,
    // `prefix` + a unique suffix, created exclusively (O_EXCL): for
    // directories that several processes may write to at once.
    kUnique,
};

// Replaces `dir` + `name` as a whole or not at all. The new content goes to
// a temporary file in the same directory (see TempName), opened with
// O_CLOEXEC and O_NOFOLLOW, which is written in full, synced, then renamed
// over the old file (a symbolic link of that name is replaced, never
// followed), and the directory is synced. Until Commit succeeds the old file
// is untouched; a failed or abandoned AtomicFile removes its temporary file.
//
// Every call returns 0 or the errno of the step that failed; FailedStep and
// TempPath tell which step and which file, for the caller's message.
class AtomicFile {
public:
    AtomicFile() = default;
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;
    ~AtomicFile();

    // `dir` ends with "/" (one is added when it does not). The new file gets
    // `mode`, whatever the umask. `uniquePrefix` starts the name of the
    // temporary file with TempName::kUnique (".tegalo-" when empty).
    [[nodiscard]] int Open(const std::string& dir, std::string_view name, mode_t mode,
                           TempName tempName = TempName::kFixed, std::string_view uniquePrefix = {});
    // Buffered; the first error sticks and is returned by every later call.
    [[nodiscard]] int Write(std::string_view bytes);
    [[nodiscard]] int Commit();
    // The stamp of the new file after a successful Commit.
    const FileStamp& Stamp() const { return stamp_; }
    // errno of syncing the directory after the rename; the new file is in
    // place even when this is not 0.
    int DirectorySyncError() const { return directorySyncError_; }
    // The step that failed last (kSyncDirectory only after a successful Commit).
    AtomicStep FailedStep() const { return failedStep_; }
    const std::string& Path() const { return finalPath_; }
    const std::string& TempPath() const { return tempPath_; }

private:
    [[nodiscard]] int Flush();
    void Abandon();
    int Fail(AtomicStep step, int error);

    std::string dir_;
    std::string finalPath_;
    std::string tempPath_;
    UniqueFd fd_;
    std::string buffer_;
    int error_ = 0;
    int directorySyncError_ = 0;
    AtomicStep failedStep_ = AtomicStep::kNone;
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
