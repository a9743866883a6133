// Qt's own texts (the buttons of message boxes, the file and print dialogs,
// the edit menus) in Japanese, like the rest of the program.
#pragma once

#include <QString>

class QCoreApplication;

namespace tegalo {

// Installs Qt's translations from its translations directory: Japanese
// first, and the system locale's for any text the Japanese ones lack. The
// program's own texts are not translated. Returns the names of the catalogs
// loaded (for instance "qtbase_ja"); none when the translations are not
// installed, and Qt's texts stay in English.
QStringList InstallQtTranslations(QCoreApplication& app);

} // namespace tegalo
