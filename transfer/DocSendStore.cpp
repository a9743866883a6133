#include "transfer/DocSendStore.h"

#include "store/FolderFile.h"

#include <utility>

namespace tegalo {

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
    const LoadResult waiting = doc_.CountWaiting("reserv");
    return Loaded(waiting.status) ? waiting.count : -1;
}

int DocSendStore::ReadWaiting(RecordList& aside, const RecordList*& waiting) const {
    if (doc_.CurrentFolder() == kWaiting) {
        waiting = &doc_.GetRecordList();
        return 0;
    }
    waiting = &aside;
    return ReadFolderFile(doc_.BaseDir() + std::string(FolderName(kWaiting)), kWaiting, aside);
}

StoreStatus DocSendStore::PrepareWaiting(int index, WaitingMessage& waiting) {
    RecordList aside;
    const RecordList* list = nullptr;
    if (ReadWaiting(aside, list) != 0) {
        return StoreStatus::kCannotOpen;
    }
    if (index < 0 || index >= list->Count()) {
        return StoreStatus::kBadIndex;
    }
    const std::string& record = (*list)[static_cast<std::size_t>(index)];
    const std::optional<RecordPieces> pieces = SplitRecord(record);
    if (!pieces) {
        return StoreStatus::kBadRecord;
    }
    waiting.record = record;
    waiting.message.recipientText = RecipientTextFromHeader(pieces->header);

    PreparedSend prepared = doc_.PrepareSend(index, "reserv");
    if (prepared.status != StoreStatus::kOk) {
        return prepared.status;
    }
    waiting.message.sendEnvelope = std::move(prepared.sendEnvelope);
    waiting.message.bodyParts = std::move(prepared.bodyParts);
    return StoreStatus::kOk;
}

StoreStatus DocSendStore::FileSent(const PartSizes& sizes, std::string_view header,
                                   const std::vector<std::string>& bodyParts) {
    return doc_.StoreComposedMessage(bodyParts, sizes, header, "sent");
}

StoreStatus DocSendStore::RemoveWaiting(std::string_view record) {
    RecordList aside;
    const RecordList* list = nullptr;
    if (ReadWaiting(aside, list) != 0) {
        return StoreStatus::kCannotOpen;
    }
    for (int i = 0; i < list->Count(); ++i) {
        if (SameRecordButReadMark((*list)[static_cast<std::size_t>(i)], record)) {
            return doc_.DelFileData(i, "reserv");
        }
    }
    return StoreStatus::kBadIndex;
}

} // namespace tegalo
