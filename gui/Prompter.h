// The program's dialogs with the outside world: message boxes, the
// desktop's "open", the print and file dialogs. Windows ask through this
// interface so that tests can answer in their place.
#pragma once

#include <QString>
#include <QStringList>

#include <memory>

class QPrinter;
class QWidget;

namespace tegalo {

class CPrompter {
public:
    virtual ~CPrompter() = default;

    // A message box with an OK button.
    virtual void Message(QWidget* parent, const QString& text) = 0;
    // A message box with OK and Cancel; true for OK.
    virtual bool Confirm(QWidget* parent, const QString& text) = 0;
    // A question with Yes and No; true for Yes.
    virtual bool Ask(QWidget* parent, const QString& text) = 0;
    // Hands a file to the desktop's "open". False when that failed.
    virtual bool OpenWithDesktop(const QString& path) = 0;
    // The print dialog; null when the user cancelled it.
    virtual std::unique_ptr<QPrinter> ChoosePrinter(QWidget* parent) = 0;
    // The file-open dialog with the given filters; empty when cancelled.
    virtual QString ChooseFileToOpen(QWidget* parent, const QStringList& filters) = 0;

    // The file-save dialog offering `suggested`; empty when cancelled. The
    // base answers "cancelled".
    virtual QString ChooseFileToSave(QWidget* parent, const QString& suggested, const QStringList& filters);
    // A question with one button per entry of `buttons`; the index of the
    // one pressed, -1 for Esc or the close box (the base's answer).
    virtual int Choose(QWidget* parent, const QString& text, const QStringList& buttons);
    // True when the system has a printer to offer.
    virtual bool HasPrinter();
};

// The prompter in use: the real dialogs unless a test installed another.
CPrompter& Prompter();

// Installs `prompter` (not owned) in place of the real dialogs; null goes
// back to the real ones.
void SetPrompter(CPrompter* prompter);

} // namespace tegalo
