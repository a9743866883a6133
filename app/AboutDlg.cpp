#include "app/AboutDlg.h"

#include "gui/Icons.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>

namespace tegalo {

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("ﾊﾞｰｼﾞｮﾝ情報(Tegalo)"));
    auto* layout = new QGridLayout(this);
    auto* icon = new QLabel(this);
    icon->setPixmap(icons::Application().pixmap(32, 32));
    layout->addWidget(icon, 0, 0, 2, 1, Qt::AlignTop);
    layout->addWidget(new QLabel(QStringLiteral("Tegalo Version 1.0"), this), 0, 1);
    layout->addWidget(new QLabel(QStringLiteral("POP3/SMTP メールクライアント"), this), 1, 1);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    layout->addWidget(buttons, 0, 2, 2, 1, Qt::AlignTop);
}

} // namespace tegalo
