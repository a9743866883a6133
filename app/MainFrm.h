// The main window: menu, toolbar, status bar, and the splitter with the
// folder tree on the left and the message list on the right.
#pragma once

#include <QHash>
#include <QMainWindow>

class QAction;
class QLabel;
class QMessageBox;
class QProgressBar;
class QSplitter;
class QToolBar;

namespace tegalo {

class CListFilter;
class CTegaloDoc;
class CTegaloListView;
class CTegaloTreeView;
class MailSessions;
class NewMailNotifier;

class CMainFrame : public QMainWindow {
    Q_OBJECT
public:
    CMainFrame(CTegaloDoc& doc, MailSessions& sessions, QWidget* parent = nullptr);
    ~CMainFrame() override;

    // Builds the tree and runs the list's first update (settings, columns,
    // first listing, automatic receive and timer).
    void OnInitialUpdate();

    CTegaloTreeView* treeView() const { return tree_; }
    CTegaloListView* listView() const { return list_; }
    CListFilter* listFilter() const { return filter_; }
    QSplitter* splitter() const { return splitter_; }
    QAction* action(int id) const { return actions_.value(id); }

    // Runs a command as the menu, toolbar or accelerator would.
    void OnCommand(int id);

    // The pane that receives the commands.
    enum Pane : int { kTreePane = 0, kListPane = 1 };
    int ActivePane() const { return activePane_; }
    void SetActivePane(int pane);

    // Shows a text in the status bar's message pane at once. It stays there
    // (a tip shown while the mouse is over a button hides it only for that
    // time) until the next text.
    void SetStatusText(const QString& text);
    // Shows the lock sign while a mail session runs encrypted.
    void SetEncrypted(bool on);
    QString StatusText() const { return statusText_; }

    // The session's status bar parts: "受信中 12/277" and its progress bar;
    // the non-modal notice of a failed session; the new-mail
    // notifier.
    QLabel* progressLabel() const { return progressLabel_; }
    QProgressBar* progressBar() const { return progressBar_; }
    QMessageBox* failureNotice() const { return failureNotice_; }
    NewMailNotifier* notifier() const { return notifier_; }

    // Reloads the views after the document changed (hint: the folder shown).
    void UpdateAllViews(int hint);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    // Keeps the window's size, place, splitter and column widths for the next run.
    void closeEvent(QCloseEvent* event) override;

private:
    void createActions();
    void createMenus();
    void createToolBar();
    void createStatusBar();
    void createClient();
    QAction* addCommand(int id, const QString& text, const QString& prompt = QString());

    void OnHelpContents();
    void OnAbout();
    void OnFolderSelected(int folder);
    void OnSessionProgress();
    void OnSessionEnded(int how);

    CTegaloDoc& doc_;
    MailSessions& sessions_;
    QSplitter* splitter_ = nullptr;
    CTegaloTreeView* tree_ = nullptr;
    CTegaloListView* list_ = nullptr;
    CListFilter* filter_ = nullptr;
    QToolBar* toolBar_ = nullptr;
    QHash<int, QAction*> actions_;
    int activePane_ = kListPane;
    QString statusText_;
    QLabel* progressLabel_ = nullptr;
    QProgressBar* progressBar_ = nullptr;
    QMessageBox* failureNotice_ = nullptr;
    NewMailNotifier* notifier_ = nullptr;
};

} // namespace tegalo
