#include "store/Record.h"

#include <algorithm>

namespace tegalo {

namespace {

constexpr std::array<std::string_view, 5> kFolderNames = {"", "recv", "reserv", "sent", "recycle"};

// The piece lengths in the order the pieces stand in the text.
constexpr std::array<std::size_t, 8> kPieceOrder = {
    kSubjectLength, kSenderLength, kDateLength, kHeaderLength,
    kBodyLength, kAttachment1Length, kAttachment2Length, kAttachment3Length};

} // namespace

std::string_view FolderName(int folder) {
    if (folder < kReceived || folder > kDeleted) {
        return {};
    }
    return kFolderNames[static_cast<std::size_t>(folder)];
}

int FolderFromName(std::string_view name) {
    if (name.starts_with(".\\") || name.starts_with("./")) {
        name.remove_prefix(2);
    }
    for (int folder = kReceived; folder <= kDeleted; ++folder) {
        if (name == FolderName(folder)) {
            return folder;
        }
    }
    return kNoFolder;
}

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
    std::size_t i = 0;
    while (i < field.size() && field[i] == ' ') {
        ++i;
    }
    if (i == field.size()) {
        return std::nullopt;
    }
    int value = 0;
    for (; i < field.size(); ++i) {
        const char c = field[i];
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + (c - '0');
    }
    return value;
}

long long RecordLengthFor(const PartSizes& sizes) {
    long long length = 60;
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

std::optional<RecordPieces> SplitRecord(std::string_view record) {
    const std::optional<PartSizes> sizes = ParseSizeBlock(record);
    if (!sizes || !SizesConsistent(*sizes) ||
        record.size() != kFieldWidth + static_cast<std::size_t>((*sizes)[kRecordLength])) {
        return std::nullopt;
    }
    std::array<std::string_view, kPieceOrder.size()> cut;
    std::size_t offset = kSizeBlockLength;
    for (std::size_t i = 0; i < kPieceOrder.size(); ++i) {
        const auto length = static_cast<std::size_t>((*sizes)[kPieceOrder[i]]);
        cut[i] = record.substr(offset, length);
        offset += length;
    }
    return RecordPieces{cut[0], cut[1], cut[2], cut[3], cut[4], {cut[5], cut[6], cut[7]}};
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
    sizes[kRecordLength] = static_cast<int>(std::min<long long>(RecordLengthFor(sizes), kFieldMax + 1));
    return sizes;
}

std::string JoinPieces(const RecordPieces& pieces) {
    std::string text;
    text.reserve(pieces.subject.size() + pieces.sender.size() + pieces.date.size() +
                 pieces.header.size() + pieces.body.size() + pieces.attachments[0].size() +
                 pieces.attachments[1].size() + pieces.attachments[2].size());
    text += pieces.subject;
    text += pieces.sender;
    text += pieces.date;
    text += pieces.header;
    text += pieces.body;
    for (std::string_view attachment : pieces.attachments) {
        text += attachment;
    }
    return text;
}

std::string BuildRecord(const PartSizes& sizes, std::string_view text) {
    std::string record;
    record.reserve(kSizeBlockLength + text.size());
    record += FormatSizeBlock(sizes);
    record += text;
    return record;
}

RecordProblem CheckRecord(const PartSizes& sizes, std::string_view text) {
    for (int value : sizes) {
        if (value > kFieldMax) {
            return RecordProblem::kTooLarge;
        }
        if (value < 0) {
            return RecordProblem::kSizeMismatch;
        }
    }
    const long long length = RecordLengthFor(sizes);
    if (length > kFieldMax) {
        return RecordProblem::kTooLarge;
    }
    if (length != sizes[kRecordLength] ||
        text.size() != static_cast<std::size_t>(sizes[kRecordLength]) - (kSizeBlockLength - kFieldWidth)) {
        return RecordProblem::kSizeMismatch;
    }
    return RecordProblem::kNone;
}

RecordProblem CheckWholeRecord(std::string_view record) {
    const std::optional<PartSizes> sizes = ParseSizeBlock(record);
    if (!sizes) {
        return RecordProblem::kSizeMismatch;
    }
    return CheckRecord(*sizes, record.substr(kSizeBlockLength));
}

std::string WithReadMark(std::string_view record) {
    std::string marked(record);
    if (marked.size() >= kSizeBlockLength) {
        marked[kReadMarkOffset] = '1';
    }
    return marked;
}

} // namespace tegalo
