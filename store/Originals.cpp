#include "store/Originals.h"

#include "store/Record.h"

#include <nettle/sha2.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <fcntl.h>
#include <unistd.h>
#include <cstdio>
#include <ctime>
#include <sys/stat.h>
#include <vector>

namespace tegalo {
namespace {

constexpr std::size_t kKeyLength = 2 * SHA256_DIGEST_SIZE;
// More originals of one key than this means something else is wrong.
constexpr int kMaxSameKey = 100'000;

std::string Hex(const std::uint8_t* digest) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(kKeyLength);
    for (std::size_t i = 0; i < SHA256_DIGEST_SIZE; ++i) {
        hex += kHex[digest[i] >> 4];
        hex += kHex[digest[i] & 0x0f];
    }
    return hex;
}

bool IsKey(std::string_view s) {
    return s.size() == kKeyLength &&
           std::all_of(s.begin(), s.end(), [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

// The directory without its final "/", as steps name it.
std::string OriginalsPath(const std::string& dir) {
    return dir + std::string(kOriginalsDirName);
}

bool Exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

// The names in the originals directory; an empty list when it is missing.
int ListNames(const std::string& dir, std::vector<std::string>& names) {
    std::error_code error;
    std::filesystem::directory_iterator it(OriginalsDir(dir), error);
    if (error) {
        return error.value() == ENOENT ? 0 : error.value();
    }
    for (const std::filesystem::directory_iterator end; it != end; it.increment(error)) {
        names.push_back(it->path().filename().string());
    }
    return error ? error.value() : 0;
}

} // namespace

std::string OriginalKey(std::string_view sizeBlock, std::string_view text) {
    sha256_ctx context;
    sha256_init(&context);
    if (sizeBlock.size() > kReadMarkOffset) {
        // The read mark counts as set, whatever it is.
        sha256_update(&context, kReadMarkOffset, reinterpret_cast<const std::uint8_t*>(sizeBlock.data()));
        const std::uint8_t mark = '1';
        sha256_update(&context, 1, &mark);
        sizeBlock.remove_prefix(kReadMarkOffset + 1);
    }
    sha256_update(&context, sizeBlock.size(), reinterpret_cast<const std::uint8_t*>(sizeBlock.data()));
    sha256_update(&context, text.size(), reinterpret_cast<const std::uint8_t*>(text.data()));
    std::uint8_t digest[SHA256_DIGEST_SIZE];
    sha256_digest(&context, sizeof digest, digest);
    return Hex(digest);
}

std::string OriginalKey(std::string_view record) {
    const std::size_t block = std::min(record.size(), kSizeBlockLength);
    return OriginalKey(record.substr(0, block), record.substr(block));
}

std::string OriginalFileName(std::string_view key, int n) {
    std::string name(key);
    if (n > 1) {
        name.push_back('-');
        name.append(std::to_string(n));
    }
    name.append(kOriginalExtension);
    return name;
}

std::optional<OriginalName> ParseOriginalFileName(std::string_view name) {
    if (!name.ends_with(kOriginalExtension)) {
        return std::nullopt;
    }
    name.remove_suffix(kOriginalExtension.size());
    if (name.size() < kKeyLength || !IsKey(name.substr(0, kKeyLength))) {
        return std::nullopt;
    }
    OriginalName parsed{std::string(name.substr(0, kKeyLength)), 1};
    const std::string_view rest = name.substr(kKeyLength);
    if (rest.empty()) {
        return parsed;
    }
    if (rest.size() < 2 || rest.size() > 7 || rest[0] != '-' || rest[1] == '0' ||
        !std::all_of(rest.begin() + 1, rest.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return std::nullopt;
    }
    parsed.n = std::stoi(std::string(rest.substr(1)));
    if (parsed.n < 2) {
        return std::nullopt;
    }
    return parsed;
}

std::string OriginalsDir(const std::string& dir) {
    return dir + std::string(kOriginalsDirName) + "/";
}

int EnsureOriginalsDir(const std::string& dir) {
    const std::string path = OriginalsPath(dir);
    if (::mkdir(path.c_str(), 0700) != 0) {
        if (errno != EEXIST) {
            return errno;
        }
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0) {
            return errno;
        }
        return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
    }
    return SyncDirectory(dir);
}

int MarkSweep(const std::string& dir) {
    int error = 0;
    UniqueFd fd = OpenFile(OriginalsDir(dir) + std::string(kSweepMarkerName), O_WRONLY | O_CREAT | O_NOFOLLOW, 0600,
                           error);
    if (!fd.Valid()) {
        return error;
    }
    if ((error = fd.Close()) != 0) {
        return error;
    }
    return SyncDirectory(OriginalsPath(dir));
}

void ClearSweep(const std::string& dir) {
    // A marker that stays only costs the next start a count.
    RemoveFile(OriginalsDir(dir) + std::string(kSweepMarkerName));
}

bool SweepMarked(const std::string& dir) {
    return Exists(OriginalsDir(dir) + std::string(kSweepMarkerName));
}

namespace {

// How many single-file originals of `key` there are: "<key>.eml", then
// "<key>-2.eml", ... without gaps.
int SingleFiles(const std::string& originals, std::string_view key) {
    if (!IsKey(key)) {
        return 0; // not a name in the directory: a NUL or "/" would name another file
    }
    int count = 0;
    while (count < kMaxSameKey && Exists(originals + OriginalFileName(key, count + 1))) {
        ++count;
    }
    return count;
}

// "ORIGINAL <key> <length>\n"
std::string PackHeader(std::string_view key, std::size_t length) {
    std::string header(kPackLiveWord);
    header += ' ';
    header += key;
    header += ' ';
    header += std::to_string(length);
    header += '\n';
    return header;
}

// The longest header: the word, a key, a 20-digit length, three separators.
constexpr std::size_t kMaxHeader = 8 + 1 + kKeyLength + 1 + 20 + 1;

struct ParsedHeader {
    bool live = false;
    std::string key;
    std::size_t length = 0;
    std::size_t size = 0; // of the header line
};

std::optional<ParsedHeader> ParseHeader(std::string_view bytes) {
    const std::size_t lf = bytes.find('\n');
    if (lf == std::string_view::npos || lf < kPackLiveWord.size() + 1 + kKeyLength + 2) {
        return std::nullopt;
    }
    const std::string_view line = bytes.substr(0, lf);
    ParsedHeader parsed;
    // A removed original's header keeps the space after the word it lost.
    const std::string_view word = line.substr(0, kPackLiveWord.size());
    if ((word != kPackLiveWord && word != kPackRemovedWord) || line[kPackLiveWord.size()] != ' ') {
        return std::nullopt;
    }
    parsed.live = word == kPackLiveWord;
    const std::string_view key = line.substr(kPackLiveWord.size() + 1, kKeyLength);
    const std::string_view length = line.substr(kPackLiveWord.size() + 1 + kKeyLength);
    if (!IsKey(key) || length.size() < 2 || length[0] != ' ' || length.size() > 20 ||
        !std::all_of(length.begin() + 1, length.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return std::nullopt;
    }
    parsed.key = std::string(key);
    parsed.length = static_cast<std::size_t>(std::stoull(std::string(length.substr(1))));
    parsed.size = lf + 1;
    return parsed;
}

} // namespace

void OriginalStore::Open(const std::string& dir) {
    *this = OriginalStore();
    dir_ = dir;
}

std::string OriginalStore::PackPath(std::size_t pack) const {
    return OriginalsDir(dir_) + packs_[pack].name;
}

int OriginalStore::Index() {
    if (indexed_) {
        return 0;
    }
    std::vector<std::string> names;
    if (const int error = ListNames(dir_, names); error != 0) {
        return error;
    }
    std::sort(names.begin(), names.end());
    packs_.clear();
    entries_.clear();
    for (const std::string& name : names) {
        if (!name.ends_with(kPackExtension) || name.size() == kPackExtension.size()) {
            continue;
        }
        int error = 0;
        UniqueFd fd = OpenFile(OriginalsDir(dir_) + name, O_RDONLY | O_NOFOLLOW, 0, error);
        FileStamp stamp;
        if (!fd.Valid() || StampOf(fd.Get(), stamp) != 0) {
            continue; // unreadable: its originals are not there for us
        }
        const std::size_t pack = packs_.size();
        packs_.push_back(Pack{name, 0, false});
        char buffer[kMaxHeader];
        off_t at = 0;
        // A pack ends early where a crash cut its last original short.
        while (at < stamp.size) {
            const ssize_t got = ::pread(fd.Get(), buffer, sizeof buffer, at);
            if (got <= 0) {
                break;
            }
            const std::optional<ParsedHeader> header =
                ParseHeader(std::string_view(buffer, static_cast<std::size_t>(got)));
            if (!header || static_cast<std::uint64_t>(stamp.size - at) - header->size < header->length) {
                break;
            }
            const off_t offset = at + static_cast<off_t>(header->size);
            if (header->live) {
                entries_[header->key].push_back(Entry{pack, at, offset, header->length});
                ++packs_[pack].live;
            }
            at = offset + static_cast<off_t>(header->length);
        }
        packs_[pack].whole = at == stamp.size;
    }
    indexed_ = true;
    return 0;
}

int OriginalStore::Add(std::string_view key, std::string_view bytes, std::string_view tail, bool batched,
                       Written& written) {
    if (const int error = Index(); error != 0) {
        return error;
    }
    const std::string originals = OriginalsDir(dir_);
    UniqueFd own;
    std::size_t pack = 0;
    off_t at = 0;
    if (!batched || !batchFd_.Valid()) {
        // A new pack, named by the clock so that packs sort as written.
        timespec now {};
        ::clock_gettime(CLOCK_REALTIME, &now);
        char stem[48];
        std::snprintf(stem, sizeof stem, "%010lld%09ld", static_cast<long long>(now.tv_sec), now.tv_nsec);
        UniqueFd made;
        std::string name;
        for (int n = 0; !made.Valid() && n < 1000; ++n) {
            name = std::string(stem) + (n == 0 ? std::string() : "-" + std::to_string(n)) + std::string(kPackExtension);
            int error = 0;
            made = OpenFile(originals + name, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW, 0600, error);
            if (!made.Valid() && error != EEXIST) {
                return error;
            }
        }
        if (!made.Valid()) {
            return EEXIST;
        }
        pack = packs_.size();
        packs_.push_back(Pack{name, 0, false});
        if (batched) {
            batchFd_ = std::move(made);
            batchPack_ = pack;
            batchHeld_.Reset(batchFd_.Get(), 0);
            batchPackNew_ = true;
        } else {
            own = std::move(made);
        }
    }
    if (batched) {
        pack = batchPack_;
        at = batchHeld_.End();
    }
    const std::string header = PackHeader(key, bytes.size() + tail.size());
    // A batch's originals are held and written out a megabyte at a time,
    // with room reserved for them; one for which no room can be reserved
    // is written at once, as one outside a batch.
    int error = 0;
    const AppendBuffer::Taken taken =
        batched ? batchHeld_.Take({header, bytes, tail}, error) : AppendBuffer::Taken::kNoRoom;
    const bool held = taken == AppendBuffer::Taken::kYes;
    if (taken == AppendBuffer::Taken::kNoRoom && batched) {
        error = batchHeld_.Flush();
    }
    if (error != 0) {
        batchLost_ = true; // the batch's held originals are lost with it: see DropBatch
        return error;
    }
    if (!held) {
        std::string entry;
        entry.reserve(header.size() + bytes.size() + tail.size());
        entry.append(header).append(bytes).append(tail);
        const int fd = batched ? batchFd_.Get() : own.Get();
        error = WriteFull(fd, entry.data(), entry.size(), at);
        if (error == 0 && batched) {
            batchHeld_.Reset(fd, at + static_cast<off_t>(entry.size()));
        }
        if (error == 0 && !batched) {
            error = SyncFile(fd, true);
            if (error == 0) {
                error = SyncDirectory(OriginalsPath(dir_));
            }
        }
        if (error != 0) {
            if (batched) {
                static_cast<void>(TruncateFile(fd, at)); // nothing of it stays behind
            } else {
                own = UniqueFd();
                RemoveFile(PackPath(pack));
                packs_[pack].gone = true;
            }
            return error;
        }
    }
    const std::size_t headerSize = header.size();
    entries_[std::string(key)].push_back(
        Entry{pack, at, at + static_cast<off_t>(headerSize), bytes.size() + tail.size()});
    ++packs_[pack].live;
    written = Written{std::string(key), packs_[pack].name, at, !batched};
    return 0;
}

void OriginalStore::DropBatch() {
    if (!batchFd_.Valid()) {
        batchLost_ = false;
        return;
    }
    for (auto it = entries_.begin(); it != entries_.end();) {
        std::vector<Entry>& list = it->second;
        std::erase_if(list, [this](const Entry& entry) { return entry.pack == batchPack_; });
        it = list.empty() ? entries_.erase(it) : std::next(it);
    }
    batchHeld_ = AppendBuffer();
    batchFd_ = UniqueFd();
    // Never synced, so no record refers to it: the pack goes.
    RemoveFile(PackPath(batchPack_));
    packs_[batchPack_].gone = true;
    packs_[batchPack_].live = 0;
    batchPackNew_ = false;
    batchLost_ = false;
}

void OriginalStore::TakeBack(const Written& written) {
    if (const auto found = entries_.find(written.key); found != entries_.end()) {
        std::vector<Entry>& list = found->second;
        const auto it = std::find_if(list.begin(), list.end(), [&](const Entry& entry) {
            return packs_[entry.pack].name == written.pack && entry.header == written.header;
        });
        if (it == list.end()) {
            return;
        }
        const std::size_t pack = it->pack;
        list.erase(it);
        --packs_[pack].live;
        if (written.ownPack) {
            RemoveFile(PackPath(pack));
            packs_[pack].gone = true;
        } else if (batchFd_.Valid() && pack == batchPack_ && batchHeld_.End() > written.header) {
            // The batch's last original: the pack is cut back to before it.
            static_cast<void>(batchHeld_.CutBack(written.header));
        }
        if (list.empty()) {
            entries_.erase(found);
        }
    }
}

int OriginalStore::SyncBatch() {
    if (!batchFd_.Valid()) {
        return 0;
    }
    int error = batchHeld_.Flush();
    if (error != 0 || batchLost_) {
        batchLost_ = true; // kept open for DropBatch
        return error != 0 ? error : EIO;
    }
    batchHeld_.Release();
    error = SyncFile(batchFd_.Get(), true);
    if (error == 0 && batchPackNew_) {
        error = SyncDirectory(OriginalsPath(dir_));
    }
    if (error == 0) {
        error = batchFd_.Close();
    }
    batchFd_ = UniqueFd();
    batchPackNew_ = false;
    return error;
}

int OriginalStore::Count(std::string_view key) {
    const int files = SingleFiles(OriginalsDir(dir_), key);
    if (Index() != 0) {
        return files;
    }
    const auto found = entries_.find(key);
    return files + (found == entries_.end() ? 0 : static_cast<int>(found->second.size()));
}

bool OriginalStore::Has(std::string_view key) {
    return SingleFiles(OriginalsDir(dir_), key) > 0 ||
           (Index() == 0 && entries_.find(key) != entries_.end());
}

std::optional<std::string> OriginalStore::Read(std::string_view key) {
    std::string bytes;
    const std::string single = OriginalsDir(dir_) + OriginalFileName(key, 1);
    if (SingleFiles(OriginalsDir(dir_), key) > 0) {
        if (ReadWholeFile(single, bytes) != 0) {
            return std::nullopt;
        }
        return bytes;
    }
    if (Index() != 0) {
        return std::nullopt;
    }
    const auto found = entries_.find(key);
    if (found == entries_.end()) {
        return std::nullopt;
    }
    const Entry& entry = found->second.back();
    if (batchFd_.Valid() && entry.pack == batchPack_ && entry.offset >= batchHeld_.WrittenEnd()) {
        return std::string(batchHeld_.HeldFrom(entry.offset, entry.length)); // not written out yet
    }
    int error = 0;
    UniqueFd fd = OpenFile(PackPath(entry.pack), O_RDONLY | O_NOFOLLOW, 0, error);
    if (!fd.Valid()) {
        return std::nullopt;
    }
    bytes.resize(entry.length);
    if (::lseek(fd.Get(), entry.offset, SEEK_SET) < 0 ||
        ReadFull(fd.Get(), bytes.data(), bytes.size(), error) != static_cast<ssize_t>(bytes.size())) {
        return std::nullopt;
    }
    return bytes;
}

int OriginalStore::Remove(const Entry& entry) {
    if (batchFd_.Valid() && entry.pack == batchPack_) {
        // Its header is marked in the file: the batch's pack is written out first.
        if (const int error = batchHeld_.Flush(); error != 0) {
            return error;
        }
    }
    const std::string path = PackPath(entry.pack);
    Pack& pack = packs_[entry.pack];
    if (pack.live <= 1 && pack.whole && !(batchFd_.Valid() && entry.pack == batchPack_)) {
        // The pack's last original: the pack goes.
        if (const int error = RemoveFile(path); error != 0 && error != ENOENT) {
            return error;
        }
        pack.gone = true;
        pack.live = 0;
        return SyncDirectory(OriginalsPath(dir_));
    }
    int error = 0;
    UniqueFd fd = OpenFile(path, O_WRONLY | O_NOFOLLOW, 0, error);
    if (!fd.Valid()) {
        return error;
    }
    if ((error = WriteFull(fd.Get(), kPackRemovedWord.data(), kPackRemovedWord.size(), entry.header)) == 0) {
        error = SyncFile(fd.Get(), true);
    }
    if (error != 0) {
        return error;
    }
    // The bytes go back to the file system where it can; the size stays.
    static_cast<void>(::fallocate(fd.Get(), FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, entry.offset,
                                  static_cast<off_t>(entry.length)));
    --pack.live;
    return 0;
}

int OriginalStore::RemoveOne(std::string_view key) {
    const std::string originals = OriginalsDir(dir_);
    if (const int files = SingleFiles(originals, key); files > 0) {
        if (const int error = RemoveFile(originals + OriginalFileName(key, files)); error != 0 && error != ENOENT) {
            return error;
        }
        return SyncDirectory(OriginalsPath(dir_));
    }
    if (const int error = Index(); error != 0) {
        return error;
    }
    const auto found = entries_.find(key);
    if (found == entries_.end()) {
        return 0;
    }
    if (const int error = Remove(found->second.back()); error != 0) {
        return error;
    }
    found->second.pop_back();
    if (found->second.empty()) {
        entries_.erase(found);
    }
    return 0;
}

int OriginalStore::Sweep(const std::map<std::string, int>& records) {
    std::vector<std::string> names;
    if (const int error = ListNames(dir_, names); error != 0) {
        return error;
    }
    const std::string originals = OriginalsDir(dir_);
    std::map<std::string, int> kept; // single files kept, by key
    bool removed = false;
    for (const std::string& name : names) {
        const std::optional<OriginalName> parsed = ParseOriginalFileName(name);
        if (!parsed) {
            continue;
        }
        const auto count = records.find(parsed->key);
        if (count != records.end() && parsed->n <= count->second) {
            ++kept[parsed->key];
            continue;
        }
        if (const int error = RemoveFile(originals + name); error != 0 && error != ENOENT) {
            return error;
        }
        removed = true;
    }
    if (removed) {
        if (const int error = SyncDirectory(OriginalsPath(dir_)); error != 0) {
            return error;
        }
    }
    if (const int error = Index(); error != 0) {
        return error;
    }
    for (auto it = entries_.begin(); it != entries_.end();) {
        const auto count = records.find(it->first);
        const auto keptFiles = kept.find(it->first);
        const int allowed = std::max(0, (count == records.end() ? 0 : count->second) -
                                            (keptFiles == kept.end() ? 0 : keptFiles->second));
        std::vector<Entry>& list = it->second;
        while (static_cast<int>(list.size()) > allowed) {
            if (const int error = Remove(list.back()); error != 0) {
                return error;
            }
            list.pop_back();
        }
        it = list.empty() ? entries_.erase(it) : std::next(it);
    }
    // Packs left with no original at all (a crash between marking the last
    // one removed and deleting the pack), read to their end.
    bool deleted = false;
    for (std::size_t pack = 0; pack < packs_.size(); ++pack) {
        if (packs_[pack].live == 0 && packs_[pack].whole && !packs_[pack].gone &&
            !(batchFd_.Valid() && pack == batchPack_)) {
            if (const int error = RemoveFile(PackPath(pack)); error != 0 && error != ENOENT) {
                return error;
            }
            packs_[pack].gone = true;
            deleted = true;
        }
    }
    if (deleted) {
        if (const int error = SyncDirectory(OriginalsPath(dir_)); error != 0) {
            return error;
        }
    }
    ClearSweep(dir_);
    return 0;
}

} // namespace tegalo
