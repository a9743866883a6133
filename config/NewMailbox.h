// Setting up a new, empty mailbox whose settings file holds the default
// account settings.
#pragma once

#include "config/AccountSettings.h"
#include "store/Mailbox.h"

#include <string_view>

namespace tegalo {

static_assert(kMailboxSettingsFile == kSettingsFileName);

// CreateMailbox (store/Mailbox.h) with "comconfig" holding the settings of a
// new account.
[[nodiscard]] inline StoreStatus CreateMailbox(std::string_view dir, StoreUi& ui) {
    return CreateMailbox(dir, FormatAccountSettings(AccountSettings{}), ui);
}

} // namespace tegalo
