// The waiting and sent folders of the mail store, as the send session sees
// them. Core code: no Qt.
#pragma once

#include "store/TegaloDoc.h"
#include "transfer/SendStore.h"

namespace tegalo {

class DocSendStore final : public SendStore {
public:
    explicit DocSendStore(CTegaloDoc& doc) : doc_(doc) {}

    int CountWaiting() override;
    // Goes through the document's PrepareSend.
    [[nodiscard]] StoreStatus PrepareWaiting(int index, WaitingMessage& waiting) override;
    // Goes through the document's FileSentCopy into "sent". A message too
    // large for a record is filed as SentCopyParts leaves it.
    [[nodiscard]] StoreStatus FileSent(const PartSizes& sizes, std::string_view header,
                                       const std::vector<std::string>& bodyParts,
                                       std::string_view waitingRecord) override;
    // Notes the record as sent (the document's NoteSent); it leaves the
    // waiting folder in RemoveSentWaiting, together with the others.
    [[nodiscard]] StoreStatus RemoveWaiting(std::string_view record) override;
    // The document's RemoveNoted: one rewrite of the waiting folder.
    [[nodiscard]] StoreStatus RemoveSentWaiting() override;

private:
    // The waiting folder as its file holds it: the list shown when it is the
    // waiting folder, else read aside once and kept while the file stays as
    // it was. Returns 0 or errno.
    int ReadWaiting(const RecordList*& waiting);

    CTegaloDoc& doc_;
    RecordList aside_;
    bool asideRead_ = false;
};

// The parts of a sent copy that fits a record: `bodyParts` as they are
// when the record fits; otherwise the largest attachments keep their part
// header but lose their content, and then, if still needed, the text is cut,
// each loss noted at the end of the text (Shift_JIS).
std::vector<std::string> SentCopyParts(std::vector<std::string> bodyParts, const PartSizes& sizes,
                                       std::string_view header);

// True when two whole records are the same apart from their read marks.
bool SameRecordButReadMark(std::string_view a, std::string_view b);

} // namespace tegalo
