#include "app/MainFrm.h"

#include "app/AboutDlg.h"
#include "app/NewMailNotifier.h"
#include "app/TegaloTreeView.h"
#include "app/WindowState.h"
#include "gui/Commands.h"
#include "gui/Icons.h"
#include "gui/Prompter.h"
#include "gui/QtText.h"
#include "session/MailSessions.h"
#include "store/TegaloDoc.h"
#include "ui/ListFilter.h"
#include "ui/TegaloListView.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QEvent>
#include <QHeaderView>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QMenuBar>
#include <QMessageBox>
#include <QProgressBar>
#include <QSplitter>
#include <QStatusBar>
#include <QToolBar>
#include <QVBoxLayout>

#include <algorithm>

namespace tegalo {

namespace {

const QString kReady = QStringLiteral("ﾚﾃﾞｨ");

} // namespace

CMainFrame::CMainFrame(CTegaloDoc& doc, MailSessions& sessions, QWidget* parent)
    : QMainWindow(parent), doc_(doc), sessions_(sessions) {
    setWindowTitle(QStringLiteral("Email - Tegalo"));
    setWindowIcon(icons::Application());
    createActions();
    createMenus();
    createToolBar();
    createStatusBar();
    createClient();
    resize(760, 480);
}

CMainFrame::~CMainFrame() = default;

QAction* CMainFrame::addCommand(int id, const QString& text, const QString& prompt) {
    auto* action = new QAction(text, this);
    action->setData(id);
    if (!prompt.isEmpty()) {
        // The status bar shows the text before "\n", the tooltip the text after it.
        const qsizetype newline = prompt.indexOf(QLatin1Char('\n'));
        action->setStatusTip(newline < 0 ? prompt : prompt.left(newline));
        action->setToolTip(newline < 0 ? prompt : prompt.mid(newline + 1));
    }
    connect(action, &QAction::triggered, this, [this, id] { OnCommand(id); });
    actions_.insert(id, action);
    addAction(action); // shortcuts work whichever pane has the focus
    return action;
}

void CMainFrame::createActions() {
    addCommand(ID_FILE_NEW, QStringLiteral("新規作成(&N)"), QStringLiteral("新規にﾌｧｲﾙを作成\n新規ﾌｧｲﾙ"))
        ->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_N));
    addCommand(ID_FILE_OPEN, QStringLiteral("開く(&O)..."), QStringLiteral("既存のﾌｧｲﾙを開く\n開く"))
        ->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    addCommand(ID_FILE_PRINT, QStringLiteral("印刷(&P)..."), QStringLiteral("作業中のﾌｧｲﾙを印刷\n印刷"))
        ->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_P));
    addCommand(ID_SEND_WAITING, QStringLiteral("送信待"))->setShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F5));
    addCommand(ID_REPLY, QStringLiteral("返信"));
    addCommand(ID_FORWARD, QStringLiteral("転送"));
    // Tegalo opens no document files, so the recent-file list stays empty.
    addCommand(ID_FILE_MRU_FILE1, QStringLiteral("最新のﾌｧｲﾙ"))->setEnabled(false);
    addCommand(ID_APP_EXIT, QStringLiteral("ｱﾌﾟﾘｹｰｼｮﾝの終了(&X)"));
    QAction* toolbar = addCommand(ID_VIEW_TOOLBAR, QStringLiteral("ﾂｰﾙ ﾊﾞｰ(&T)"));
    toolbar->setCheckable(true);
    toolbar->setChecked(true);
    QAction* statusBarAction = addCommand(ID_VIEW_STATUS_BAR, QStringLiteral("ｽﾃｰﾀｽ ﾊﾞｰ(&S)"));
    statusBarAction->setCheckable(true);
    statusBarAction->setChecked(true);
    addCommand(ID_SETTINGS, QStringLiteral("設定ﾀﾞｲﾔﾛｸﾞ(&M)"));
    addCommand(ID_RIGHT_PANE, QStringLiteral("右面有効"), QStringLiteral("ｸﾗｲｱﾝﾄ"));
    addCommand(ID_LEFT_PANE, QStringLiteral("左面有効"));
    addCommand(ID_ADDRESS_BOOK, QStringLiteral("ｱﾄﾞﾚｽ帳"));
    addCommand(ID_REGISTER_SENDER, QStringLiteral("送信者をｱﾄﾞﾚｽ帳に登録"));
    addCommand(ID_NEW_MESSAGE, QStringLiteral("新規"), QStringLiteral("新規ﾒｯｾｰｼﾞ"));
    addCommand(ID_MOVE_TO_RECEIVED, QStringLiteral("受信ﾌｫﾙﾀﾞｰへ"));
    addCommand(ID_MOVE_TO_WAITING, QStringLiteral("送信待ﾌｫﾙﾀﾞｰへ"));
    addCommand(ID_MOVE_TO_SENT, QStringLiteral("送信済みﾌｫﾙﾀﾞｰへ"));
    addCommand(ID_MOVE_TO_DELETED, QStringLiteral("削除ﾌｫﾙﾀﾞｰへ"));
    addCommand(ID_HELP_CONTENTS, QStringLiteral("目次"));
    addCommand(ID_APP_ABOUT, QStringLiteral("ﾊﾞｰｼﾞｮﾝ情報(Tegalo) (&A)..."),
               QStringLiteral("ﾌﾟﾛｸﾞﾗﾑの情報、ﾊﾞｰｼﾞｮﾝそして著作権を表示\nﾊﾞｰｼﾞｮﾝ情報"));
    addCommand(ID_START_RECEIVE, QStringLiteral("送受信開始"), QStringLiteral("送受信開始"))
        ->setShortcut(QKeySequence(Qt::Key_F5));
    // Enabled only while a session runs, so that Esc reaches the other
    // windows' own uses of it the rest of the time.
    QAction* stop = addCommand(ID_STOP_SESSION, QStringLiteral("中止"), QStringLiteral("実行中の送受信を中止\n中止"));
    stop->setShortcut(QKeySequence(Qt::Key_Escape));
    stop->setEnabled(false);
    connect(&sessions_, &MailSessions::busyChanged, stop, &QAction::setEnabled);
    addCommand(ID_NEXT_PANE, QStringLiteral("次のペイン"))->setShortcut(QKeySequence(Qt::Key_F6));
    addCommand(ID_PREV_PANE, QStringLiteral("前のペイン"))->setShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F6));
    // Ctrl+F: the filter field above the list.
    auto* find = new QAction(QStringLiteral("絞り込み"), this);
    find->setObjectName(QStringLiteral("find"));
    find->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F));
    connect(find, &QAction::triggered, this, [this] { filter_->Activate(); });
    addAction(find);
}

void CMainFrame::createMenus() {
    QMenu* file = menuBar()->addMenu(QStringLiteral("ﾌｧｲﾙ(&F)"));
    file->addAction(action(ID_FILE_NEW));
    file->addAction(action(ID_FILE_OPEN));
    file->addSeparator();
    file->addAction(action(ID_FILE_PRINT));
    file->addSeparator();
    file->addAction(action(ID_START_RECEIVE));
    QMenu* send = file->addMenu(QStringLiteral("送信(&D)..."));
    send->addAction(action(ID_SEND_WAITING));
    send->addAction(action(ID_REPLY));
    send->addAction(action(ID_FORWARD));
    file->addAction(action(ID_STOP_SESSION));
    file->addSeparator();
    file->addAction(action(ID_FILE_MRU_FILE1));
    file->addSeparator();
    file->addAction(action(ID_APP_EXIT));

    QMenu* view = menuBar()->addMenu(QStringLiteral("表示(&V)"));
    view->addAction(action(ID_VIEW_TOOLBAR));
    view->addAction(action(ID_VIEW_STATUS_BAR));

    QMenu* settings = menuBar()->addMenu(QStringLiteral("設定(&S)"));
    settings->addAction(action(ID_SETTINGS));
    settings->addAction(action(ID_RIGHT_PANE));
    settings->addAction(action(ID_LEFT_PANE));

    QMenu* tools = menuBar()->addMenu(QStringLiteral("ツール(&T)"));
    tools->addAction(action(ID_ADDRESS_BOOK));
    tools->addAction(action(ID_REGISTER_SENDER));

    QMenu* message = menuBar()->addMenu(QStringLiteral("メッセージ(&M)"));
    message->addAction(action(ID_NEW_MESSAGE));
    QMenu* move = message->addMenu(QStringLiteral("移動"));
    move->addAction(action(ID_MOVE_TO_RECEIVED));
    move->addAction(action(ID_MOVE_TO_WAITING));
    move->addAction(action(ID_MOVE_TO_SENT));
    move->addAction(action(ID_MOVE_TO_DELETED));

    QMenu* help = menuBar()->addMenu(QStringLiteral("ﾍﾙﾌﾟ(&H)"));
    help->addAction(action(ID_HELP_CONTENTS));
    help->addAction(action(ID_APP_ABOUT));
}

void CMainFrame::createToolBar() {
    toolBar_ = addToolBar(QStringLiteral("Tegalo"));
    toolBar_->setObjectName(QStringLiteral("toolBar"));
    toolBar_->setIconSize(QSize(16, 15));
    action(ID_FILE_NEW)->setIcon(icons::NewMessage());
    action(ID_FILE_OPEN)->setIcon(icons::OpenMessage());
    action(ID_FILE_PRINT)->setIcon(icons::Print());
    action(ID_START_RECEIVE)->setIcon(icons::SendReceive());
    action(ID_STOP_SESSION)->setIcon(icons::Stop());
    action(ID_APP_ABOUT)->setIcon(icons::About());
    for (int id : {ID_FILE_NEW, ID_FILE_OPEN, ID_FILE_PRINT, ID_START_RECEIVE, ID_STOP_SESSION, ID_APP_ABOUT}) {
        toolBar_->addAction(action(id));
    }
    connect(toolBar_, &QToolBar::visibilityChanged, action(ID_VIEW_TOOLBAR), &QAction::setChecked);
}

void CMainFrame::createStatusBar() {
    // The running session: what it does and how far it got.
    // Hidden while no session runs.
    progressLabel_ = new QLabel(this);
    progressLabel_->setObjectName(QStringLiteral("sessionProgress"));
    progressLabel_->hide();
    statusBar()->addPermanentWidget(progressLabel_);
    progressBar_ = new QProgressBar(this);
    progressBar_->setObjectName(QStringLiteral("sessionProgressBar"));
    progressBar_->setMaximumWidth(120);
    progressBar_->setMaximumHeight(statusBar()->fontMetrics().height());
    progressBar_->setTextVisible(false);
    progressBar_->hide();
    statusBar()->addPermanentWidget(progressBar_);
    connect(&sessions_, &MailSessions::progress, this, &CMainFrame::OnSessionProgress);
    connect(&sessions_, &MailSessions::ended, this, [this](SessionEnd how) { OnSessionEnded(static_cast<int>(how)); });
    notifier_ = new NewMailNotifier(this);
    connect(&sessions_, &MailSessions::newMail, notifier_, &NewMailNotifier::Notify);

    // The lock sign: a padlock drawn at the bar's text height.
    const int size = fontMetrics().height();
    QPixmap lock(size, size);
    lock.fill(Qt::transparent);
    {
        QPainter paint(&lock);
        paint.setRenderHint(QPainter::Antialiasing);
        paint.setPen(QPen(palette().color(QPalette::WindowText), size / 8.0));
        paint.drawArc(QRectF(size * 0.28, size * 0.08, size * 0.44, size * 0.5), 0, 180 * 16);
        paint.drawLine(QPointF(size * 0.28, size * 0.33), QPointF(size * 0.28, size * 0.45));
        paint.drawLine(QPointF(size * 0.72, size * 0.33), QPointF(size * 0.72, size * 0.45));
        paint.fillRect(QRectF(size * 0.18, size * 0.45, size * 0.64, size * 0.5), palette().color(QPalette::WindowText));
    }
    auto* lockLabel = new QLabel(this);
    lockLabel->setObjectName(QStringLiteral("lock"));
    lockLabel->setPixmap(lock);
    lockLabel->setToolTip(QStringLiteral("暗号化された接続"));
    lockLabel->setVisible(false);
    statusBar()->addPermanentWidget(lockLabel);
    for (const char* indicator : {"ｶﾅ", "CAP", "NUM", "SCRL"}) {
        auto* label = new QLabel(QString::fromUtf8(indicator), this);
        label->setObjectName(QString::fromUtf8(indicator));
        label->setFrameShape(QFrame::StyledPanel);
        label->setEnabled(false); // lock key states are not known here
        statusBar()->addPermanentWidget(label);
    }
    SetStatusText(kReady);
    connect(&sessions_, &MailSessions::statusText, this,
            [this](const std::string& text) { SetStatusText(FromSjis(text)); });
    connect(&sessions_, &MailSessions::encryptedChanged, this, &CMainFrame::SetEncrypted);
    // A tip shown while the mouse is over a button or menu item replaces the
    // text for that time; then the last text comes back.
    connect(statusBar(), &QStatusBar::messageChanged, this, [this](const QString& text) {
        if (text.isEmpty()) {
            statusBar()->showMessage(statusText_);
        }
    });
}

void CMainFrame::createClient() {
    splitter_ = new QSplitter(Qt::Horizontal, this);
    tree_ = new CTegaloTreeView(splitter_);
    // The right pane: the filter field above the list.
    auto* right = new QWidget(splitter_);
    list_ = new CTegaloListView(doc_, sessions_, right);
    filter_ = new CListFilter(*list_, right);
    auto* column = new QVBoxLayout(right);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(2);
    column->addWidget(filter_);
    column->addWidget(list_, 1);
    splitter_->addWidget(tree_);
    splitter_->addWidget(right);
    splitter_->setStretchFactor(1, 1);
    splitter_->setSizes({100, 660});
    setCentralWidget(splitter_);
    tree_->onFolderSelected = [this](int folder) { OnFolderSelected(folder); };
    tree_->installEventFilter(this);
    list_->installEventFilter(this);
    SetActivePane(kListPane);
}

void CMainFrame::OnInitialUpdate() {
    tree_->OnInitialUpdate();
    // The tree is at least as wide as its folder names.
    tree_->resizeColumnToContents(0);
    const int treeWidth = std::max(100, tree_->columnWidth(0) + 2 * tree_->frameWidth() + 8);
    const int total = std::max(splitter_->width(), treeWidth + 300);
    splitter_->setSizes({treeWidth, total - treeWidth});
    list_->OnInitialUpdate();
    RestoreWindowState(*this, *splitter_, list_->HasColumns() ? list_->header() : nullptr);
    SetActivePane(kListPane);
}

void CMainFrame::closeEvent(QCloseEvent* event) {
    SaveWindowState(*this, *splitter_, list_->HasColumns() ? list_->header() : nullptr);
    QMainWindow::closeEvent(event);
}

bool CMainFrame::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::FocusIn) {
        if (watched == tree_) {
            activePane_ = kTreePane;
        } else if (watched == list_) {
            activePane_ = kListPane;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void CMainFrame::SetActivePane(int pane) {
    activePane_ = pane;
    QWidget* widget = pane == kTreePane ? static_cast<QWidget*>(tree_) : static_cast<QWidget*>(list_);
    widget->setFocus(Qt::OtherFocusReason);
}

void CMainFrame::SetEncrypted(bool on) {
    if (auto* lockLabel = statusBar()->findChild<QLabel*>(QStringLiteral("lock"))) {
        lockLabel->setVisible(on);
    }
}

void CMainFrame::SetStatusText(const QString& text) {
    statusText_ = text.isEmpty() ? kReady : text;
    statusBar()->showMessage(statusText_);
    statusBar()->repaint();
}

void CMainFrame::OnSessionProgress() {
    const SessionProgress progress = sessions_.Progress();
    if (progress.step == SessionProgress::Step::Idle) {
        progressLabel_->hide();
        progressBar_->hide();
        return;
    }
    progressLabel_->setText(FromSjis(ProgressText(progress)));
    if (progress.total > 0) {
        progressBar_->setRange(0, progress.total);
        progressBar_->setValue(progress.current);
    } else {
        progressBar_->setRange(0, 0); // busy, amount not known
    }
    progressLabel_->show();
    progressBar_->show();
}

void CMainFrame::OnSessionEnded(int how) {
    progressLabel_->hide();
    progressBar_->hide();
    if (static_cast<SessionEnd>(how) != SessionEnd::Failed) {
        return;
    }
    // The window goes on working while the notice is up; one notice shows
    // the latest failure (a timer's checks do not pile up boxes).
    if (!failureNotice_) {
        failureNotice_ = new QMessageBox(QMessageBox::Warning, QStringLiteral("Tegalo"), QString(), QMessageBox::Ok,
                                         this);
        failureNotice_->setObjectName(QStringLiteral("sessionFailure"));
        failureNotice_->setWindowModality(Qt::NonModal);
    }
    const QString what = sessions_.socket().Receiving() ? QStringLiteral("受信できませんでした")
                                                        : QStringLiteral("送信できませんでした");
    failureNotice_->setText(what + QStringLiteral("\n") + statusText_);
    failureNotice_->show();
}

void CMainFrame::UpdateAllViews(int hint) {
    list_->OnUpdate(hint);
}

void CMainFrame::OnFolderSelected(int folder) {
    const LoadResult result = doc_.LoadList(std::string(".\\") + std::string(FolderName(folder)));
    static_cast<void>(result); // a failure was shown by the store; the list shows what is loaded
    UpdateAllViews(doc_.CurrentFolder());
}

void CMainFrame::OnCommand(int id) {
    // The active pane comes first: the tree takes new and open and does
    // nothing with them.
    if (activePane_ == kTreePane && tree_->OnCommand(id)) {
        return;
    }
    switch (id) {
    case ID_RIGHT_PANE:
        SetActivePane(kListPane);
        return;
    case ID_LEFT_PANE:
        SetActivePane(kTreePane);
        return;
    case ID_NEXT_PANE:
    case ID_PREV_PANE:
        SetActivePane(activePane_ == kTreePane ? kListPane : kTreePane);
        return;
    case ID_HELP_CONTENTS:
        OnHelpContents();
        return;
    case ID_APP_ABOUT:
        OnAbout();
        return;
    case ID_APP_EXIT:
        close();
        return;
    case ID_STOP_SESSION:
        sessions_.Stop();
        return;
    case ID_VIEW_TOOLBAR:
        toolBar_->setVisible(action(ID_VIEW_TOOLBAR)->isChecked());
        return;
    case ID_VIEW_STATUS_BAR:
        statusBar()->setVisible(action(ID_VIEW_STATUS_BAR)->isChecked());
        return;
    default:
        list_->OnCommand(id);
    }
}

void CMainFrame::OnHelpContents() {
    const QString path = FromNativePath(doc_.BaseDir()) + QStringLiteral("Tegalo.hlp");
    if (!Prompter().OpenWithDesktop(path)) {
        Prompter().Message(this, QStringLiteral("Can't Execute"));
    }
}

void CMainFrame::OnAbout() {
    CAboutDlg dialog(this);
    dialog.exec();
}

} // namespace tegalo
