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
    QListWidget* intervalList() const { return interval_; }

private:
    QLineEdit* AddField(int id, const QString& label);

    QHash<int, QLineEdit*> fields_;
    QHash<int, QCheckBox*> checks_;
    QListWidget* interval_ = nullptr;
    QFormLayout* form_ = nullptr;
};

} // namespace tegalo
