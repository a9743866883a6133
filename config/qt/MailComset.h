// "設定ﾀﾞｲｱﾛｸﾞ": the account settings. It edits a copy: Prepare fills the
// fields from the settings in effect, OK takes the fields into Result (the
// caller hands it to the mail sessions), Cancel leaves Result as prepared.
#pragma once

#include "config/AccountSettings.h"

#include <QDialog>
#include <QHash>

class QCheckBox;
class QFormLayout;
class QComboBox;
class QLineEdit;
class QListWidget;

namespace tegalo {

class CMailComset : public QDialog {
    Q_OBJECT
public:
    // The dialog's controls, by their ids (field() and checkBox() take them;
    // each field's object name is its id).
    enum Control : int {
        kServerName = 1001,
        kPop3Port = 1002,
        kUserName = 1003,
        kPassword = 1004,
        kSmtpPort = 1011,
        kMailAccount = 1012,
        kKeepOnServer = 1017,
        kServerName2 = 1018,
        kDisplayName = 1022,
        kReceiveAtStartup = 1053,
        kCheckNewMail = 1054,
        kCheckInterval = 1055,
        kPop3Security = 1060, // the security and login choices: choice() takes them
        kSmtpSecurity = 1061,
        kSmtpLogin = 1062,
        kSmtpUserName = 1063,
        kSmtpPassword = 1064,
        kPop3Login = 1065,
        kNotifyNewMail = 1070, // a program preference, not a line of the settings file
    };

    explicit CMailComset(QWidget* parent = nullptr);

    // Fills the fields from `settings` and selects the interval entry whose
    // number is the first digit of checkInterval (none for anything else).
    void Prepare(const AccountSettings& settings);
    // The prepared settings, with the fields taken in when OK was pressed.
    const AccountSettings& Result() const { return settings_; }

    void accept() override;

    QLineEdit* field(int id) const;
    QCheckBox* checkBox(int id) const;
    // The security and login choices (kPop3Security, kSmtpSecurity,
    // kSmtpLogin, kPop3Login); the entry's index is the number the settings
    // file keeps.
    QComboBox* choice(int id) const;
    QListWidget* intervalList() const { return interval_; }

private:
    void FitIntervalBox();
    QLineEdit* AddField(int id, const QString& label);
    QComboBox* AddChoice(int id, const QString& label, const QStringList& entries);

    AccountSettings settings_;
    QHash<int, QLineEdit*> fields_;
    QHash<int, QCheckBox*> checks_;
    QHash<int, QComboBox*> choices_;
    QListWidget* interval_ = nullptr;
    QFormLayout* form_ = nullptr;
};

} // namespace tegalo
