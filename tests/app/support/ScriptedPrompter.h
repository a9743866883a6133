// A prompter for GUI tests: it records every message box and answers the
// questions from a queue, instead of showing anything.
#pragma once

#include "gui/Prompter.h"

#include <QPrinter>
#include <QQueue>
#include <QString>
#include <QStringList>

#include <memory>

namespace tegalo::testing_support {

class ScriptedPrompter : public CPrompter {
public:
    ScriptedPrompter() { SetPrompter(this); }
    ~ScriptedPrompter() override { SetPrompter(nullptr); }

    void Message(QWidget*, const QString& text) override { messages.append(text); }
    bool Confirm(QWidget*, const QString& text) override {
        confirmations.append(text);
        return answers.isEmpty() ? false : answers.dequeue();
    }
    bool Ask(QWidget*, const QString& text) override {
        questions.append(text);
        return answers.isEmpty() ? false : answers.dequeue();
    }
    bool OpenWithDesktop(const QString& path) override {
        opened.append(path);
        return openSucceeds;
    }
    std::unique_ptr<QPrinter> ChoosePrinter(QWidget*) override {
        ++printDialogs;
        if (pdfPath.isEmpty()) {
            return nullptr;
        }
        auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
        printer->setOutputFormat(QPrinter::PdfFormat);
        printer->setOutputFileName(pdfPath);
        return printer;
    }
    QString ChooseFileToOpen(QWidget*, const QStringList& filters) override {
        fileFilters = filters;
        return filesToOpen.isEmpty() ? QString() : filesToOpen.dequeue();
    }

    QString ChooseFileToSave(QWidget*, const QString& suggested, const QStringList& filters) override {
        suggestedSaveNames.append(suggested);
        fileFilters = filters;
        return filesToSave.isEmpty() ? QString() : filesToSave.dequeue();
    }
    int Choose(QWidget*, const QString& text, const QStringList& buttons) override {
        choices.append(text);
        choiceButtons = buttons;
        return choiceAnswers.isEmpty() ? 0 : choiceAnswers.dequeue();
    }
    bool HasPrinter() override { return hasPrinter; }

    QString LastMessage() const { return messages.isEmpty() ? QString() : messages.last(); }

    QStringList messages;       // every OK message box, in order
    QStringList confirmations;  // every OK/Cancel question
    QStringList questions;      // every Yes/No question
    QQueue<bool> answers;       // answers to Confirm and Ask, in order (false when empty)
    QStringList opened;         // paths handed to the desktop
    bool openSucceeds = true;
    QString pdfPath;            // where printing goes; empty cancels the print dialog
    int printDialogs = 0;
    QQueue<QString> filesToOpen;
    QStringList fileFilters;
    QQueue<QString> filesToSave;      // answers of the save dialog (empty: cancelled)
    QStringList suggestedSaveNames;   // the names the save dialog offered
    QStringList choices;              // every question with buttons of its own
    QStringList choiceButtons;        // the buttons of the last one
    QQueue<int> choiceAnswers;        // the index pressed, in order (-1 is Esc); the first button when empty
    bool hasPrinter = true;
};

} // namespace tegalo::testing_support
