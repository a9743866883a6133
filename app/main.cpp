// tegalo-window [--dir DIR]: the program with its window, started by
// `tegalo` when the command line asks for no command without a window.
// It runs those commands too, should it be started with one.
#include "app/TegaloApp.h"
#include "app/Translations.h"
#include "cli/Headless.h"

#include <QApplication>
#include <QCoreApplication>
#include <QTextStream>

int main(int argc, char** argv) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i) {
        arguments << QString::fromLocal8Bit(argv[i]);
    }
    QString error;
    const std::optional<tegalo::StartOptions> options = tegalo::ParseStartOptions(arguments, &error);
    if (!options) {
        QTextStream(stderr) << error << '\n' << tegalo::kUsage;
        return 2;
    }
    if (options->WithoutWindow()) {
        QCoreApplication app(argc, argv);
        return tegalo::RunWithoutWindow(*options);
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tegalo"));
    tegalo::InstallQtTranslations(app);
    tegalo::CTegaloApp tegaloApp;
    if (!tegaloApp.InitInstance(options->dir)) {
        return 1;
    }
    return QApplication::exec();
}
