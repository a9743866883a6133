// "設定ﾀﾞｲｱﾛｸﾞ": the account settings. Its `settings` are the live values
// that the sessions read; OK takes the fields into them, Cancel leaves them.
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

    AccountSettings settings;

    // Fills the fields from `settings` and selects the interval entry whose
    // number is the first digit of checkInterval (none for anything else).
    void Prepare();

    void accept() override;

    QLineEdit* field(int id) const;
    QCheckBox* checkBox(int id) const;
    // The security and login choices (1060, 1061, 1062, 1065); the entry's
    // index is the number the settings file keeps.
    QComboBox* choice(int id) const;
    QListWidget* intervalList() const { return interval_; }

private:
    QLineEdit* AddField(int id, const QString& label);
    QComboBox* AddChoice(int id, const QString& label, const QStringList& entries);

    QHash<int, QLineEdit*> fields_;
    QHash<int, QCheckBox*> checks_;
    QHash<int, QComboBox*> choices_;
    QListWidget* interval_ = nullptr;
    QFormLayout* form_ = nullptr;
};

} // namespace tegalo
