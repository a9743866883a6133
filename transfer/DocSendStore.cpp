#include "transfer/DocSendStore.h"

#include "mime/Outgoing.h"
#include "store/FolderFile.h"
#include "store/Record.h"
#include "text/jis.h"
#include "text/unicode.h"

#include <algorithm>
#include <cstdlib>
#include <utility>

namespace tegalo {

namespace {

using namespace tegalo::literals;

bool RecordFits(const std::vector<std::string>& parts, const PartSizes& sizes, std::string_view header) {
    const ComposedRecord record = AssembleComposedRecord(parts, sizes, header);
    return CheckRecord(record.sizes, record.text) != RecordProblem::kTooLarge;
}

// The parts with `note` added at the end of the text.
std::vector<std::string> WithNote(std::vector<std::string> parts, std::string_view note, bool multipart) {
    if (note.empty() || parts.size() < 2) {
        return parts;
    }
    std::string& text = parts[1];
    if (multipart && text.ends_with(kCrLf)) {
        text.resize(text.size() - kCrLf.size());
        text.append(kCrLf).append(note);
        text.append(kCrLf);
    } else {
        text.append(kCrLf).append(note);
    }
    return parts;
}

// The stored name of an attachment part, Shift_JIS.
std::string PartName(std::string_view part) {
    const std::size_t at = part.find("name=\"");
    if (at == std::string_view::npos) {
        return SjisLiteral(kUnnamedPartUtf8);
    }
    std::string_view name = part.substr(at + 6);
    return JisToSjis(name.substr(0, name.find('"')));
}

} // namespace

std::vector<std::string> SentCopyParts(std::vector<std::string> parts, const PartSizes& sizes,
                                       std::string_view header) {
    if (parts.size() < 2 || RecordFits(parts, sizes, header)) {
        return parts;
    }
    const int count = std::clamp(std::atoi(parts[0].c_str()), 0, 3);
    std::string note;
    std::vector<std::size_t> order;
    for (int i = 1; i <= count && static_cast<std::size_t>(i) + 1 < parts.size(); ++i) {
        order.push_back(static_cast<std::size_t>(i) + 1);
    }
    std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return parts[a].size() > parts[b].size(); });
    for (const std::size_t i : order) {
        const std::size_t blank = parts[i].find("\r\n\r\n");
        if (blank == std::string::npos) {
            continue;
        }
        const std::size_t dropped = parts[i].size() - blank - 4;
        note += "［添付ファイル「"_sjis + PartName(parts[i]) + "」（"_sjis + std::to_string(dropped) +
                " バイト）は大き過ぎるため、この控えには保存されていません］\r\n"_sjis;
        parts[i].resize(blank + 4);
        std::vector<std::string> candidate = WithNote(parts, note, count > 0);
        if (RecordFits(candidate, sizes, header)) {
            return candidate;
        }
    }
    // The text itself is too long: keep as much of it as fits.
    const std::string cutNote = "［本文が長過ぎるため、この控えには一部だけを保存しています］"_sjis;
    note += cutNote;
    std::vector<std::string> candidate = WithNote(parts, note, count > 0);
    const ComposedRecord record = AssembleComposedRecord(candidate, sizes, header);
    const long long over = static_cast<long long>(record.sizes[kRecordLength]) - kFieldMax;
    std::string& text = parts[1];
    const std::size_t end = count > 0 && text.ends_with(kCrLf) ? text.size() - kCrLf.size() : text.size();
    const std::size_t start = count > 0 ? text.find("\r\n\r\n") + 4 : 0;
    std::size_t keep = over > 0 && static_cast<long long>(end - start) > over ? end - start - static_cast<std::size_t>(over) : 0;
    // Cut on a character boundary.
    std::size_t boundary = 0;
    for (std::size_t i = start; i < start + keep;) {
        const std::size_t n = IsSjisLead(static_cast<unsigned char>(text[i])) ? 2 : 1;
        if (i + n > start + keep) {
            break;
        }
        i += n;
        boundary = i - start;
    }
    text.erase(start + boundary, end - start - boundary);
    return WithNote(parts, note, count > 0);
}

bool SameRecordButReadMark(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    if (a.size() <= kReadMarkOffset) {
        return a == b;
    }
    return a.substr(0, kReadMarkOffset) == b.substr(0, kReadMarkOffset) &&
           a.substr(kReadMarkOffset + 1) == b.substr(kReadMarkOffset + 1);
}

int DocSendStore::CountWaiting() {
    // Messages that a session before this one sent but could not take out.
    if (doc_.RemoveNoted() != StoreStatus::kOk) {
        return -1;
    }
    asideRead_ = false;
    const LoadResult waiting = doc_.CountWaiting("reserv");
    return Loaded(waiting.status) ? waiting.count : -1;
}

int DocSendStore::ReadWaiting(const RecordList*& waiting) {
    if (doc_.CurrentFolder() == kWaiting) {
        waiting = &doc_.GetRecordList();
        return 0;
    }
    waiting = &aside_;
    const std::string path = doc_.BaseDir() + std::string(FolderName(kWaiting));
    if (asideRead_ && UnchangedOnDisk(path, aside_)) {
        return 0;
    }
    asideRead_ = false;
    const int error = ReadFolderFile(path, kWaiting, aside_);
    asideRead_ = error == 0;
    return error;
}

StoreStatus DocSendStore::PrepareWaiting(int index, WaitingMessage& waiting) {
    const RecordList* list = nullptr;
    if (ReadWaiting(list) != 0) {
        return StoreStatus::kCannotOpen;
    }
    if (index < 0 || index >= list->Count()) {
        return StoreStatus::kBadIndex;
    }
    const std::string_view record = (*list)[static_cast<std::size_t>(index)];
    const std::optional<RecordPieces> pieces = SplitRecord(record);
    if (!pieces) {
        return StoreStatus::kBadRecord;
    }
    waiting.record = record;
    waiting.message.recipientText = RecipientTextFromHeader(pieces->header);

    PreparedSend prepared = doc_.PrepareWaitingRecord(record);
    if (prepared.status != StoreStatus::kOk) {
        return prepared.status;
    }
    waiting.message.sendEnvelope = std::move(prepared.sendEnvelope);
    waiting.message.bodyParts = std::move(prepared.bodyParts);
    return StoreStatus::kOk;
}

StoreStatus DocSendStore::FileSent(const PartSizes& sizes, std::string_view header,
                                   const std::vector<std::string>& bodyParts, std::string_view waitingRecord) {
    return doc_.FileSentCopy(SentCopyParts(bodyParts, sizes, header), sizes, header, waitingRecord);
}

StoreStatus DocSendStore::RemoveWaiting(std::string_view record) {
    return doc_.NoteSent(record);
}

StoreStatus DocSendStore::RemoveSentWaiting() {
    asideRead_ = false;
    aside_ = RecordList();
    return doc_.RemoveNoted();
}

} // namespace tegalo
