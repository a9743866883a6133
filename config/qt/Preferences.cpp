#include "config/qt/Preferences.h"

#include <QSettings>

namespace tegalo::preferences {

namespace {

QString NotifyKey() {
    return QStringLiteral("notify/newMail");
}

} // namespace

bool NotifyNewMail() {
    return QSettings().value(NotifyKey(), true).toBool();
}

void SetNotifyNewMail(bool on) {
    QSettings settings;
    settings.setValue(NotifyKey(), on);
    settings.sync();
}

} // namespace tegalo::preferences
