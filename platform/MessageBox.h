#pragma once

#include <QString>

namespace varnel {

// A modal message with an OK button only and no icon, titled with the
// program's name. Returns when the user has dismissed it.
class IMessageBox {
public:
    virtual ~IMessageBox() = default;
    virtual void show(const QString& text) = 0;
};

} // namespace varnel
