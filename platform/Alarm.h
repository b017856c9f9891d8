#pragma once

#include "platform/Clock.h"

#include <QObject>
#include <functional>

class QSocketNotifier;
class QTimer;

namespace varnel {

// Wakes the program at a moment of the wall clock.
class IAlarm {
public:
    virtual ~IAlarm() = default;
    // `fired` runs on the event loop when an armed alarm goes off.
    virtual void setCallback(std::function<void()> fired) = 0;
    // Goes off at `at` (a moment as IClock::instantNow counts it), replacing
    // any earlier aim.
    virtual void arm(Instant at) = 0;
    virtual void cancel() = 0;
    // True when the alarm is set on the wall clock itself: it never goes off
    // before its moment, not late by the kernel's slack on long waits, and a
    // clock that is set or a machine that resumes is reported by the clock
    // watch. False when it counts elapsed time from arming: then it may go
    // off a little early or late, and knows nothing of suspend.
    virtual bool followsWallClock() const = 0;
};

// A timerfd on CLOCK_REALTIME with an absolute expiry: the kernel's
// high-resolution timer for the very moment, with no slack. Where no
// timerfd can be made it falls back to a Qt timer counting elapsed time.
class WallClockAlarm final : public QObject, public IAlarm {
    Q_OBJECT
public:
    explicit WallClockAlarm(QObject* parent = nullptr);
    ~WallClockAlarm() override;

    void setCallback(std::function<void()> fired) override;
    void arm(Instant at) override;
    void cancel() override;
    bool followsWallClock() const override { return fd_ >= 0; }

private:
    void readable();

    int fd_ = -1;
    QSocketNotifier* notifier_ = nullptr;
    QTimer* fallback_ = nullptr;
    std::function<void()> fired_;
};

} // namespace varnel
