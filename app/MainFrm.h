// The main window: menu, toolbar, status bar, and the splitter with the
// folder tree on the left and the message list on the right.
#pragma once

#include <QHash>
#include <QMainWindow>

class QAction;
class QLabel;
class QSplitter;
class QToolBar;

namespace tegalo {

class CTegaloDoc;
class CTegaloListView;
class CTegaloTreeView;
class MailSessions;

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
    QAction* action(int id) const { return actions_.value(id); }

    // Runs a command as the menu, toolbar or accelerator would.
    void OnCommand(int id);

    // The pane that receives the commands.
    enum Pane : int { kTreePane = 0, kListPane = 1 };
    int ActivePane() const { return activePane_; }
    void SetActivePane(int pane);

    // Shows a text in the status bar's message pane at once.
    void SetStatusText(const QString& text);
    // Shows the lock sign while a mail session runs encrypted.
    void SetEncrypted(bool on);

    // Reloads the views after the document changed (hint: the folder shown).
    void UpdateAllViews(int hint);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

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

    CTegaloDoc& doc_;
    MailSessions& sessions_;
    QSplitter* splitter_ = nullptr;
    CTegaloTreeView* tree_ = nullptr;
    CTegaloListView* list_ = nullptr;
    QToolBar* toolBar_ = nullptr;
    QHash<int, QAction*> actions_;
    int activePane_ = kListPane;
};

} // namespace tegalo
