// What the send session needs of the mail store: the waiting folder to send
// from and the sent folder to file copies in. The program implements it
// with the document (DocSendStore), tests with a fake.
#pragma once

#include "store/Record.h"
#include "store/StoreUi.h"

#include <string>
#include <string_view>
#include <vector>

namespace tegalo {

// One message ready to go, in the forms the document keeps.
struct OutgoingMessage {
    // Entry 0 the number of recipients minus one, 1 the subject, 2 the date
    // piece, then one recipient entry each ("name <address>", or the address).
    std::vector<std::string> sendEnvelope;
    // Entry 0 the number of attachments, 1 the text or the whole text part,
    // 2 to 4 the attachment parts, already encoded.
    std::vector<std::string> bodyParts;
    // The recipients as typed: the To list and, after ",\r\nCc: ", the Cc list.
    std::string recipientText;
};

// A message of the waiting folder, with the record it was read from so that
// the record itself can be found again once the message was accepted.
struct WaitingMessage {
    OutgoingMessage message;
    std::string record; // the whole record: size block and text
};

class SendStore {
public:
    virtual ~SendStore() = default;

    // The number of messages in the waiting folder, or -1 when it cannot be
    // read (the store told the user why).
    virtual int CountWaiting() = 0;

    // Reads waiting message `index` (from 0, in folder order) into `waiting`.
    // On failure `waiting` is unspecified and the folder is unchanged.
    [[nodiscard]] virtual StoreStatus PrepareWaiting(int index, WaitingMessage& waiting) = 0;

    // Appends the copy of a sent message to the sent folder: `sizes` carries
    // entries 1, 2, 3 and 6, `header` is subject, sender piece, date piece and
    // header block one after the other, `bodyParts` the parts as sent.
    // `waitingRecord` is the waiting record the message was sent from, already
    // passed to RemoveWaiting, or empty for a composed message.
    [[nodiscard]] virtual StoreStatus FileSent(const PartSizes& sizes, std::string_view header,
                                               const std::vector<std::string>& bodyParts,
                                               std::string_view waitingRecord) = 0;

    // Removes from the waiting folder the record that is `record` (its read
    // mark aside), wherever it stands now, at once or by the latest in
    // RemoveSentWaiting. kBadIndex when no record is. Called right after the
    // server accepted the message, before its copy is filed: once it
    // returned kOk, the message is never sent again, whatever happens next.
    [[nodiscard]] virtual StoreStatus RemoveWaiting(std::string_view record) = 0;

    // The session ended: whatever RemoveWaiting left for later leaves now.
    [[nodiscard]] virtual StoreStatus RemoveSentWaiting() { return StoreStatus::kOk; }
};

} // namespace tegalo
