#include "mime/RecordLayout.h"

#include "text/jis.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>

namespace tegalo {

namespace {

constexpr char kEsc = '\x1b';

std::string_view TrimRight(std::string_view s, std::string_view what) {
    const std::size_t end = s.find_last_not_of(what);
    return end == std::string_view::npos ? std::string_view() : s.substr(0, end + 1);
}

// Where a name longer than the name field is cut, and whether a double-byte
// ISO-2022-JP run is open there and must be closed.
struct NameCut {
    std::size_t length = 0;
    bool closeRun = false;
};

constexpr std::size_t kEscapeLength = 3;

// Cuts `name` to at most `limit` bytes at a character boundary.
NameCut CutName(std::string_view name, std::size_t limit) {
    NameCut cut;
    bool doubleByte = false; // inside an ESC $ run
    std::size_t i = 0;
    while (i < name.size()) {
        std::size_t width = 1;
        bool nextDoubleByte = doubleByte;
        if (name[i] == kEsc && i + kEscapeLength <= name.size()) {
            width = kEscapeLength;
            nextDoubleByte = name[i + 1] == '$';
        } else if (doubleByte) {
            width = 2;
        } else if (IsSjisLead(static_cast<unsigned char>(name[i]))) {
            width = 2;
        }
        width = std::min(width, name.size() - i);
        // Room for the closing sequence, should the run still be open here.
        const std::size_t closing = nextDoubleByte ? kEscapeLength : 0;
        if (i + width + closing > limit) {
            break;
        }
        i += width;
        doubleByte = nextDoubleByte;
        cut = NameCut{i, doubleByte};
    }
    return cut;
}

// The extension of a name (from its last "." outside any double-byte
// character or run): 2 to 16 printable ASCII bytes, else empty.
std::string_view NameExtension(std::string_view name) {
    constexpr std::size_t kExtensionMax = 16;
    std::size_t dot = std::string_view::npos;
    bool doubleByte = false;
    for (std::size_t i = 0; i < name.size();) {
        if (name[i] == kEsc && i + kEscapeLength <= name.size()) {
            doubleByte = name[i + 1] == '$';
            i += kEscapeLength;
        } else if (doubleByte || IsSjisLead(static_cast<unsigned char>(name[i]))) {
            i += 2;
        } else {
            dot = name[i] == '.' ? i : dot;
            ++i;
        }
    }
    if (dot == std::string_view::npos || dot == 0) {
        return {};
    }
    const std::string_view extension = name.substr(dot);
    const bool plain = std::all_of(extension.begin(), extension.end(), [](char c) { return c > 0x20 && c < 0x7F; });
    return plain && extension.size() >= 2 && extension.size() <= kExtensionMax ? extension : std::string_view();
}

} // namespace

std::string FormatField(int value) {
    std::string digits = std::to_string(value);
    if (digits.size() >= kFieldWidth) {
        return digits;
    }
    return std::string(kFieldWidth - digits.size(), ' ') + digits;
}

std::optional<int> ParseField(std::string_view field) {
    if (field.size() != kFieldWidth) {
        return std::nullopt;
    }
    // All six bytes at once (every record has eleven fields to read):
    // leading spaces, then digits only.
    static_assert(std::endian::native == std::endian::little, "the field's first byte is the word's lowest");
    std::uint64_t word = 0;
    std::memcpy(&word, field.data(), kFieldWidth);
    constexpr std::uint64_t kSpaces = 0x202020202020u;
    constexpr std::uint64_t kHigh = 0xF0F0F0F0F0F0u;
    constexpr std::uint64_t kZeros = 0x303030303030u;
    const std::uint64_t notSpace = word ^ kSpaces;
    if (notSpace == 0) {
        return std::nullopt;
    }
    const auto leading = static_cast<unsigned>(__builtin_ctzll(notSpace)) / 8; // little-endian: first byte lowest
    const std::uint64_t leadingMask = leading == 0 ? 0 : (std::uint64_t{1} << (8 * leading)) - 1;
    word |= leadingMask & 0x101010101010u; // a leading space reads as '0'
    if ((word & kHigh) != kZeros || ((word + 0x060606060606u) & kHigh) != kZeros) {
        return std::nullopt;
    }
    int value = 0;
    for (std::size_t i = 0; i < kFieldWidth; ++i) {
        value = value * 10 + static_cast<int>(word >> (8 * i) & 0x0F);
    }
    return value;
}

long long RecordLengthFor(const PartSizes& sizes) {
    long long length = kSizeEntriesLength;
    for (std::size_t index : kPieceOrder) {
        length += sizes[index];
    }
    return length;
}

bool SizesConsistent(const PartSizes& sizes) {
    return std::all_of(sizes.begin(), sizes.end(), [](int v) { return FitsField(v); }) &&
           RecordLengthFor(sizes) == sizes[kRecordLength];
}

std::optional<PartSizes> ParseSizeBlock(std::string_view record) {
    if (record.size() < kSizeBlockLength) {
        return std::nullopt;
    }
    PartSizes sizes{};
    for (std::size_t k = 0; k < sizes.size(); ++k) {
        const std::optional<int> value = ParseField(record.substr(k * kFieldWidth, kFieldWidth));
        if (!value) {
            return std::nullopt;
        }
        sizes[k] = *value;
    }
    return sizes;
}

std::string FormatSizeBlock(const PartSizes& sizes) {
    std::string block;
    block.reserve(kSizeBlockLength);
    for (int value : sizes) {
        block += FormatField(value);
    }
    return block;
}

PartSizes SizesFor(const RecordPieces& pieces, int partCount, int readMark) {
    auto length = [](std::string_view piece) {
        return static_cast<int>(std::min<std::size_t>(piece.size(), kFieldMax + 1));
    };
    PartSizes sizes{};
    sizes[kSubjectLength] = length(pieces.subject);
    sizes[kSenderLength] = length(pieces.sender);
    sizes[kDateLength] = length(pieces.date);
    sizes[kPartCount] = partCount;
    sizes[kReadMark] = readMark;
    sizes[kHeaderLength] = length(pieces.header);
    sizes[kBodyLength] = length(pieces.body);
    for (std::size_t j = 0; j < pieces.attachments.size(); ++j) {
        sizes[kAttachment1Length + j] = length(pieces.attachments[j]);
    }
    sizes[kRecordLength] = RecordLengthEntry(sizes);
    return sizes;
}

int RecordLengthEntry(const PartSizes& sizes) {
    return static_cast<int>(std::min<long long>(RecordLengthFor(sizes), kFieldMax + 1));
}

std::string PartHeader(std::string_view name, std::string_view encoding) {
    std::string header;
    header.reserve(kPartHeaderSize);
    if (name.size() <= kPartNameSize) {
        header.assign(name);
    } else {
        // The middle goes: the start of the name and its extension stay.
        const std::string_view extension = NameExtension(name);
        const NameCut cut = CutName(name.substr(0, name.size() - extension.size()), kPartNameSize - extension.size());
        header.assign(name.substr(0, cut.length));
        if (cut.closeRun) {
            header.append("\x1b(B");
        }
        header.append(extension);
    }
    header.resize(kPartNameSize, ' ');
    header.append(kCrLf);
    header.append(encoding.substr(0, kPartEncodingSize));
    header.resize(kPartHeaderSize, ' ');
    return header;
}

std::string_view PartRecordName(std::string_view partRecord) {
    return TrimRight(partRecord.substr(0, std::min(partRecord.size(), kPartNameSize)), " ");
}

std::string_view PartRecordEncoding(std::string_view partRecord) {
    if (partRecord.size() <= kPartEncodingStart) {
        return {};
    }
    return TrimRight(partRecord.substr(kPartEncodingStart, kPartEncodingSize), " \r\n");
}

std::string_view PartRecordContent(std::string_view partRecord) {
    return partRecord.size() <= kPartHeaderSize ? std::string_view() : partRecord.substr(kPartHeaderSize);
}

} // namespace tegalo
