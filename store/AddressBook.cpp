#include "store/AddressBook.h"

#include <algorithm>

namespace tegalo {

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

} // namespace tegalo
