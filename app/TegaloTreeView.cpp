#include "app/TegaloTreeView.h"

#include "gui/Commands.h"
#include "gui/Icons.h"
#include "store/Record.h"

#include <QHeaderView>

namespace tegalo {

namespace {

constexpr int kFolderRole = Qt::UserRole;

} // namespace

CTegaloTreeView::CTegaloTreeView(QWidget* parent) : QTreeWidget(parent) {
    setHeaderHidden(true);
    setRootIsDecorated(true);
    setColumnCount(1);
    setSelectionMode(QAbstractItemView::SingleSelection);
    // A narrow pane scrolls sideways rather than cutting the folder names.
    setTextElideMode(Qt::ElideNone);
    header()->setStretchLastSection(false);
    header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    connect(this, &QTreeWidget::itemSelectionChanged, this, &CTegaloTreeView::OnSelectionChanged);
    connect(this, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* current, QTreeWidgetItem* previous) {
        // The open-folder picture belongs to the selected folder only.
        if (previous && previous->data(0, kFolderRole).toInt() > 0) {
            previous->setIcon(0, icons::FolderClosed());
        }
        if (current && current->data(0, kFolderRole).toInt() > 0) {
            current->setIcon(0, icons::FolderOpen());
        }
    });
}

void CTegaloTreeView::OnInitialUpdate() {
    clear();
    auto* root = new QTreeWidgetItem(this, QStringList(QStringLiteral("ローカル")));
    root->setData(0, kFolderRole, -1);
    root->setIcon(0, icons::FolderClosed());
    setCurrentItem(root);
    // Each folder goes in first under the root, so they are added in reverse.
    const struct {
        const char* label;
        int folder;
    } folders[] = {{"削除", kDeleted}, {"送信済", kSent}, {"送信待ち", kWaiting}, {"受信", kReceived}};
    for (const auto& f : folders) {
        auto* item = new QTreeWidgetItem(QStringList(QString::fromUtf8(f.label)));
        item->setData(0, kFolderRole, f.folder);
        item->setIcon(0, icons::FolderClosed());
        root->insertChild(0, item);
        setCurrentItem(item);
    }
    expandItem(root);
    treeReady_ = true;
}

QTreeWidgetItem* CTegaloTreeView::ItemForFolder(int folder) const {
    QTreeWidgetItem* root = topLevelItemCount() > 0 ? topLevelItem(0) : nullptr;
    if (!root || folder == -1) {
        return root;
    }
    for (int i = 0; i < root->childCount(); ++i) {
        if (root->child(i)->data(0, kFolderRole).toInt() == folder) {
            return root->child(i);
        }
    }
    return nullptr;
}

bool CTegaloTreeView::OnCommand(int id) {
    return id == ID_FILE_NEW || id == ID_FILE_OPEN;
}

void CTegaloTreeView::OnSelectionChanged() {
    if (!treeReady_) {
        return;
    }
    const QList<QTreeWidgetItem*> selected = selectedItems();
    if (selected.isEmpty()) {
        return;
    }
    const int folder = selected.front()->data(0, kFolderRole).toInt();
    if (folder >= kReceived && folder <= kDeleted && onFolderSelected) {
        onFolderSelected(folder);
    }
}

} // namespace tegalo
