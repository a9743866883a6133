#include "store/Record.h"

#include <algorithm>

namespace tegalo {

namespace {

constexpr std::array<std::string_view, 5> kFolderNames = {"", "recv", "reserv", "sent", "recycle"};

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
