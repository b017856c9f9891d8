#pragma once

#include "platform/MessageBox.h"

namespace varnel {

class QtMessageBox final : public IMessageBox {
public:
    explicit QtMessageBox(QString title) : title_(std::move(title)) {}
    void show(const QString& text) override;

private:
    QString title_;
};

} // namespace varnel
