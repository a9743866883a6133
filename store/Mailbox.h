// Setting up a new, empty mailbox. The store never creates a missing file on
// its own; this is the one operation that does, on request.
#pragma once

#include "store/StoreUi.h"

#include <array>
#include <string_view>

namespace tegalo {

// The files of a mailbox, all in one directory.
inline constexpr std::array<std::string_view, 7> kMailboxFiles = {
    "recv", "reserv", "sent", "recycle", "comconfig", "addr", "addr.txt"};

// The name of the settings file among kMailboxFiles.
inline constexpr std::string_view kMailboxSettingsFile = kMailboxFiles[4];

// Creates a new mailbox in `dir` (made if missing, one level): the four
// folder files as the count 0, "comconfig" holding `settingsText` (the
// settings file's text for the default settings; config/NewMailbox.h passes
// it), and an empty "addr" and "addr.txt", all readable by their owner only. Refuses
// (kAlreadyExists, with a message) when any of these files is already there,
// and then creates nothing; a failure half way removes what it created.
[[nodiscard]] StoreStatus CreateMailbox(std::string_view dir, std::string_view settingsText, StoreUi& ui);

} // namespace tegalo
