#pragma once

#include <QString>

namespace varnel {

class IProcessStarter {
public:
    virtual ~IProcessStarter() = default;
    // Starts the program whose path is the whole of `command` (blanks
    // included, no arguments, never through a shell) and does not wait for it.
    // Returns false when nothing was started.
    virtual bool start(const QString& command) = 0;
};

class DetachedProcessStarter final : public IProcessStarter {
public:
    bool start(const QString& command) override;
};

} // namespace varnel
