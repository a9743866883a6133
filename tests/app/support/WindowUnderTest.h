// The program and its main window over a new test mailbox, for GUI tests: a
// test class derives from it, calls OpenWindowTest() in init() and
// CloseWindowTest() in cleanup().
#pragma once

#include "app/MainFrm.h"
#include "app/TegaloApp.h"
#include "ui/RecordListModel.h"
#include "ui/TegaloListView.h"

#include "support/ScriptedPrompter.h"
#include "support/TestMailbox.h"

#include <QByteArray>
#include <QDir>
#include <QTest>

#include <memory>

namespace tegalo::testing_support {

class WindowUnderTest {
protected:
    // A new mailbox, prompter and application. With `ownRuntimeDir` the run
    // also gets an XDG_RUNTIME_DIR inside the mailbox, so attachment copies
    // stay within the test.
    void OpenWindowTest(bool ownRuntimeDir = false) {
        box = std::make_unique<TestMailbox>();
        prompter = std::make_unique<ScriptedPrompter>();
        app = std::make_unique<CTegaloApp>();
        if (ownRuntimeDir) {
            qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString(box->Dir() + "run"));
            QDir().mkpath(box->QDir() + QStringLiteral("/run"));
        }
    }
    void CloseWindowTest() {
        app.reset();
        prompter.reset();
        box.reset();
    }

    CMainFrame& frame() { return *app->mainFrame(); }
    CTegaloListView& list() { return *frame().listView(); }
    RecordListModel& rows() { return *list().recordModel(); }
    // Opens the mailbox and shows the window.
    void Start() { QVERIFY(app->InitInstance(box->QDir())); }

    std::unique_ptr<TestMailbox> box;
    std::unique_ptr<ScriptedPrompter> prompter;
    std::unique_ptr<CTegaloApp> app;
};

} // namespace tegalo::testing_support
