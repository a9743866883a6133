#include "store/FolderEnds.h"

#include "store/Record.h"
#include "text/Lines.h"

#include <array>
#include <cerrno>
#include <charconv>
#include <fcntl.h>
#include <unistd.h>

namespace tegalo {

namespace {

template <typename T>
bool TakeNumber(std::string_view& rest, T& value) {
    const std::size_t space = rest.find(' ');
    const std::string_view field = rest.substr(0, space);
    const auto [end, error] = std::from_chars(field.data(), field.data() + field.size(), value);
    if (field.empty() || error != std::errc() || end != field.data() + field.size()) {
        return false;
    }
    rest.remove_prefix(space == std::string_view::npos ? rest.size() : space + 1);
    return true;
}

std::string ReadNotes(const std::string& dir) {
    std::string content;
    if (ReadWholeFile(dir + std::string(kFolderEndsFileName), content) != 0) {
        content.clear();
    }
    return content;
}

} // namespace

std::optional<std::pair<std::string, CheckedEnd>> ParseCheckedEndLine(std::string_view line) {
    const std::size_t space = line.find(' ');
    if (space == 0 || space == std::string_view::npos || line.ends_with(' ')) {
        return std::nullopt;
    }
    std::string_view rest = line.substr(space + 1);
    std::array<long long, 8> n{};
    for (long long& value : n) {
        if (!TakeNumber(rest, value)) {
            return std::nullopt;
        }
    }
    // A line cut short by a crash may still parse, but then it no longer
    // fits the folder file (times and count are checked against it).
    if (!rest.empty() || n[2] < 0 || n[4] < 0 || n[4] > 999'999'999 || n[6] < 0 || n[6] > 999'999'999 || n[7] < 0 ||
        n[7] > 999'999) {
        return std::nullopt;
    }
    CheckedEnd end;
    end.device = static_cast<dev_t>(n[0]);
    end.inode = static_cast<ino_t>(n[1]);
    end.size = static_cast<off_t>(n[2]);
    end.modified = timespec{static_cast<time_t>(n[3]), static_cast<long>(n[4])};
    end.changed = timespec{static_cast<time_t>(n[5]), static_cast<long>(n[6])};
    end.count = static_cast<int>(n[7]);
    return std::pair<std::string, CheckedEnd>{std::string(line.substr(0, space)), end};
}

std::string FormatCheckedEndLine(std::string_view name, const CheckedEnd& end) {
    std::string line(name);
    for (const long long value :
         {static_cast<long long>(end.device), static_cast<long long>(end.inode), static_cast<long long>(end.size),
          static_cast<long long>(end.modified.tv_sec), static_cast<long long>(end.modified.tv_nsec),
          static_cast<long long>(end.changed.tv_sec), static_cast<long long>(end.changed.tv_nsec),
          static_cast<long long>(end.count)}) {
        line += ' ';
        line += std::to_string(value);
    }
    return line;
}

std::optional<CheckedEnd> RecallCheckedEnd(const std::string& dir, std::string_view name) {
    std::optional<CheckedEnd> found;
    ForEachLine(ReadNotes(dir), [&](std::string_view line) {
        if (auto parsed = ParseCheckedEndLine(line); parsed && parsed->first == name) {
            found = parsed->second;
        }
    });
    return found;
}

void NoteCheckedEnd(const std::string& dir, const RecordList& list, CheckedEnds& ends) {
    const std::string name(FolderName(list.Folder()));
    ends[name] = CheckedEndOf(dir + name, list);
}

void WriteCheckedEnds(const std::string& dir, const CheckedEnds& ends) {
    if (ends.empty()) {
        return;
    }
    std::string notes;
    ForEachLine(ReadNotes(dir), [&](std::string_view line) {
        if (auto parsed = ParseCheckedEndLine(line); parsed && !ends.contains(parsed->first)) {
            notes += line;
            notes += '\n';
        }
    });
    for (const auto& [name, end] : ends) {
        if (end) {
            notes += FormatCheckedEndLine(name, *end) + "\n";
        }
    }
    const std::string path = dir + std::string(kFolderEndsFileName);
    const std::string temp = path + ".tmp";
    int error = 0;
    UniqueFd fd = OpenFile(temp, O_WRONLY | O_CREAT | O_TRUNC, 0600, error);
    if (!fd.Valid()) {
        return;
    }
    error = WriteFull(fd.Get(), notes.data(), notes.size());
    if (error == 0) {
        error = fd.Close();
    }
    if (error != 0 || RenameFile(temp, path) != 0) {
        RemoveFile(temp);
    }
}

} // namespace tegalo
