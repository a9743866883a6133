#include "store/SentJournal.h"

#include "store/FileIo.h"
#include "store/FolderFile.h"
#include "store/Record.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>

namespace tegalo {

std::string SentKey(std::string_view record) {
    std::uint64_t hash = 14695981039346656037ULL; // FNV-1a
    for (std::size_t i = 0; i < record.size(); ++i) {
        const auto byte = i == kReadMarkOffset ? std::uint8_t{0} : static_cast<std::uint8_t>(record[i]);
        hash = (hash ^ byte) * 1099511628211ULL;
    }
    char key[48];
    std::snprintf(key, sizeof key, "%zu %016llx", record.size(), static_cast<unsigned long long>(hash));
    return key;
}

int NoteSentRecord(const std::string& dir, std::string_view record) {
    const std::string path = dir + std::string(kSentJournalFileName);
    struct stat existing {};
    const bool created = ::stat(path.c_str(), &existing) != 0;
    int error = 0;
    UniqueFd fd = OpenFile(path, O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW, 0600, error);
    if (!fd.Valid()) {
        return error;
    }
    const std::string line = SentKey(record) + "\n";
    error = WriteFull(fd.Get(), line.data(), line.size());
    if (error == 0) {
        error = SyncFile(fd.Get(), true);
    }
    if (error == 0) {
        error = fd.Close();
    }
    if (error == 0 && created) {
        error = SyncDirectory(dir);
    }
    return error;
}

namespace {

constexpr std::string_view kFiledPrefix = "filed ";

} // namespace

int ReadSentJournal(const std::string& dir, SentJournal& journal) {
    journal = {};
    std::string text;
    if (const int error = ReadWholeFile(dir + std::string(kSentJournalFileName), text); error != 0) {
        return error == ENOENT ? 0 : error;
    }
    std::size_t start = 0;
    for (std::size_t end = text.find('\n'); end != std::string::npos; end = text.find('\n', start)) {
        const std::string_view line = std::string_view(text).substr(start, end - start);
        if (line.starts_with(kFiledPrefix)) {
            journal.filed.emplace_back(line.substr(kFiledPrefix.size()));
        } else {
            journal.sent.emplace_back(line);
        }
        start = end + 1;
    }
    return 0;
}

int StageSentFiled(const std::string& dir, std::string_view record) {
    std::string text;
    if (const int error = ReadWholeFile(dir + std::string(kSentJournalFileName), text); error != 0 && error != ENOENT) {
        return error;
    }
    if (!text.empty() && !text.ends_with('\n')) {
        text.resize(text.rfind('\n') + 1); // npos + 1: nothing whole is kept
    }
    text += std::string(kFiledPrefix) + SentKey(record) + "\n";
    AtomicFile file;
    int error =
        file.Open(dir, std::string(kSentJournalFileName) + std::string(kPendingSuffix), 0600, TempName::kUnique);
    if (error == 0) {
        error = file.Write(text);
    }
    if (error == 0) {
        error = file.Commit();
    }
    return error;
}

int RemoveSentJournal(const std::string& dir) {
    if (const int error = RemoveFile(dir + std::string(kSentJournalFileName)); error != 0) {
        return error == ENOENT ? 0 : error;
    }
    return SyncDirectory(dir);
}

} // namespace tegalo
