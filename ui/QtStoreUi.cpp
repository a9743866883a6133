#include "ui/QtStoreUi.h"

#include "ui/Prompter.h"
#include "ui/QtText.h"

#include <QtGlobal>

namespace tegalo {

void QtStoreUi::Message(std::string_view sjisText) {
    Prompter().Message(parent, FromSjis(sjisText));
}

void QtStoreUi::Trace(std::string_view line) {
    qDebug("%.*s", static_cast<int>(line.size()), line.data());
}

void QtStoreUi::RecipientsSet(std::string_view recipientText, int recipientCount) {
    if (onRecipients) {
        onRecipients(recipientText, recipientCount);
    }
}

} // namespace tegalo
