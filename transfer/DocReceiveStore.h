// The received folder of the mail store, as the receive session sees it.
#pragma once

#include "store/TegaloDoc.h"
#include "transfer/ReceiveStore.h"

namespace tegalo {

class DocReceiveStore final : public ReceiveStore {
public:
    explicit DocReceiveStore(CTegaloDoc& doc) : doc_(doc) {}

    // Messages of a session are appended as one batch of the store.
    [[nodiscard]] StoreResult AddReceived(const PartSizes& sizes, std::string_view recordText) override;
    bool KeepsOriginals() const override { return true; }
    [[nodiscard]] StoreResult AddReceivedWithOriginal(const PartSizes& sizes, std::string_view recordText,
                                                      std::string_view original) override;
    [[nodiscard]] bool Commit() override;
    bool TakesCompanion() const override { return true; }
    [[nodiscard]] bool CommitWith(const std::vector<std::string>& companions) override;

private:
    CTegaloDoc& doc_;
    bool batch_ = false;
};

} // namespace tegalo
