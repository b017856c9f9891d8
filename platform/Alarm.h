#pragma once

#include "platform/Clock.h"

#include <QObject>
#include <functional>

class QSocketNotifier;

namespace varnel {

// Wakes the program at a moment of the wall clock.
class IAlarm {
public:
    virtual ~IAlarm() = default;
    // `woken` runs on the event loop when an armed alarm goes off, and also
    // when the wall clock is set (or the machine resumes) while it is armed:
    // the moment may then still be ahead, and the caller aims again.
    virtual void setCallback(std::function<void()> woken) = 0;
    // Goes off at `at` (a moment as IClock::instantNow counts it), replacing
    // any earlier aim; a moment already past goes off at once.
    virtual void arm(Instant at) = 0;
    virtual void cancel() = 0;
};

// A timerfd on CLOCK_REALTIME with an absolute expiry: the kernel's
// high-resolution timer for the very moment, with no slack. Armed with
// TFD_TIMER_CANCEL_ON_SET, it also hears of every setting of the clock.
class WallClockAlarm final : public QObject, public IAlarm {
    Q_OBJECT
public:
    explicit WallClockAlarm(QObject* parent = nullptr);
    ~WallClockAlarm() override;

    // The errno of a timer that could not be made, or that refused to be
    // armed as every launch arms it (tried once here); the program cannot run
    // without it. 0 when it works.
    int error() const { return error_; }

    void setCallback(std::function<void()> woken) override;
    void arm(Instant at) override;
    void cancel() override;

private:
    void readable();

    int fd_ = -1;
    int error_ = 0;
    QSocketNotifier* notifier_ = nullptr;
    std::function<void()> woken_;
};

} // namespace varnel
