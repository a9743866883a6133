#include "config/qt/MailComset.h"

#include "config/qt/Preferences.h"

#include "gui/Prompter.h"
#include "gui/QtText.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QStyle>
#include <QVBoxLayout>

#include <algorithm>

namespace tegalo {

namespace {


const char* const kIntervals[] = {"10", "20", "30"};

} // namespace

CMailComset::CMailComset(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("設定ﾀﾞｲｱﾛｸﾞ"));
    auto* layout = new QVBoxLayout(this);
    form_ = new QFormLayout;
    layout->addLayout(form_);
    AddField(kServerName, QStringLiteral("サーバ名"));
    AddField(kServerName2, QStringLiteral("サーバ名２"));
    AddField(kPop3Port, QStringLiteral("POP3 PortNo"));
    AddField(kSmtpPort, QStringLiteral("SMTP PortNo"));
    AddField(kUserName, QStringLiteral("ユーザ名"));
    AddField(kPassword, QStringLiteral("パスワード"))->setEchoMode(QLineEdit::Password);
    AddField(kMailAccount, QStringLiteral("電子ﾒｰﾙｱｶｳﾝﾄ"));
    AddField(kDisplayName, QStringLiteral("名前"));
    AddChoice(kPop3Security, QStringLiteral("POP3 暗号化"),
              {QStringLiteral("なし"), QStringLiteral("STLS"), QStringLiteral("POP3S (SSL/TLS)")});
    AddChoice(kPop3Login, QStringLiteral("POP3 認証"),
              {QStringLiteral("USER/PASS"), QStringLiteral("APOP"), QStringLiteral("自動")});
    AddChoice(kSmtpSecurity, QStringLiteral("SMTP 暗号化"),
              {QStringLiteral("なし"), QStringLiteral("STARTTLS"), QStringLiteral("SMTPS (SSL/TLS)")});
    AddChoice(kSmtpLogin, QStringLiteral("SMTP 認証"),
              {QStringLiteral("なし"), QStringLiteral("自動"), QStringLiteral("PLAIN"), QStringLiteral("LOGIN"),
               QStringLiteral("CRAM-MD5")});
    AddField(kSmtpUserName, QStringLiteral("SMTP ﾕｰｻﾞ名"))
        ->setPlaceholderText(QStringLiteral("空欄: ユーザ名と同じ"));
    QLineEdit* smtpPassword = AddField(kSmtpPassword, QStringLiteral("SMTP ﾊﾟｽﾜｰﾄﾞ"));
    smtpPassword->setEchoMode(QLineEdit::Password);
    smtpPassword->setPlaceholderText(QStringLiteral("空欄: パスワードと同じ"));
    // Choosing a security fills in its usual port, unless the user typed
    // a port of his own.
    const auto followPort = [this](int portId, int (*usual)(Security), bool (*isUsual)(int)) {
        return [this, portId, usual, isUsual](int index) {
            bool ok = false;
            const int port = field(portId)->text().trimmed().toInt(&ok);
            if (ok && isUsual(port)) {
                field(portId)->setText(QString::number(usual(static_cast<Security>(index))));
            }
        };
    };
    connect(choice(kPop3Security), &QComboBox::activated, this,
            followPort(kPop3Port, &UsualPop3Port, &IsUsualPop3Port));
    connect(choice(kSmtpSecurity), &QComboBox::activated, this,
            followPort(kSmtpPort, &UsualSmtpPort, &IsUsualSmtpPort));

    checks_.insert(kKeepOnServer, new QCheckBox(QStringLiteral("ｻｰﾊﾞにﾃﾞｰﾀを保存する"), this));
    checks_.insert(kReceiveAtStartup, new QCheckBox(QStringLiteral("起動時に受信開始"), this));
    checks_.insert(kCheckNewMail, new QCheckBox(QStringLiteral("新着メッセージをチェック"), this));
    layout->addWidget(checks_[kKeepOnServer]);
    layout->addWidget(checks_[kReceiveAtStartup]);
    auto* intervalRow = new QHBoxLayout;
    intervalRow->addWidget(checks_[kCheckNewMail]);
    interval_ = new QListWidget(this);
    interval_->setObjectName(QStringLiteral("checkInterval"));
    interval_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    interval_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    interval_->setUniformItemSizes(true);
    intervalRow->addWidget(interval_);
    intervalRow->addWidget(new QLabel(QStringLiteral("分毎"), this));
    intervalRow->addStretch();
    layout->addLayout(intervalRow);
    // A preference of this desktop, not of the account: kept apart from the
    // settings file (see Preferences.h).
    checks_.insert(kNotifyNewMail, new QCheckBox(QStringLiteral("新着メッセージをデスクトップに通知する"), this));
    layout->addWidget(checks_[kNotifyNewMail]);

    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton(QDialogButtonBox::Ok);
    buttons->addButton(QStringLiteral("ｷｬﾝｾﾙ"), QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &CMailComset::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}

QLineEdit* CMailComset::AddField(int id, const QString& label) {
    auto* edit = new QLineEdit(this);
    edit->setObjectName(QString::number(id));
    form_->addRow(label, edit);
    fields_.insert(id, edit);
    return edit;
}

QComboBox* CMailComset::AddChoice(int id, const QString& label, const QStringList& entries) {
    auto* box = new QComboBox(this);
    box->setObjectName(QString::number(id));
    box->addItems(entries);
    form_->addRow(label, box);
    choices_.insert(id, box);
    return box;
}

QComboBox* CMailComset::choice(int id) const {
    return choices_.value(id);
}

QLineEdit* CMailComset::field(int id) const {
    return fields_.value(id);
}

QCheckBox* CMailComset::checkBox(int id) const {
    return checks_.value(id);
}

void CMailComset::Prepare(const AccountSettings& settings) {
    settings_ = settings;
    checkBox(kNotifyNewMail)->setChecked(preferences::NotifyNewMail());
    field(kServerName)->setText(FromSjis(settings.serverName));
    field(kPop3Port)->setText(QString::number(settings.pop3Port));
    field(kUserName)->setText(FromSjis(settings.userName));
    field(kPassword)->setText(FromSjis(settings.password));
    field(kSmtpPort)->setText(QString::number(settings.smtpPort));
    field(kMailAccount)->setText(FromSjis(settings.mailAccount));
    checkBox(kKeepOnServer)->setChecked(settings.keepOnServer);
    field(kServerName2)->setText(FromSjis(settings.serverName2));
    field(kDisplayName)->setText(FromSjis(settings.displayName));
    checkBox(kReceiveAtStartup)->setChecked(settings.receiveAtStartup);
    checkBox(kCheckNewMail)->setChecked(settings.checkNewMail);
    choice(kPop3Security)->setCurrentIndex(static_cast<int>(settings.pop3Security));
    choice(kSmtpSecurity)->setCurrentIndex(static_cast<int>(settings.smtpSecurity));
    choice(kSmtpLogin)->setCurrentIndex(static_cast<int>(settings.smtpLogin));
    choice(kPop3Login)->setCurrentIndex(static_cast<int>(settings.pop3Login));
    field(kSmtpUserName)->setText(FromSjis(settings.smtpUserName));
    field(kSmtpPassword)->setText(FromSjis(settings.smtpPassword));
    interval_->clear();
    for (const char* entry : kIntervals) {
        interval_->addItem(QString::fromLatin1(entry));
    }
    const char first = settings.checkInterval.empty() ? '\0' : settings.checkInterval[0];
    const int digit = first >= '0' && first <= '9' ? first - '0' : 0;
    FitIntervalBox();
    interval_->setCurrentRow(digit >= 1 && digit <= 3 ? digit - 1 : -1);
    if (digit < 1 || digit > 3) {
        interval_->clearSelection();
    }
}

void CMailComset::accept() {
    AccountSettings input = settings_;
    // Ports: whole numbers from 1 to 65535, or the dialog stays open.
    for (const auto& [id, port] : {std::pair{kPop3Port, &input.pop3Port}, std::pair{kSmtpPort, &input.smtpPort}}) {
        bool ok = false;
        const int value = field(id)->text().trimmed().toInt(&ok);
        if (!ok || !IsValidPort(value)) {
            Prompter().Message(this, QStringLiteral("ポート番号は 1 から 65535 までの整数を入力してください。"));
            field(id)->setFocus();
            field(id)->selectAll();
            return;
        }
        *port = value;
    }
    const struct {
        int id;
        std::string* value;
    } texts[] = {{kServerName, &input.serverName}, {kUserName, &input.userName},   {kPassword, &input.password},
                 {kMailAccount, &input.mailAccount}, {kServerName2, &input.serverName2}, {kDisplayName, &input.displayName},
                 {kSmtpUserName, &input.smtpUserName}, {kSmtpPassword, &input.smtpPassword}};
    for (const auto& text : texts) {
        QStringList unmapped;
        *text.value = ToSjis(field(text.id)->text(), &unmapped);
        if (!unmapped.isEmpty()) {
            Prompter().Message(this, QStringLiteral("次の文字は使えません: ") + unmapped.join(QLatin1Char(' ')));
            field(text.id)->setFocus();
            return;
        }
    }
    input.keepOnServer = checkBox(kKeepOnServer)->isChecked();
    input.receiveAtStartup = checkBox(kReceiveAtStartup)->isChecked();
    input.checkNewMail = checkBox(kCheckNewMail)->isChecked();
    input.pop3Security = static_cast<Security>(choice(kPop3Security)->currentIndex());
    input.smtpSecurity = static_cast<Security>(choice(kSmtpSecurity)->currentIndex());
    input.smtpLogin = static_cast<SmtpLogin>(choice(kSmtpLogin)->currentIndex());
    input.pop3Login = static_cast<Pop3Login>(choice(kPop3Login)->currentIndex());
    const QList<QListWidgetItem*> selected = interval_->selectedItems();
    input.checkInterval = selected.isEmpty() ? std::string() : selected.front()->text().toStdString();
    if (const int line = FindUnsavableLine(input); line != 0) {
        Prompter().Message(this, QStringLiteral("設定値が長すぎるか、改行を含んでいます (%1 行目)。").arg(line));
        return;
    }
    settings_ = input;
    preferences::SetNotifyNewMail(checkBox(kNotifyNewMail)->isChecked());
    QDialog::accept();
}

// One entry high, as wide as the widest entry beside the scroll bar. The
// row height is the style's own, taken once the box has its font and style:
// a height from the font alone shows a sliver of the next entry.
void CMailComset::FitIntervalBox() {
    interval_->ensurePolished();
    int widest = 0;
    for (const char* entry : kIntervals) {
        widest = std::max(widest, interval_->fontMetrics().horizontalAdvance(QString::fromLatin1(entry)));
    }
    const int frame = 2 * interval_->frameWidth();
    interval_->setFixedHeight(interval_->sizeHintForRow(0) + frame);
    interval_->setFixedWidth(widest + 3 * interval_->fontMetrics().averageCharWidth() + frame +
                             interval_->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, interval_));
}

} // namespace tegalo
