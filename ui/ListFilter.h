// The filter field above the message list: what is typed narrows the list
// to the messages whose subject, sender or text holds it; Esc empties it.
#pragma once

#include <QLineEdit>

namespace tegalo {

class CTegaloListView;

class CListFilter : public QLineEdit {
    Q_OBJECT
public:
    CListFilter(CTegaloListView& list, QWidget* parent = nullptr);

    // Ctrl+F: the field takes the focus with its text selected.
    void Activate();

protected:
    // Esc empties the field; in an empty field it hands the focus back to
    // the list. Enter and the arrow keys go to the list too, so that the
    // first message found can be opened at once.
    void keyPressEvent(QKeyEvent* event) override;

private:
    CTegaloListView& list_;
};

} // namespace tegalo
