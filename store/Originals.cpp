#include "store/Originals.h"

#include "store/Record.h"

#include <nettle/sha2.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <fcntl.h>
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

int WriteOriginal(const std::string& dir, std::string_view key, std::string_view bytes, bool sync,
                  std::string& path) {
    const std::string originals = OriginalsDir(dir);
    for (int n = 1; n <= kMaxSameKey; ++n) {
        const std::string candidate = originals + OriginalFileName(key, n);
        int error = 0;
        UniqueFd fd = OpenFile(candidate, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, 0600, error);
        if (error == EEXIST) {
            continue;
        }
        if (!fd.Valid()) {
            return error;
        }
        error = WriteFull(fd.Get(), bytes.data(), bytes.size());
        if (error == 0 && sync) {
            error = SyncFile(fd.Get(), true);
        }
        if (error == 0) {
            error = fd.Close();
        }
        if (error != 0) {
            RemoveFile(candidate);
            return error;
        }
        path = candidate;
        return 0;
    }
    return EEXIST;
}

int SyncOriginalsDir(const std::string& dir) {
    return SyncDirectory(OriginalsPath(dir));
}

int SyncWrittenOriginals(const std::string& dir) {
    if (const int error = SyncFileSystem(OriginalsPath(dir)); error != 0) {
        return error;
    }
    return SyncOriginalsDir(dir);
}

std::optional<std::string> FindOriginal(const std::string& dir, std::string_view key) {
    std::string path = OriginalsDir(dir) + OriginalFileName(key, 1);
    if (!Exists(path)) {
        return std::nullopt;
    }
    return path;
}

int RemoveOneOriginal(const std::string& dir, std::string_view key) {
    const std::string originals = OriginalsDir(dir);
    int highest = 0;
    while (highest < kMaxSameKey && Exists(originals + OriginalFileName(key, highest + 1))) {
        ++highest;
    }
    if (highest == 0) {
        return 0;
    }
    if (const int error = RemoveFile(originals + OriginalFileName(key, highest)); error != 0 && error != ENOENT) {
        return error;
    }
    return SyncOriginalsDir(dir);
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
    return SyncOriginalsDir(dir);
}

void ClearSweep(const std::string& dir) {
    // A marker that stays only costs the next start a count.
    RemoveFile(OriginalsDir(dir) + std::string(kSweepMarkerName));
}

bool SweepMarked(const std::string& dir) {
    return Exists(OriginalsDir(dir) + std::string(kSweepMarkerName));
}

int SweepOriginals(const std::string& dir, const std::map<std::string, int>& records) {
    std::vector<std::string> names;
    if (const int error = ListNames(dir, names); error != 0) {
        return error;
    }
    bool removed = false;
    for (const std::string& name : names) {
        const std::optional<OriginalName> parsed = ParseOriginalFileName(name);
        if (!parsed) {
            continue;
        }
        const auto count = records.find(parsed->key);
        if (count != records.end() && parsed->n <= count->second) {
            continue;
        }
        if (const int error = RemoveFile(OriginalsDir(dir) + name); error != 0 && error != ENOENT) {
            return error;
        }
        removed = true;
    }
    if (removed) {
        if (const int error = SyncOriginalsDir(dir); error != 0) {
            return error;
        }
    }
    ClearSweep(dir);
    return 0;
}

} // namespace tegalo
