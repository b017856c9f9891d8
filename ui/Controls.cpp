#include "ui/Controls.h"

#include "scheduler/Schedule.h"

#include <QKeyEvent>
#include <QPainter>
#include <QStyleOptionFrame>

namespace varnel {

int KeyCodeOf(const QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)
        return 13;
    if (event->key() == Qt::Key_Tab || event->key() == Qt::Key_Backtab)
        return 0;
    const QString text = event->text();
    return text.isEmpty() ? 0 : text.at(0).unicode();
}

void TextBox::enter() {
    enterPending_ = true;
    setFocus(Qt::OtherFocusReason);
    // Entered at once: the focus event comes now, or when the window is
    // active again, or (already the focus of an active window) not at all.
    if (enterPending_ && onGotFocus)
        onGotFocus();
    if (hasFocus())
        enterPending_ = false;
}

void TextBox::focusInEvent(QFocusEvent* event) {
    QLineEdit::focusInEvent(event);
    // The focus entering the field inside the window (Tab, a click, a
    // shortcut, the program) selects its text; the focus coming back to it,
    // with its window from another application or from the field's own popup
    // (its context menu), leaves the caret where the user had it.
    const bool back = event->reason() == Qt::PopupFocusReason ||
                      (event->reason() == Qt::ActiveWindowFocusReason && leftWithWindow_);
    const bool entered = enterPending_ || !back;
    enterPending_ = false;
    leftWithWindow_ = false;
    if (!entered)
        return;
    selectAfterClick_ = event->reason() == Qt::MouseFocusReason;
    if (onGotFocus)
        onGotFocus();
}

void TextBox::focusOutEvent(QFocusEvent* event) {
    QLineEdit::focusOutEvent(event);
    selectAfterClick_ = false;
    leftWithWindow_ = event->reason() == Qt::ActiveWindowFocusReason;
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
    if (fold && fold(event->text()) != event->text()) {
        QKeyEvent folded(event->type(), event->key(), event->modifiers(), fold(event->text()),
                         event->isAutoRepeat(), event->count());
        QLineEdit::keyPressEvent(&folded);
        event->setAccepted(folded.isAccepted());
        return;
    }
    QLineEdit::keyPressEvent(event);
}

void TextBox::inputMethodEvent(QInputMethodEvent* event) {
    if (!fold || fold(event->commitString()) == event->commitString())
        return QLineEdit::inputMethodEvent(event);
    QInputMethodEvent folded(event->preeditString(), event->attributes());
    folded.setCommitString(fold(event->commitString()), event->replacementStart(),
                           event->replacementLength());
    QLineEdit::inputMethodEvent(&folded);
    event->setAccepted(folded.isAccepted());
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

QValidator::State TimeTextFolder::validate(QString& input, int&) const {
    input = FoldTimeText(input);
    return Acceptable;
}

void ValueBox::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    QStyleOptionFrame frame;
    frame.initFrom(this);
    frame.lineWidth = 1;
    frame.state |= QStyle::State_Sunken | QStyle::State_ReadOnly;
    style()->drawPrimitive(QStyle::PE_FrameLineEdit, &frame, &painter, this);
    // The text after its indent, never clipped to its room: a text that
    // fills the room to the pixel keeps the soft edges of its first and last
    // letters, and a tall one its descenders, on the box's own margins.
    const QRect room = contentsRect().adjusted(indent(), 0, 0, 0);
    style()->drawItemText(&painter, room, int(alignment()) | Qt::TextDontClip, palette(),
                          isEnabled(), text(), foregroundRole());
}

} // namespace varnel
