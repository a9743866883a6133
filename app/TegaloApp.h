// Start-up of the window: the mailbox, the document and the main window.
#pragma once

#include <QString>

#include <memory>

namespace tegalo {

class CMainFrame;
class CTegaloDoc;
class MailSessions;
class QtStoreUi;

class CTegaloApp {
public:
    CTegaloApp();
    ~CTegaloApp();

    // Opens the mailbox in `dir` (offering to create one when it has no
    // received folder) and shows the main window. False when the program
    // is to end.
    bool InitInstance(const QString& dir);

    CTegaloDoc& doc() { return *doc_; }
    CMainFrame* mainFrame() const { return frame_.get(); }
    // The mail sessions of the window (after InitInstance).
    MailSessions* sessions() const { return sessions_.get(); }

private:
    std::unique_ptr<QtStoreUi> ui_;
    std::unique_ptr<CTegaloDoc> doc_;
    std::unique_ptr<MailSessions> sessions_;
    std::unique_ptr<CMainFrame> frame_;
};

} // namespace tegalo
