#pragma once

#include <QLabel>
#include <QLineEdit>
#include <QValidator>
#include <functional>

namespace varnel {

// A one-line text box that reports the events the window handles itself:
// the focus entering it (see focusInEvent), each character key (with a key
// code the handler may set to 0 to swallow the key) and a double click.
class TextBox final : public QLineEdit {
    Q_OBJECT
public:
    using QLineEdit::QLineEdit;

    std::function<void()> onGotFocus;
    std::function<void(int& keyCode)> onKeyPress;
    std::function<void()> onDblClick;
    // Rewrites typed text, and text an input method commits, before the
    // field takes it in, so that the edit is undone as the user made it.
    std::function<QString(QString)> fold;

    // Moves the focus here for the program (after a box, at Stop): an entry
    // like any other, also when the field had the focus before the box took
    // it, or when the window is given the focus only later.
    void enter();

protected:
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    // The focus came with a mouse press, which placed the caret: the text is
    // selected again once that click is over, unless it dragged a selection.
    bool selectAfterClick_ = false;
    // The field lost the focus because its window did: its return is no entry.
    bool leftWithWindow_ = false;
    // enter() asked for an entry the window has not yet delivered.
    bool enterPending_ = false;
};

// Keeps a time field in ASCII as text lands in it: full-width digits, colon
// and blanks become their ASCII forms, the caret where it was. It refuses
// nothing; 開始 checks. Typed and committed text comes folded already
// (TextBox::fold); what it rewrites (pasted, dropped) the toolkit takes as a
// new text, without the edits before it to undo.
class TimeTextFolder final : public QValidator {
    Q_OBJECT
public:
    using QValidator::QValidator;
    State validate(QString& input, int& pos) const override;
};

// A value shown, not edited, framed as the style frames a text box: whole at
// every scale, where a frame panel loses edges at 125 % and 175 %. Its plain
// text is drawn aligned left, after its indent.
class ValueBox final : public QLabel {
    Q_OBJECT
public:
    using QLabel::QLabel;

protected:
    void paintEvent(QPaintEvent* event) override;
};

// The key code of a character key event: 13 for Enter (either key), the
// character's code otherwise, or 0 when the key types no character.
int KeyCodeOf(const QKeyEvent* event);

} // namespace varnel
