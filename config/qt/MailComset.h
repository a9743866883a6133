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
    explicit CMailComset(QWidget* parent = nullptr);

    // Fills the fields from `settings` and selects the interval entry whose
    // number is the first digit of checkInterval (none for anything else).
    void Prepare(const AccountSettings& settings);
    // The prepared settings, with the fields taken in when OK was pressed.
    const AccountSettings& Result() const { return settings_; }

    void accept() override;

    QLineEdit* field(int id) const;
    QCheckBox* checkBox(int id) const;
    QListWidget* intervalList() const { return interval_; }

private:
    QLineEdit* AddField(int id, const QString& label);

    AccountSettings settings_;
    QHash<int, QLineEdit*> fields_;
    QHash<int, QCheckBox*> checks_;
    QListWidget* interval_ = nullptr;
    QFormLayout* form_ = nullptr;
};

} // namespace tegalo
