#pragma once

#include <QDialog>

namespace tegalo {

// "ﾊﾞｰｼﾞｮﾝ情報(Tegalo)": the program's icon, name and version.
class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    explicit CAboutDlg(QWidget* parent = nullptr);
};

} // namespace tegalo
