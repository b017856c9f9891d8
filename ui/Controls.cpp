#include "ui/Controls.h"

#include <QKeyEvent>

namespace varnel {

int KeyCodeOf(const QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)
        return 13;
    if (event->key() == Qt::Key_Tab || event->key() == Qt::Key_Backtab)
        return 0;
    const QString text = event->text();
    return text.isEmpty() ? 0 : text.at(0).unicode();
}

void TextBox::focusInEvent(QFocusEvent* event) {
    QLineEdit::focusInEvent(event);
    // Back from the field's own popup (its context menu): the focus never
    // left the field for the user, and a paste goes in at the caret.
    if (event->reason() == Qt::PopupFocusReason)
        return;
    selectAfterClick_ = event->reason() == Qt::MouseFocusReason;
    if (onGotFocus)
        onGotFocus();
}

void TextBox::focusOutEvent(QFocusEvent* event) {
    QLineEdit::focusOutEvent(event);
    selectAfterClick_ = false;
}

void TextBox::keyPressEvent(QKeyEvent* event) {
    int keyCode = KeyCodeOf(event);
    if (keyCode != 0 && onKeyPress) {
        onKeyPress(keyCode);
        if (keyCode == 0) {
            event->accept();
            return;
        }
    }
    QLineEdit::keyPressEvent(event);
}

void TextBox::mouseReleaseEvent(QMouseEvent* event) {
    QLineEdit::mouseReleaseEvent(event);
    if (selectAfterClick_ && !hasSelectedText() && onGotFocus)
        onGotFocus();
    selectAfterClick_ = false;
}

void TextBox::mouseDoubleClickEvent(QMouseEvent* event) {
    QLineEdit::mouseDoubleClickEvent(event);
    if (onDblClick)
        onDblClick();
}

} // namespace varnel
