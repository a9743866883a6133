#include "transfer/UidlFile.h"

#include "store/FileIo.h"
#include "store/Record.h"
#include "text/Lines.h"

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
    ForEachLine(text, [&list, &first](std::string_view line) {
        if (first) {
            first = false;
            if (line.starts_with(kAccount)) {
                list.account = std::string(line.substr(kAccount.size()));
                return;
            }
        }
        if (line.starts_with(kStored) && IsValidUidl(line.substr(kStored.size()))) {
            list.marks[std::string(line.substr(kStored.size()))] = UidlMark::Stored;
        } else if (line.starts_with(kKept) && IsValidUidl(line.substr(kKept.size()))) {
            list.marks[std::string(line.substr(kKept.size()))] = UidlMark::Kept;
        }
    });
    return list;
}

UidlFile::UidlFile(std::string directory, std::string_view fileName)
    : directory_(directory.empty() ? std::string(".") : std::move(directory)), fileName_(fileName),
      path_(directory_ + (directory_.ends_with('/') ? "" : "/") + fileName_) {}

UidlLoad UidlFile::Load() {
    UidlLoad result;
    std::string text;
    if (const int error = ReadWholeFile(path_, text); error != 0) {
        if (error == ENOENT) {
            result.ok = true; // no list yet: nothing received so far
        } else {
            result.error = ErrorText("cannot read", path_, error);
        }
        return result;
    }
    result.ok = true;
    result.list = ParseUidlList(text);
    return result;
}

std::string UidlFile::Save(const UidlList& list) {
    return Write(list, fileName_);
}

std::string UidlFile::Stage(const UidlList& list) {
    return Write(list, fileName_ + ".pending");
}

std::string UidlFile::Write(const UidlList& list, const std::string& name) {
    const std::string path = directory_ + (directory_.empty() || directory_.back() == '/' ? "" : "/") + name;
    AtomicFile file;
    int error = file.Open(directory_, name, 0600, TempName::kUnique, fileName_ + ".");
    if (error == 0) {
        error = file.Write(FormatUidlList(list));
    }
    if (error == 0) {
        error = file.Commit();
    }
    switch (file.FailedStep()) {
    case AtomicStep::kNone:
        return {};
    case AtomicStep::kCreate:
        return ErrorText("cannot create a file beside", path, error);
    case AtomicStep::kMode:
        return ErrorText("cannot set the mode of", file.TempPath(), error);
    case AtomicStep::kWrite:
        return ErrorText("cannot write", file.TempPath(), error);
    case AtomicStep::kSync:
        return ErrorText("cannot flush", file.TempPath(), error);
    case AtomicStep::kClose:
        return ErrorText("cannot close", file.TempPath(), error);
    case AtomicStep::kRename:
        return ErrorText("cannot rename to", path, error);
    case AtomicStep::kSyncDirectory:
        // The rename itself reaches the disk with the directory.
        return ErrorText("cannot flush the directory of", path, file.DirectorySyncError());
    }
    return {};
}

} // namespace tegalo
