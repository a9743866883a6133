#include "transfer/DocReceiveStore.h"

namespace tegalo {

namespace {

StoreResult ResultOf(StoreStatus status) {
    switch (status) {
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

} // namespace

StoreResult DocReceiveStore::AddReceived(const PartSizes& sizes, std::string_view recordText) {
    if (!batch_) {
        doc_.BeginBatch("recv");
        batch_ = true;
    }
    return ResultOf(doc_.AddReceived(sizes, recordText, "recv"));
}

StoreResult DocReceiveStore::AddReceivedWithOriginal(const PartSizes& sizes, std::string_view recordText,
                                                     std::string_view original) {
    if (!batch_) {
        doc_.BeginBatch("recv");
        batch_ = true;
    }
    // The session hands the text without the line end of its last line;
    // the kept original is the message as it was delivered.
    return ResultOf(doc_.AddReceived(sizes, recordText, "recv", original, kCrLf));
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
