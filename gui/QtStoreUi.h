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

    // The window that owns the message boxes (may stay null).
    QWidget* parent = nullptr;

    // While a mail session runs, message boxes wait: a modal box would run a
    // nested event loop in which the session could step again underneath
    // it. Deferred texts are shown by ShowDeferred, in order.
    static void Defer(std::string sjisText);
    static void SetDeferring(bool deferring);
    static void ShowDeferred(QWidget* parent);
};

} // namespace tegalo
