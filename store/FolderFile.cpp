#include "store/FolderFile.h"

#include "store/Record.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace tegalo {

// The one place that builds and edits a RecordList's private parts.
class FolderFileAccess {
public:
    static RecordList Parse(std::shared_ptr<const char[]> block, std::size_t size, int folder);
    static void Apply(RecordList& list, const FolderEdit& edit, const FileStamp& stamp);
    static void SetStamp(RecordList& list, const FileStamp& stamp) { list.stamp_ = stamp; }
    static int ReadEnd(int fd, const FileStamp& stamp, int folder, RecordList& list);
    // The end of a sound file of `countField`'s records, known without reading them.
    static void SetEnd(RecordList& list, const FileStamp& stamp, int folder, std::string countField) {
        RecordList end;
        end.folder_ = folder;
        end.stamp_ = stamp;
        end.notHeld_ = static_cast<std::size_t>(ParseField(countField).value_or(0));
        end.countField_ = std::move(countField);
        list = std::move(end);
    }
};

std::size_t RecordList::MemoryBytes() const {
    std::size_t bytes = sizeof(*this) + countField_.capacity() + blockSize_ +
                        records_.capacity() * sizeof(std::string_view) +
                        owned_.capacity() * sizeof(std::shared_ptr<const std::string>);
    for (const std::shared_ptr<const std::string>& record : owned_) {
        bytes += sizeof(std::string) + record->capacity() + 1;
    }
    return bytes;
}

std::string_view RecordList::Own(std::string_view record) {
    owned_.push_back(std::make_shared<const std::string>(record));
    ++shownOwned_;
    return *owned_.back();
}

void RecordList::DropUnshown() {
    if (owned_.size() < 64 || owned_.size() <= 2 * shownOwned_) {
        return;
    }
    std::vector<const char*> shown;
    shown.reserve(shownOwned_);
    for (std::string_view record : records_) {
        if (!InBlock(record)) {
            shown.push_back(record.data());
        }
    }
    std::sort(shown.begin(), shown.end());
    std::erase_if(owned_, [&](const std::shared_ptr<const std::string>& record) {
        return !std::binary_search(shown.begin(), shown.end(), record->data());
    });
    shownOwned_ = owned_.size();
}

RecordList FolderFileAccess::Parse(std::shared_ptr<const char[]> block, std::size_t size, int folder) {
    RecordList list;
    list.folder_ = folder;
    list.block_ = std::move(block);
    list.blockSize_ = size;
    std::string_view rest(list.block_.get(), size);
    const std::string_view countBytes = rest.substr(0, kFieldWidth);
    rest.remove_prefix(countBytes.size());
    const std::optional<int> count =
        countBytes.size() == kFieldWidth ? ParseField(countBytes) : std::nullopt;
    if (countBytes.size() == kFieldWidth) {
        // A damaged count may promise far more records than the file holds.
        list.records_.reserve(std::min<std::size_t>(static_cast<std::size_t>(count.value_or(0)),
                                                    rest.size() / kSizeBlockLength));
        // Without a readable count, read records for as long as they last.
        while (!count || list.records_.size() < static_cast<std::size_t>(*count)) {
            if (rest.empty()) {
                // The file ends where a record should start.
                list.damaged_ = list.damaged_ || count.has_value();
                break;
            }
            const std::optional<PartSizes> sizes =
                rest.size() >= kSizeBlockLength ? ParseSizeBlock(rest.substr(0, kSizeBlockLength)) : std::nullopt;
            if (!sizes || !SizesConsistent(*sizes)) {
                list.damaged_ = true;
                break;
            }
            const auto length = static_cast<std::size_t>((*sizes)[kRecordLength]) + kFieldWidth;
            if (rest.size() < length) {
                list.damaged_ = true;
                break;
            }
            list.records_.push_back(rest.substr(0, length));
            rest.remove_prefix(length);
        }
        // Whatever follows the records stays as the unread tail.
        list.unreadTail_ = rest;
        if (!rest.empty()) {
            list.damaged_ = true;
        }
    }
    if (!count) {
        list.damaged_ = true;
    }
    list.countField_ = list.damaged_ ? FormatField(list.Count()) : std::string(countBytes);
    if (list.records_.empty() && list.unreadTail_.empty()) {
        // Nothing shows the block: don't keep it.
        list.block_.reset();
        list.blockSize_ = 0;
    }
    return list;
}

void FolderFileAccess::Apply(RecordList& list, const FolderEdit& edit, const FileStamp& stamp) {
    switch (edit.kind) {
    case FolderEdit::Kind::kReplace: {
        std::string_view& record = list.records_[edit.index];
        list.shownOwned_ -= list.InBlock(record) ? 0 : 1;
        record = list.Own(edit.record);
        break;
    }
    case FolderEdit::Kind::kRemove:
        list.shownOwned_ -= list.InBlock(list.records_[edit.index]) ? 0 : 1;
        list.records_.erase(list.records_.begin() + static_cast<std::ptrdiff_t>(edit.index));
        list.countField_ = FormatField(list.Count());
        break;
    case FolderEdit::Kind::kRemoveSome: {
        std::size_t next = 0;
        std::size_t kept = 0;
        for (std::size_t i = 0; i < list.records_.size(); ++i) {
            if (next < edit.indices.size() && edit.indices[next] == i) {
                ++next;
                list.shownOwned_ -= list.InBlock(list.records_[i]) ? 0 : 1;
            } else {
                list.records_[kept++] = list.records_[i];
            }
        }
        list.records_.resize(kept);
        list.countField_ = FormatField(list.Count());
        break;
    }
    case FolderEdit::Kind::kAppend:
        if (list.Whole()) {
            list.records_.push_back(list.Own(edit.record));
        } else {
            ++list.notHeld_;
        }
        list.countField_ = FormatField(list.Count());
        break;
    }
    list.DropUnshown();
    list.stamp_ = stamp;
}

int FolderFileAccess::ReadEnd(int fd, const FileStamp& stamp, int folder, RecordList& list) {
    RecordList read;
    read.folder_ = folder;
    read.stamp_ = stamp;
    char head[kSizeBlockLength];
    int error = 0;
    ssize_t got = ReadFull(fd, head, kFieldWidth, error);
    if (error != 0) {
        return error;
    }
    const std::string countBytes(head, got > 0 ? static_cast<std::size_t>(got) : 0);
    const std::optional<int> count = countBytes.size() == kFieldWidth ? ParseField(countBytes) : std::nullopt;
    bool sound = count.has_value();
    off_t at = static_cast<off_t>(kFieldWidth);
    // The size blocks are read through a window of the file, so that a
    // folder of small records costs a few large reads, not one per record.
    constexpr std::size_t kWindow = 64 * 1024;
    std::unique_ptr<char[]> window;
    off_t windowStart = 0;
    std::size_t windowLength = 0;
    for (int i = 0; sound && i < *count; ++i) {
        if (stamp.size - at < static_cast<off_t>(kSizeBlockLength)) {
            sound = false;
            break;
        }
        if (at < windowStart || at + static_cast<off_t>(kSizeBlockLength) > windowStart + static_cast<off_t>(windowLength)) {
            if (!window) {
                window = std::make_unique_for_overwrite<char[]>(kWindow);
            }
            got = pread(fd, window.get(), kWindow, at);
            if (got < 0) {
                return errno;
            }
            windowStart = at;
            windowLength = static_cast<std::size_t>(got);
        }
        const auto offset = static_cast<std::size_t>(at - windowStart);
        const std::optional<PartSizes> sizes =
            windowLength - offset >= kSizeBlockLength
                ? ParseSizeBlock(std::string_view(window.get() + offset, kSizeBlockLength))
                : std::nullopt;
        if (!sizes || !SizesConsistent(*sizes)) {
            sound = false;
            break;
        }
        at += static_cast<off_t>(kFieldWidth) + (*sizes)[kRecordLength];
        sound = at <= stamp.size;
    }
    if (sound && at == stamp.size) {
        read.countField_ = countBytes;
        read.notHeld_ = static_cast<std::size_t>(*count);
    } else {
        read.damaged_ = true;
    }
    list = std::move(read);
    return 0;
}

int ReadFolderEnd(const std::string& path, int folder, RecordList& list) {
    return ReadFolderEnd(path, folder, list, nullptr);
}

namespace {

CheckedEnd CheckedEndFrom(const struct stat& st, int count) {
    return CheckedEnd{st.st_dev, st.st_ino, st.st_size, st.st_mtim, st.st_ctim, count};
}

bool SameTime(const timespec& a, const timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

} // namespace

bool CheckedEnd::operator==(const CheckedEnd& other) const {
    return device == other.device && inode == other.inode && size == other.size &&
           SameTime(modified, other.modified) && SameTime(changed, other.changed) && count == other.count;
}

int ReadFolderEnd(const std::string& path, int folder, RecordList& list, const CheckedEnd* known) {
    int error = 0;
    UniqueFd fd = OpenFile(path, O_RDONLY, 0, error);
    if (!fd.Valid()) {
        return error;
    }
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0) {
        return errno;
    }
    const FileStamp stamp{st.st_dev, st.st_ino, st.st_size, st.st_mode & 07777};
    if (known != nullptr && CheckedEndFrom(st, known->count) == *known) {
        char head[kFieldWidth];
        if (ReadFull(fd.Get(), head, kFieldWidth, error) == static_cast<ssize_t>(kFieldWidth) &&
            ParseField(std::string_view(head, kFieldWidth)) == known->count) {
            FolderFileAccess::SetEnd(list, stamp, folder, std::string(head, kFieldWidth));
            return 0;
        }
        if (error != 0) {
            return error;
        }
        if (::lseek(fd.Get(), 0, SEEK_SET) < 0) {
            return errno;
        }
    }
    return FolderFileAccess::ReadEnd(fd.Get(), stamp, folder, list);
}

RecordList EndOf(const RecordList& list) {
    RecordList end;
    if (!list.Damaged() && list.UnreadTail().empty() && list.Whole()) {
        FolderFileAccess::SetEnd(end, list.Stamp(), list.Folder(), std::string(list.CountField()));
    }
    return end;
}

std::optional<CheckedEnd> CheckedEndOf(const std::string& path, const RecordList& list) {
    struct stat st {};
    if (list.Damaged() || !list.UnreadTail().empty() || ::stat(path.c_str(), &st) != 0) {
        return std::nullopt;
    }
    const FileStamp& stamp = list.Stamp();
    if (st.st_dev != stamp.device || st.st_ino != stamp.inode || st.st_size != stamp.size) {
        return std::nullopt;
    }
    return CheckedEndFrom(st, list.Count());
}

int ReadFolderFile(const std::string& path, int folder, RecordList& list) {
    int error = 0;
    UniqueFd fd = OpenFile(path, O_RDONLY, 0, error);
    if (!fd.Valid()) {
        return error;
    }
    FileStamp stamp;
    if ((error = StampOf(fd.Get(), stamp)) != 0) {
        return error;
    }
    // The whole file in one block, read straight into it.
    const auto size = static_cast<std::size_t>(std::max<off_t>(stamp.size, 0));
    std::shared_ptr<char[]> block(size > 0 ? new char[size] : nullptr);
    const ssize_t got = size > 0 ? ReadFull(fd.Get(), block.get(), size, error) : 0;
    if (got < 0) {
        return error;
    }
    RecordList read = FolderFileAccess::Parse(std::move(block), static_cast<std::size_t>(got), folder);
    FolderFileAccess::SetStamp(read, stamp);
    list = std::move(read);
    return 0;
}

RecordList ParseFolderBytes(std::string_view bytes, int folder) {
    std::shared_ptr<char[]> block(bytes.empty() ? nullptr : new char[bytes.size()]);
    if (!bytes.empty()) {
        std::memcpy(block.get(), bytes.data(), bytes.size());
    }
    return FolderFileAccess::Parse(std::move(block), bytes.size(), folder);
}

bool UnchangedOnDisk(const std::string& path, const RecordList& list) {
    FileStamp now;
    return StampOfPath(path, now) == 0 && now.device == list.Stamp().device &&
           now.inode == list.Stamp().inode && now.size == list.Stamp().size;
}

int WriteProtected(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        return errno == ENOENT ? 0 : errno;
    }
    // The owner's write bit, not access(2): the user protected the file,
    // and that holds even for a process that could write it anyway.
    return (st.st_mode & S_IWUSR) == 0 ? EACCES : 0;
}

int RewriteFolderFile(const std::string& dir, const RecordList& list, const FolderEdit& edit, FileStamp& stamp) {
    if (!list.Whole()) {
        return EINVAL; // it doesn't hold the records to write
    }
    std::string targetDir = dir;
    std::string targetName(FolderName(list.Folder()));
    const std::string path = dir + targetName;
    if (const int error = WriteProtected(path); error != 0) {
        return error;
    }
    // A folder file that is a symbolic link stays one: the file it points
    // to is rewritten, beside itself.
    struct stat link {};
    if (::lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
        const std::unique_ptr<char, decltype(&std::free)> real(::realpath(path.c_str(), nullptr), &std::free);
        if (!real) {
            return errno;
        }
        const std::string target(real.get());
        const std::size_t slash = target.rfind('/');
        targetDir = target.substr(0, slash + 1);
        targetName = target.substr(slash + 1);
    }
    AtomicFile file;
    const mode_t mode = list.Stamp().mode != 0 ? list.Stamp().mode : 0600;
    int error = file.Open(targetDir, targetName, mode);
    if (error != 0) {
        return error;
    }
    switch (edit.kind) {
    case FolderEdit::Kind::kReplace:
        error = file.Write(list.CountField());
        break;
    case FolderEdit::Kind::kRemove:
        error = file.Write(FormatField(list.Count() - 1));
        break;
    case FolderEdit::Kind::kAppend:
        error = file.Write(FormatField(list.Count() + 1));
        break;
    case FolderEdit::Kind::kRemoveSome:
        error = file.Write(FormatField(list.Count() - static_cast<int>(edit.indices.size())));
        break;
    }
    std::size_t nextRemoved = 0;
    for (std::size_t i = 0; i < list.size() && error == 0; ++i) {
        if (i == edit.index && edit.kind == FolderEdit::Kind::kRemove) {
            continue;
        }
        if (edit.kind == FolderEdit::Kind::kRemoveSome && nextRemoved < edit.indices.size() &&
            edit.indices[nextRemoved] == i) {
            ++nextRemoved;
            continue;
        }
        error = file.Write(i == edit.index && edit.kind == FolderEdit::Kind::kReplace ? edit.record
                                                                                      : std::string_view(list[i]));
    }
    if (error == 0 && edit.kind == FolderEdit::Kind::kAppend) {
        error = file.Write(edit.record);
    }
    if (error == 0 && edit.keepTail) {
        error = file.Write(list.UnreadTail());
    }
    if (error == 0) {
        error = file.Commit();
    }
    if (error == 0) {
        stamp = file.Stamp();
    }
    return error;
}

namespace {

// Puts a file back to `size` bytes starting with `head`.
int RestoreHead(int fd, off_t size, std::string_view head) {
    if (const int error = TruncateFile(fd, size); error != 0) {
        return error;
    }
    if (const int error = WriteFull(fd, head.data(), head.size(), 0); error != 0) {
        return error;
    }
    return SyncFile(fd);
}

} // namespace

namespace {

// Opens the file of `list`'s folder in `dir` when it is still the file the
// list was read from (same file, same length). Otherwise the result is not
// valid and `error` is ESTALE, or the errno of opening it.
UniqueFd OpenLoaded(const std::string& dir, const RecordList& list, int flags, int& error) {
    if ((flags & O_ACCMODE) != O_RDONLY &&
        (error = WriteProtected(dir + std::string(FolderName(list.Folder())))) != 0) {
        return UniqueFd();
    }
    UniqueFd fd = OpenFile(dir + std::string(FolderName(list.Folder())), flags, 0, error);
    if (!fd.Valid()) {
        return fd;
    }
    FileStamp now;
    if ((error = StampOf(fd.Get(), now)) != 0) {
        return UniqueFd();
    }
    if (now.device != list.Stamp().device || now.inode != list.Stamp().inode || now.size != list.Stamp().size) {
        error = ESTALE;
        return UniqueFd();
    }
    return fd;
}

} // namespace

int StartAppendJournal(const std::string& dir, const RecordList& list, std::size_t recordLength,
                       ChangeJournal& journal) {
    int error = 0;
    journal = ChangeJournal{};
    journal.target = std::string(FolderName(list.Folder()));
    UniqueFd fd = OpenLoaded(dir, list, O_RDONLY, error);
    if (!fd.Valid()) {
        return error;
    }
    journal.targetSize = list.Stamp().size;
    FileStamp identity;
    if ((error = StampOf(fd.Get(), identity)) != 0) {
        return error;
    }
    journal.hasIdentity = true;
    journal.targetDevice = identity.device;
    journal.targetInode = identity.inode;
    journal.targetHead.assign(kFieldWidth, '\0');
    const ssize_t n = ReadFull(fd.Get(), journal.targetHead.data(), kFieldWidth, error);
    if (n < 0) {
        return error;
    }
    journal.targetHead.resize(static_cast<std::size_t>(n));
    // A file too short for its count gets the count first and the record after it.
    journal.newSize = std::max<off_t>(journal.targetSize, static_cast<off_t>(kFieldWidth)) + static_cast<off_t>(recordLength);
    journal.newHead = FormatField(list.Count() + 1);
    return 0;
}

int AppendUnsynced(const std::string& dir, const RecordList& list, std::string_view record, FileStamp& stamp) {
    int error = 0;
    UniqueFd fd = OpenLoaded(dir, list, O_RDWR, error);
    if (!fd.Valid()) {
        return error;
    }
    return AppendUnsynced(fd.Get(), list, record, stamp);
}

UniqueFd OpenForAppends(const std::string& dir, const RecordList& list, int& error) {
    return OpenLoaded(dir, list, O_RDWR, error);
}

int AppendUnsynced(int fd, const RecordList& list, std::string_view record, FileStamp& stamp) {
    FileStamp now;
    if (const int error = StampOf(fd, now); error != 0) {
        return error;
    }
    if (now.device != list.Stamp().device || now.inode != list.Stamp().inode || now.size != list.Stamp().size) {
        return ESTALE;
    }
    const off_t end = list.Stamp().size;
    const std::string count = FormatField(list.Count() + 1);
    int error = WriteFull(fd, record.data(), record.size(), end);
    if (error == 0) {
        error = WriteFull(fd, count.data(), count.size(), 0);
    }
    if (error != 0) {
        // Nothing of a failed append may stay behind the last record.
        static_cast<void>(TruncateFile(fd, end));
        return error;
    }
    stamp = now;
    stamp.size = end + static_cast<off_t>(record.size());
    return 0;
}

int SyncFolderFile(const std::string& dir, const RecordList& list) {
    int error = 0;
    UniqueFd fd = OpenFile(dir + std::string(FolderName(list.Folder())), O_RDONLY, 0, error);
    if (!fd.Valid()) {
        return error;
    }
    return SyncFile(fd.Get());
}

int MarkReadInPlace(const std::string& dir, const RecordList& list, std::size_t index) {
    if (index >= list.size() || !list.Whole()) {
        return EINVAL;
    }
    int error = 0;
    UniqueFd fd = OpenLoaded(dir, list, O_WRONLY, error);
    if (!fd.Valid()) {
        return error;
    }
    off_t offset = static_cast<off_t>(list.CountField().size());
    for (std::size_t i = 0; i < index; ++i) {
        offset += static_cast<off_t>(list[i].size());
    }
    offset += static_cast<off_t>(kReadMarkOffset);
    error = WriteFull(fd.Get(), "1", 1, offset);
    if (error == 0) {
        error = SyncFile(fd.Get(), true);
    }
    return error;
}

int AppendToFolderFile(const std::string& dir, const RecordList& list, std::string_view record,
                       const ChangeJournal& journal, FileStamp& stamp, bool& undoFailed) {
    undoFailed = false;
    int error = 0;
    UniqueFd fd = OpenFile(dir + journal.target, O_RDWR, 0, error);
    if (!fd.Valid()) {
        return error;
    }
    FileStamp before;
    if ((error = StampOf(fd.Get(), before)) != 0) {
        return error;
    }
    if (before.device != list.Stamp().device || before.inode != list.Stamp().inode ||
        before.size != journal.targetSize) {
        return ESTALE;
    }
    const off_t offset = journal.newSize - static_cast<off_t>(record.size());
    const std::string& count = journal.newHead;
    error = WriteFull(fd.Get(), record.data(), record.size(), offset);
    if (error == 0) {
        error = SyncFile(fd.Get());
    }
    if (error == 0) {
        error = WriteFull(fd.Get(), count.data(), count.size(), 0);
    }
    if (error == 0) {
        error = SyncFile(fd.Get());
    }
    if (error == 0) {
        error = StampOf(fd.Get(), stamp);
    }
    if (error == 0) {
        error = fd.Close();
    }
    if (error != 0 && fd.Valid()) {
        undoFailed = RestoreHead(fd.Get(), journal.targetSize, journal.targetHead) != 0;
    } else if (error != 0) {
        undoFailed = UndoAppend(dir, journal) != 0;
    }
    return error;
}

void ApplyEdit(RecordList& list, const FolderEdit& edit, const FileStamp& stamp) {
    FolderFileAccess::Apply(list, edit, stamp);
}

namespace {

constexpr std::string_view kJournalMagic = "TEGALO JOURNAL 1";

void AppendLine(std::string& out, std::string_view key, std::string_view value) {
    out += key;
    out += ' ';
    out += value;
    out += kCrLf;
}

template <typename T>
bool ParseNumber(std::string_view text, T& value) {
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc() && ptr == end;
}

} // namespace

std::string FormatJournal(const ChangeJournal& journal) {
    std::string out;
    out += kJournalMagic;
    out += kCrLf;
    AppendLine(out, "target", journal.target);
    AppendLine(out, "size", std::to_string(journal.targetSize));
    // The head is fixed-width: six bytes at most, kept as they were.
    AppendLine(out, "head", std::to_string(journal.targetHead.size()) + ":" + journal.targetHead);
    AppendLine(out, "newsize", std::to_string(journal.newSize));
    AppendLine(out, "newhead", journal.newHead);
    if (journal.hasIdentity) {
        AppendLine(out, "tdevice", std::to_string(journal.targetDevice));
        AppendLine(out, "tinode", std::to_string(journal.targetInode));
    }
    if (!journal.source.empty()) {
        AppendLine(out, "source", journal.source);
        AppendLine(out, "device", std::to_string(journal.sourceStamp.device));
        AppendLine(out, "inode", std::to_string(journal.sourceStamp.inode));
    }
    for (const std::string& companion : journal.companions) {
        AppendLine(out, "companion", companion);
    }
    out += "end";
    out += kCrLf;
    return out;
}

std::optional<ChangeJournal> ParseJournal(std::string_view bytes) {
    ChangeJournal journal;
    bool ended = false;
    bool first = true;
    while (!bytes.empty()) {
        // "head" may hold CR or LF bytes, so it is cut by its length.
        std::string_view line;
        if (bytes.starts_with("head ")) {
            const std::size_t colon = bytes.find(':');
            std::size_t length = 0;
            if (colon == std::string_view::npos || !ParseNumber(bytes.substr(5, colon - 5), length) ||
                length > kFieldWidth || bytes.size() < colon + 1 + length + kCrLf.size() ||
                bytes.substr(colon + 1 + length, kCrLf.size()) != kCrLf) {
                return std::nullopt;
            }
            journal.targetHead = std::string(bytes.substr(colon + 1, length));
            bytes.remove_prefix(colon + 1 + length + kCrLf.size());
            continue;
        }
        const std::size_t end = bytes.find(kCrLf);
        if (end == std::string_view::npos) {
            return std::nullopt;
        }
        line = bytes.substr(0, end);
        bytes.remove_prefix(end + kCrLf.size());
        if (first) {
            if (line != kJournalMagic) {
                return std::nullopt;
            }
            first = false;
            continue;
        }
        if (line == "end") {
            ended = bytes.empty();
            break;
        }
        const std::size_t blank = line.find(' ');
        if (blank == std::string_view::npos) {
            return std::nullopt;
        }
        const std::string_view key = line.substr(0, blank);
        const std::string_view value = line.substr(blank + 1);
        bool ok = true;
        if (key == "target") {
            journal.target = std::string(value);
        } else if (key == "size") {
            ok = ParseNumber(value, journal.targetSize);
        } else if (key == "newsize") {
            ok = ParseNumber(value, journal.newSize);
        } else if (key == "newhead") {
            journal.newHead = std::string(value);
            ok = ParseField(journal.newHead).has_value();
        } else if (key == "companion") {
            journal.companions.emplace_back(value);
            ok = !value.empty() && value.find('/') == std::string_view::npos && value[0] != '.';
        } else if (key == "tdevice") {
            ok = ParseNumber(value, journal.targetDevice);
            journal.hasIdentity = true;
        } else if (key == "tinode") {
            ok = ParseNumber(value, journal.targetInode);
        } else if (key == "source") {
            journal.source = std::string(value);
        } else if (key == "device") {
            ok = ParseNumber(value, journal.sourceStamp.device);
        } else if (key == "inode") {
            ok = ParseNumber(value, journal.sourceStamp.inode);
        } else {
            ok = false;
        }
        if (!ok) {
            return std::nullopt;
        }
    }
    if (!ended || FolderFromName(journal.target) == kNoFolder ||
        (!journal.source.empty() && FolderFromName(journal.source) == kNoFolder)) {
        return std::nullopt;
    }
    return journal;
}

int WriteJournal(const std::string& dir, const ChangeJournal& journal) {
    const std::string path = dir + std::string(kJournalFileName);
    int error = 0;
    UniqueFd fd = OpenFile(path, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW, 0600, error);
    if (!fd.Valid()) {
        return error;
    }
    const std::string text = FormatJournal(journal);
    error = WriteFull(fd.Get(), text.data(), text.size());
    if (error == 0) {
        error = SyncFile(fd.Get());
    }
    if (error == 0) {
        error = fd.Close();
    }
    if (error == 0) {
        error = SyncDirectory(dir);
    }
    if (error != 0) {
        RemoveFile(path);
    }
    return error;
}

int RemoveJournal(const std::string& dir) {
    const std::string path = dir + std::string(kJournalFileName);
    if (const int error = RemoveFile(path); error != 0 && error != ENOENT) {
        return error;
    }
    return SyncDirectory(dir);
}

int UndoAppend(const std::string& dir, const ChangeJournal& journal) {
    int error = 0;
    UniqueFd fd = OpenFile(dir + journal.target, O_RDWR, 0, error);
    if (!fd.Valid()) {
        // A target that is gone holds nothing to take back.
        return error == ENOENT ? 0 : error;
    }
    FileStamp now;
    if ((error = StampOf(fd.Get(), now)) != 0) {
        return error;
    }
    // An append only ever makes the file longer; a shorter file was changed
    // by someone else and is left as it is.
    if (now.size < journal.targetSize) {
        return 0;
    }
    if ((error = RestoreHead(fd.Get(), journal.targetSize, journal.targetHead)) != 0) {
        return error;
    }
    return fd.Close();
}

namespace {

// A move is made once its source file was replaced (or is gone, in which case
// the target's copy is the one left). An append is made once the count in
// the target's first six bytes was written, which happens after the record
// reached the disk.
bool ChangeCompleted(const std::string& dir, const ChangeJournal& journal) {
    if (!journal.source.empty()) {
        FileStamp source;
        return StampOfPath(dir + journal.source, source) != 0 || source.device != journal.sourceStamp.device ||
               source.inode != journal.sourceStamp.inode;
    }
    std::string head;
    int error = 0;
    UniqueFd fd = OpenFile(dir + journal.target, O_RDONLY, 0, error);
    FileStamp now;
    if (!fd.Valid() || StampOf(fd.Get(), now) != 0 || now.size != journal.newSize) {
        return false;
    }
    return TransferText(fd.Get(), head, kFieldWidth, TransferMode::kRead, error) ==
               static_cast<ssize_t>(kFieldWidth) &&
           head == journal.newHead;
}


// True when the target of `journal` is still the file the journal was
// written for (or is gone, so that nothing can be undone wrongly).
bool SameTarget(const std::string& dir, const ChangeJournal& journal) {
    FileStamp now;
    const int error = StampOfPath(dir + journal.target, now);
    if (error == ENOENT) {
        return true;
    }
    return error == 0 && journal.hasIdentity && now.device == journal.targetDevice &&
           now.inode == journal.targetInode && now.size >= journal.targetSize;
}

// Renames the journal aside under the first free name. Returns 0 or errno.
int SetJournalAside(const std::string& dir) {
    for (int n = 1; n < 1000; ++n) {
        const std::string aside = dir + std::string(kAsideJournalPrefix) + std::to_string(n);
        FileStamp there;
        if (StampOfPath(aside, there) == ENOENT) {
            if (const int error = RenameFile(dir + std::string(kJournalFileName), aside); error != 0) {
                return error;
            }
            return SyncDirectory(dir);
        }
    }
    return EEXIST;
}

bool IsOrphanedTemporary(std::string_view name) {
    constexpr std::string_view kUidlTemp = "recv.uidl.";
    constexpr std::string_view kDigestTemp = "recv.digest.";
    constexpr std::string_view kUniqueTemp = ".tegalo-";
    return (name.size() > kTempSuffix.size() && name.ends_with(kTempSuffix)) ||
           (name.starts_with(kUidlTemp) && name.size() == kUidlTemp.size() + 6) || name.ends_with(kPendingSuffix) ||
           (name.starts_with(kDigestTemp) && name.size() == kDigestTemp.size() + 6) ||
           (name.starts_with(kUniqueTemp) && name.size() > kUniqueTemp.size());
}

} // namespace

int PutCompanionInPlace(const std::string& dir, std::string_view companion) {
    const std::string target = dir + std::string(companion);
    const int error = RenameFile(target + std::string(kPendingSuffix), target);
    if (error == ENOENT) {
        return 0;
    }
    return error != 0 ? error : SyncDirectory(dir);
}

void RemoveOrphanedTemporaries(const std::string& dir) {
    std::unique_ptr<DIR, int (*)(DIR*)> listing(::opendir(dir.c_str()), ::closedir);
    if (!listing) {
        return;
    }
    std::vector<std::string> orphans;
    while (const dirent* entry = ::readdir(listing.get())) {
        const std::string_view name = entry->d_name;
        struct stat st {};
        if (IsOrphanedTemporary(name) && ::lstat((dir + std::string(name)).c_str(), &st) == 0 &&
            S_ISREG(st.st_mode)) {
            orphans.emplace_back(name);
        }
    }
    for (const std::string& name : orphans) {
        RemoveFile(dir + name);
    }
}

Recovery RecoverInterruptedChange(const std::string& dir, int& error) {
    error = 0;
    // Leftovers go after the journal was dealt with: a pending file it names
    // is put in place first.
    struct Cleanup {
        const std::string& dir;
        ~Cleanup() { RemoveOrphanedTemporaries(dir); }
    } cleanup{dir};
    std::string bytes;
    error = ReadWholeFile(dir + std::string(kJournalFileName), bytes);
    if (error == ENOENT) {
        error = 0;
        return Recovery::kNothing;
    }
    if (error != 0) {
        return Recovery::kFailed;
    }
    const std::optional<ChangeJournal> journal = ParseJournal(bytes);
    Recovery result = journal ? Recovery::kUndone : Recovery::kNothing;
    if (journal) {
        if (ChangeCompleted(dir, *journal)) {
            result = Recovery::kCompleted;
            for (const std::string& companion : journal->companions) {
                if ((error = PutCompanionInPlace(dir, companion)) != 0) {
                    return Recovery::kFailed;
                }
            }
        } else if (!SameTarget(dir, *journal)) {
            // Undoing would cut a file the journal never described.
            if ((error = SetJournalAside(dir)) != 0) {
                return Recovery::kFailed;
            }
            return Recovery::kSetAside;
        } else if ((error = UndoAppend(dir, *journal)) != 0) {
            return Recovery::kFailed;
        }
    }
    // The journal reached the disk before the target was touched, so a
    // journal cut short means that nothing else happened.
    if ((error = RemoveJournal(dir)) != 0) {
        return Recovery::kFailed;
    }
    return result;
}

} // namespace tegalo
