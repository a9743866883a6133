// The store's messages shown as message boxes of the program.
#pragma once

#include "store/StoreUi.h"

#include <functional>
#include <string>

class QWidget;

namespace tegalo {

class QtStoreUi final : public StoreUi {
public:
    void Message(std::string_view sjisText) override;
    void Trace(std::string_view line) override;
    void RecipientsSet(std::string_view recipientText, int recipientCount) override;

    // The window that owns the message boxes (may stay null).
    QWidget* parent = nullptr;
    // Where the recipients of the message about to be sent go.
    std::function<void(std::string_view, int)> onRecipients;
};

} // namespace tegalo
