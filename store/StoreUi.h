// What the store and the settings file tell the user, and the statuses their
// operations return. The core never shows anything: the program implements
// StoreUi with message boxes, the tests with a script.
#pragma once

#include <string_view>

namespace tegalo {

class StoreUi {
public:
    virtual ~StoreUi() = default;

    // A message box with an OK button. `sjisText` is Shift_JIS.
    virtual void Message(std::string_view sjisText) = 0;

    // A diagnostic line for developers (ends with "\n"); never shown to the
    // user. The default drops it.
    virtual void Trace(std::string_view line) { static_cast<void>(line); }
};

// What an operation of the store achieved. Every failure leaves the files
// and the document as they were before the call, unless its comment says
// otherwise.
enum class StoreStatus {
    kOk = 0,
    kDamaged,           // the folder loaded, but part of its file could not be read
    kCannotOpen,        // a file could not be opened (missing, a directory, no access)
    kCannotWrite,       // writing, syncing or renaming failed; the old file is untouched
    kChangedOnDisk,     // the file is no longer the one that was loaded
    kLimitExceeded,     // a count or a size would not fit its six characters
    kBadRecord,         // the size block does not describe the record text
    kBadIndex,          // no record has that index
    kInvalidArgument,   // a name, mode or call order the operation does not accept
    kDuplicateName,     // the address book already has an entry of that name
    kTooManyRecipients, // 100 or more commas in a recipient text
    kLocked,            // another Tegalo process uses the mailbox
    kUnfinishedChange,  // an interrupted change could not be completed or undone
    kAlreadyExists,     // a file that was to be created is already there
    kNotStarted,        // the document has no mailbox yet
};

// True for the statuses after which a folder is loaded: kOk and kDamaged.
constexpr bool Loaded(StoreStatus status) {
    return status == StoreStatus::kOk || status == StoreStatus::kDamaged;
}

} // namespace tegalo
