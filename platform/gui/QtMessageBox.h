#pragma once

#include "platform/MessageBox.h"

namespace varnel {

class QtMessageBox final : public IMessageBox {
public:
    explicit QtMessageBox(QString title) : title_(std::move(title)) {}
    void show(const QString& text) override;
    // From now on nothing is shown (there is no display left to show it on).
    void mute() { muted_ = true; }

private:
    QString title_;
    bool muted_ = false;
};

} // namespace varnel
