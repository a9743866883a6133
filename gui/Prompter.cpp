#include "gui/Prompter.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPrinter>
#include <QPrinterInfo>
#include <QPushButton>
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
        // Printing to a PDF file is always offered beside the printers.
        dialog.setOption(QAbstractPrintDialog::PrintToFile, true);
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

    QString ChooseFileToSave(QWidget* parent, const QString& suggested, const QStringList& filters) override {
        const QString start = QFileInfo(suggested).isRelative() ? QDir::home().filePath(suggested) : suggested;
        return QFileDialog::getSaveFileName(parent, QString(), start, filters.join(QStringLiteral(";;")));
    }

    int Choose(QWidget* parent, const QString& text, const QStringList& buttons) override {
        QMessageBox box(QMessageBox::Question, QStringLiteral("Tegalo"), text, QMessageBox::NoButton, parent);
        QList<QAbstractButton*> added;
        for (qsizetype i = 0; i < buttons.size(); ++i) {
            // The last button is the way back: Esc presses it.
            added.append(box.addButton(buttons[i], i + 1 == buttons.size() ? QMessageBox::RejectRole
                                                                           : QMessageBox::AcceptRole));
        }
        if (!added.isEmpty()) {
            box.setEscapeButton(added.last());
            box.setDefaultButton(qobject_cast<QPushButton*>(added.last()));
        }
        box.exec();
        return static_cast<int>(added.indexOf(box.clickedButton()));
    }
};

QtPrompter realPrompter;
CPrompter* current = nullptr;

} // namespace

QString CPrompter::ChooseFileToSave(QWidget*, const QString&, const QStringList&) {
    return QString();
}

int CPrompter::Choose(QWidget*, const QString&, const QStringList&) {
    return -1;
}

bool CPrompter::HasPrinter() {
    return !QPrinterInfo::availablePrinterNames().isEmpty();
}

CPrompter& Prompter() {
    return current ? *current : realPrompter;
}

void SetPrompter(CPrompter* prompter) {
    current = prompter;
}

} // namespace tegalo
