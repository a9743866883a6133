#include "store/AddressBook.h"

#include "store/FileIo.h"
#include "store/TextLines.h"

#include <algorithm>
#include <cerrno>

namespace tegalo {

namespace {

// "，" in Shift_JIS. Its second byte is not a comma: no trail byte is.
constexpr std::string_view kFullWidthComma = "\x81\x43";

} // namespace

int CompareNames(std::string_view x, std::string_view y) {
    const std::size_t common = std::min(x.size(), y.size());
    for (std::size_t i = 0; i < common; ++i) {
        const auto a = static_cast<signed char>(x[i]);
        const auto b = static_cast<signed char>(y[i]);
        if (a != b) {
            return a > b ? -1 : 1;
        }
    }
    if (x.size() == y.size()) {
        return 0;
    }
    return x.size() < y.size() ? 1 : -1;
}

std::string_view AddressName(std::string_view entry) {
    const std::size_t comma = entry.find(',');
    std::string_view name = comma == std::string_view::npos ? std::string_view() : entry.substr(0, comma);
    const std::size_t start = name.find_first_not_of(" \t");
    return start == std::string_view::npos ? std::string_view() : name.substr(start);
}

std::size_t AddressInsertPosition(const std::vector<std::string>& entries, std::string_view entry) {
    const std::string_view name = AddressName(entry);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (CompareNames(AddressName(entries[i]), name) == -1) {
            return i;
        }
    }
    return entries.size();
}

std::size_t FindSameName(const std::vector<std::string>& entries, std::string_view entry) {
    const std::string_view name = AddressName(entry);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (CompareNames(AddressName(entries[i]), name) == 0) {
            return i;
        }
    }
    return entries.size();
}

std::string SenderAddressEntry(std::string_view sender) {
    std::string_view name = sender;
    std::string_view address = sender;
    if (const std::size_t lt = sender.find('<'); lt != std::string_view::npos && lt >= 1) {
        name = sender.substr(0, lt);
        address = sender.substr(lt + 1);
        address = address.substr(0, address.find('>'));
    }
    std::string entry;
    for (char c : name) {
        if (c == ',') {
            entry += kFullWidthComma;
        } else {
            entry += c;
        }
    }
    entry += ',';
    entry += address;
    return entry;
}

std::vector<AddressEntry> ParseAddressBook(std::string_view content) {
    std::vector<AddressEntry> entries;
    for (std::string& line : SplitTextLines(content)) {
        const std::size_t comma = line.find(',');
        if (comma == std::string::npos) {
            entries.push_back(AddressEntry{std::move(line), std::string(), false});
        } else {
            entries.push_back(AddressEntry{line.substr(0, comma), line.substr(comma + 1), true});
        }
    }
    return entries;
}

std::string FormatAddressBook(const std::vector<AddressEntry>& entries) {
    std::vector<std::string> lines;
    lines.reserve(entries.size());
    for (const AddressEntry& entry : entries) {
        if (entry.comma || !entry.address.empty()) {
            lines.push_back(entry.name + "," + entry.address);
        } else {
            lines.push_back(entry.name);
        }
    }
    return JoinTextLines(lines);
}

bool StorableAddressEntry(const AddressEntry& entry) {
    return entry.name.find_first_of(",\r\n") == std::string::npos &&
           entry.address.find_first_of("\r\n") == std::string::npos;
}

int ReadAddressBook(const std::string& dir, std::string_view file, std::vector<AddressEntry>& entries) {
    std::string content;
    if (const int error = ReadWholeFile(dir + std::string(file), content); error != 0) {
        return error;
    }
    entries = ParseAddressBook(content);
    return 0;
}

int WriteAddressBook(const std::string& dir, std::string_view file, const std::vector<AddressEntry>& entries) {
    if (!std::all_of(entries.begin(), entries.end(), StorableAddressEntry)) {
        return EINVAL;
    }
    FileStamp old;
    const mode_t mode = StampOfPath(dir + std::string(file), old) == 0 ? old.mode : 0600;
    AtomicFile out;
    int error = out.Open(dir, file, mode);
    if (error == 0) {
        error = out.Write(FormatAddressBook(entries));
    }
    if (error == 0) {
        error = out.Commit();
    }
    return error;
}

} // namespace tegalo
