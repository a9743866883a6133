#include "app/WindowState.h"

#include <QHeaderView>
#include <QMainWindow>
#include <QSettings>
#include <QSplitter>
#include <QStandardPaths>
#include <QVariantList>

namespace tegalo {

namespace {

const QString kGeometry = QStringLiteral("window/geometry");
const QString kState = QStringLiteral("window/state");
const QString kSplitter = QStringLiteral("window/splitter");
const QString kColumns = QStringLiteral("list/columnWidths");

} // namespace

QString WindowStatePath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/Tegalo/window.ini");
}

bool RestoreWindowState(QMainWindow& window, QSplitter& splitter, QHeaderView* header) {
    QSettings settings(WindowStatePath(), QSettings::IniFormat);
    if (!settings.contains(kGeometry)) {
        return false;
    }
    window.restoreGeometry(settings.value(kGeometry).toByteArray());
    window.restoreState(settings.value(kState).toByteArray());
    splitter.restoreState(settings.value(kSplitter).toByteArray());
    const QVariantList widths = settings.value(kColumns).toList();
    if (header != nullptr && header->count() == widths.size()) {
        for (int i = 0; i < header->count(); ++i) {
            // A stretched column takes what the others leave.
            if (header->sectionResizeMode(i) != QHeaderView::Stretch && widths[i].toInt() > 0) {
                header->resizeSection(i, widths[i].toInt());
            }
        }
    }
    return true;
}

void SaveWindowState(const QMainWindow& window, const QSplitter& splitter, const QHeaderView* header) {
    QSettings settings(WindowStatePath(), QSettings::IniFormat);
    settings.setValue(kGeometry, window.saveGeometry());
    settings.setValue(kState, window.saveState());
    settings.setValue(kSplitter, splitter.saveState());
    if (header != nullptr && header->count() > 0) {
        QVariantList widths;
        for (int i = 0; i < header->count(); ++i) {
            widths.append(header->sectionSize(i));
        }
        settings.setValue(kColumns, widths);
    }
    settings.sync();
}

} // namespace tegalo
