#include "transfer/DocReceiveStore.h"

namespace tegalo {

StoreResult DocReceiveStore::AddReceived(const PartSizes& sizes, std::string_view recordText) {
    if (!batch_) {
        doc_.BeginBatch("recv");
        batch_ = true;
    }
    switch (doc_.AddReceived(sizes, recordText, "recv")) {
    case StoreStatus::kOk:
        return StoreResult::Stored;
    case StoreStatus::kLimitExceeded:
        return StoreResult::FolderFull;
    case StoreStatus::kBadRecord:
        return StoreResult::TooLarge;
    default:
        return StoreResult::WriteFailed;
    }
}

bool DocReceiveStore::Commit() {
    batch_ = false;
    return doc_.CommitBatch() == StoreStatus::kOk;
}

bool DocReceiveStore::CommitWith(const std::vector<std::string>& companions) {
    if (!batch_) {
        doc_.BeginBatch("recv"); // nothing appended: the companions alone
    }
    batch_ = false;
    return doc_.CommitBatch(companions) == StoreStatus::kOk;
}

} // namespace tegalo
