#include "gui/Prompter.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPrinter>
#include <QUrl>

namespace tegalo {

namespace {

class QtPrompter final : public CPrompter {
public:
    void Message(QWidget* parent, const QString& text) override {
        QMessageBox::information(parent, QStringLiteral("Tegalo"), text, QMessageBox::Ok);
    }

    bool Confirm(QWidget* parent, const QString& text) override {
        return QMessageBox::question(parent, QStringLiteral("Tegalo"), text, QMessageBox::Ok | QMessageBox::Cancel,
                                     QMessageBox::Cancel) == QMessageBox::Ok;
    }

    bool Ask(QWidget* parent, const QString& text) override {
        return QMessageBox::question(parent, QStringLiteral("Tegalo"), text, QMessageBox::Yes | QMessageBox::No,
                                     QMessageBox::No) == QMessageBox::Yes;
    }

    bool OpenWithDesktop(const QString& path) override {
        // The desktop's opener runs on its own, so a missing file would only
        // fail there, unseen: check it here.
        if (!QFileInfo(path).isFile()) {
            return false;
        }
        return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
    }

    std::unique_ptr<QPrinter> ChoosePrinter(QWidget* parent) override {
        auto printer = std::make_unique<QPrinter>();
        QPrintDialog dialog(printer.get(), parent);
        dialog.setOption(QAbstractPrintDialog::PrintToFile, false);
        dialog.setOption(QAbstractPrintDialog::PrintSelection, false);
        dialog.setOption(QAbstractPrintDialog::PrintPageRange, false);
        if (dialog.exec() != QDialog::Accepted) {
            return nullptr;
        }
        return printer;
    }

    QString ChooseFileToOpen(QWidget* parent, const QStringList& filters) override {
        return QFileDialog::getOpenFileName(parent, QString(), QString(), filters.join(QStringLiteral(";;")));
    }
};

QtPrompter realPrompter;
CPrompter* current = nullptr;

} // namespace

CPrompter& Prompter() {
    return current ? *current : realPrompter;
}

void SetPrompter(CPrompter* prompter) {
    current = prompter;
}

} // namespace tegalo
