#include "ui/ListFilter.h"

#include "ui/TegaloListView.h"

#include <QKeyEvent>

namespace tegalo {

CListFilter::CListFilter(CTegaloListView& list, QWidget* parent) : QLineEdit(parent), list_(list) {
    setObjectName(QStringLiteral("listFilter"));
    setPlaceholderText(QStringLiteral("絞り込み (件名・差出人・本文)  Ctrl+F"));
    setClearButtonEnabled(true);
    connect(this, &QLineEdit::textChanged, this, [this](const QString& text) { list_.SetFilter(text); });
}

void CListFilter::Activate() {
    setFocus(Qt::ShortcutFocusReason);
    selectAll();
}

void CListFilter::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Escape:
        if (text().isEmpty()) {
            list_.setFocus(Qt::OtherFocusReason);
        } else {
            clear();
        }
        return;
    case Qt::Key_Down:
    case Qt::Key_Up:
    case Qt::Key_Return:
    case Qt::Key_Enter:
        list_.setFocus(Qt::OtherFocusReason);
        if (!list_.currentIndex().isValid() && list_.model() != nullptr && list_.model()->rowCount() > 0) {
            list_.setCurrentIndex(list_.model()->index(0, 0));
        }
        return;
    default:
        QLineEdit::keyPressEvent(event);
    }
}

} // namespace tegalo
