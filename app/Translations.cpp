#include "app/Translations.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QLocale>
#include <QStringList>
#include <QTranslator>

namespace tegalo {

namespace {

// Loads Qt's base catalog (or, failing that, the "qt" one that pulls it in) for
// `locale` into a translator owned by `app`; null when there is none.
QTranslator* LoadCatalog(QCoreApplication& app, const QLocale& locale) {
    const QString directory = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    auto* translator = new QTranslator(&app);
    for (const QString& catalog : {QStringLiteral("qtbase"), QStringLiteral("qt")}) {
        if (translator->load(locale, catalog, QStringLiteral("_"), directory)) {
            return translator;
        }
    }
    delete translator;
    return nullptr;
}

} // namespace

QStringList InstallQtTranslations(QCoreApplication& app) {
    QStringList loaded;
    const QLocale japanese(QLocale::Japanese, QLocale::Japan);
    const QLocale system = QLocale::system();
    // The translator installed last is asked first.
    if (system.language() != QLocale::Japanese && system.language() != QLocale::C &&
        system.language() != QLocale::English) {
        if (QTranslator* t = LoadCatalog(app, system); t && QCoreApplication::installTranslator(t)) {
            loaded << QFileInfo(t->filePath()).completeBaseName();
        }
    }
    if (QTranslator* t = LoadCatalog(app, japanese); t && QCoreApplication::installTranslator(t)) {
        loaded << QFileInfo(t->filePath()).completeBaseName();
    }
    return loaded;
}

} // namespace tegalo
