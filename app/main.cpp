// tegalo [--dir DIR] [--init | --receive | --send-waiting]
#include "app/TegaloApp.h"
#include "app/Translations.h"

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
        QTextStream(stderr) << error << "\nusage: tegalo [--dir DIR] [--init | --receive | --send-waiting]\n";
        return 2;
    }
    if (options->init) {
        return tegalo::CTegaloApp::CreateMailboxOnly(options->dir);
    }
    if (options->receive || options->sendWaiting) {
        QCoreApplication app(argc, argv);
        return tegalo::CTegaloApp::SessionWithoutWindow(options->dir, options->sendWaiting);
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
