// Where the receive session puts each message: the received folder. The
// program implements this with the mail store; tests with a fake.
#pragma once

#include "store/Record.h"

#include <string>
#include <string_view>
#include <vector>

namespace tegalo {

enum class StoreResult {
    Stored,      // appended to the received folder
    TooLarge,    // refused: the record does not fit the folder format
    FolderFull,  // refused: the folder holds as many records as it can
    WriteFailed, // the folder file could not be written; the folder is as before
};

class ReceiveStore {
public:
    virtual ~ReceiveStore() = default;

    // Appends one message to the received folder: `recordText` is the pieces
    // one after the other, `sizes` (PartSizes, store/Record.h) divides them. On any result but Stored the
    // folder (file and list) must be as it was before the call.
    [[nodiscard]] virtual StoreResult AddReceived(const PartSizes& sizes, std::string_view recordText) = 0;

    // True when the store keeps each message as the server sent it beside
    // its record (AddReceivedWithOriginal): then a message whose record
    // holds less than the message (attachments left out, a text cut to fit,
    // NUL bytes taken out) is still stored whole and may leave the server.
    virtual bool KeepsOriginals() const { return false; }
    // AddReceived that also keeps `original`, the message text as the server
    // sent it (dot-unstuffed, without the CR LF of its last line, as the
    // session has it). Only called when KeepsOriginals().
    [[nodiscard]] virtual StoreResult AddReceivedWithOriginal(const PartSizes& sizes, std::string_view recordText,
                                                              std::string_view original) {
        static_cast<void>(original);
        return AddReceived(sizes, recordText);
    }

    // Makes every message stored so far durable (on the disk). The session
    // calls it before it deletes anything from the server, and when it ends.
    // False when that failed: then nothing may be deleted.
    [[nodiscard]] virtual bool Commit() { return true; }

    // Commit that also puts each file `companion` + ".pending" of the
    // mailbox in place of `companion` at the moment the messages become
    // durable: a crash leaves all as before or all as after. Only called
    // when TakesCompanion().
    virtual bool TakesCompanion() const { return false; }
    [[nodiscard]] virtual bool CommitWith(const std::vector<std::string>& companions) {
        static_cast<void>(companions);
        return false;
    }
};

} // namespace tegalo
