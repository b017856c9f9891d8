#pragma once

#include <QLineEdit>
#include <functional>

namespace varnel {

// A one-line text box that reports the events the window handles itself:
// the arrival of the focus (not its return from the field's own popup), each character key (with a
// key code the handler may set to 0 to swallow the key) and a double click.
class TextBox final : public QLineEdit {
    Q_OBJECT
public:
    using QLineEdit::QLineEdit;

    std::function<void()> onGotFocus;
    std::function<void(int& keyCode)> onKeyPress;
    std::function<void()> onDblClick;

protected:
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    // The focus came with a mouse press, which placed the caret: the text is
    // selected again once that click is over, unless it dragged a selection.
    bool selectAfterClick_ = false;
};

// The key code of a character key event: 13 for Enter (either key), the
// character's code otherwise, or 0 when the key types no character.
int KeyCodeOf(const QKeyEvent* event);

} // namespace varnel
