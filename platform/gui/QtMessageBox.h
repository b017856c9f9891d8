#pragma once

#include "platform/MessageBox.h"

class QWidget;

namespace varnel {

class QtMessageBox final : public IMessageBox {
public:
    explicit QtMessageBox(QString title) : title_(std::move(title)) {}
    void show(const QString& text) override;
    // The window the boxes belong to: they open over it and stay with it
    // (transient for it on X11, its child on Wayland).
    void setParentWindow(QWidget* window) { parent_ = window; }
    // From now on nothing is shown (there is no display left to show it on).
    void mute() { muted_ = true; }

private:
    QString title_;
    QWidget* parent_ = nullptr;
    bool muted_ = false;
};

} // namespace varnel
