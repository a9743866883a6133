#include "gui/QtStoreUi.h"

#include "gui/Prompter.h"
#include "gui/QtText.h"

#include <QtGlobal>

#include <vector>

namespace tegalo {

namespace {

bool deferring = false;
std::vector<std::string> deferred;

} // namespace

void QtStoreUi::Message(std::string_view sjisText) {
    if (deferring) {
        Defer(std::string(sjisText));
        return;
    }
    Prompter().Message(parent, FromSjis(sjisText));
}

void QtStoreUi::Defer(std::string sjisText) {
    deferred.push_back(std::move(sjisText));
}

void QtStoreUi::SetDeferring(bool on) {
    deferring = on;
}

void QtStoreUi::ShowDeferred(QWidget* owner) {
    std::vector<std::string> texts;
    texts.swap(deferred);
    for (const std::string& text : texts) {
        Prompter().Message(owner, FromSjis(text));
    }
}

void QtStoreUi::Trace(std::string_view line) {
    qDebug("%.*s", static_cast<int>(line.size()), line.data());
}

} // namespace tegalo
