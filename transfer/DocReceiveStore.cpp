#include "transfer/DocReceiveStore.h"

namespace tegalo {

StoreResult DocReceiveStore::AddReceived(const PartSizes& sizes, std::string_view recordText) {
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

} // namespace tegalo
