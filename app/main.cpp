// tegalo-window [--dir DIR]: the program with its window, started by
// `tegalo` when the command line asks for no command without a window.
// It runs those commands too, should it be started with one.
#include "app/TegaloApp.h"
#include "app/Translations.h"
#include "cli/Headless.h"

#include <QApplication>

int main(int argc, char** argv) {
    tegalo::StartOptions options;
    if (const std::optional<int> status = tegalo::RunUnlessWindow(argc, argv, options)) {
        return *status;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tegalo"));
    tegalo::InstallQtTranslations(app);
    tegalo::CTegaloApp tegaloApp;
    if (!tegaloApp.InitInstance(options.dir)) {
        return 1;
    }
    return QApplication::exec();
}
