// The folder tree in the left pane: "ローカル" with the four folders under it.
#pragma once

#include <QTreeWidget>

#include <functional>

namespace tegalo {

class CTegaloTreeView : public QTreeWidget {
    Q_OBJECT
public:
    explicit CTegaloTreeView(QWidget* parent = nullptr);

    // Builds the five items and selects "受信". Folder switches are reported
    // only after this has run.
    void OnInitialUpdate();

    // Called with the folder code (1 to 4) when the user picks a folder.
    std::function<void(int folder)> onFolderSelected;

    // The tree pane takes the new-message and open commands and does nothing
    // with them. Returns true for the commands it takes.
    bool OnCommand(int id);

    // The item of a folder (1 to 4), or the root for -1.
    QTreeWidgetItem* ItemForFolder(int folder) const;

private:
    void OnSelectionChanged();

    bool treeReady_ = false;
};

} // namespace tegalo
