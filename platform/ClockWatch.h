#pragma once

#include <QObject>
#include <functional>

class QSocketNotifier;

namespace varnel {

// Tells when the wall clock jumps: it was set, or the machine woke from
// suspend. Timers run on a clock that knows nothing of either.
class IClockWatch {
public:
    virtual ~IClockWatch() = default;
    // `changed` runs on the event loop after each jump.
    virtual void setCallback(std::function<void()> changed) = 0;
};

// The kernel's word for it: a timer on the real-time clock, set far ahead with
// TFD_TIMER_CANCEL_ON_SET, is cancelled whenever that clock is set, which also
// happens on resume. Without timerfd the watch stays silent.
class TimerFdClockWatch final : public QObject, public IClockWatch {
    Q_OBJECT
public:
    explicit TimerFdClockWatch(QObject* parent = nullptr);
    ~TimerFdClockWatch() override;

    void setCallback(std::function<void()> changed) override;
    bool watching() const { return fd_ >= 0; }

private:
    bool arm();
    void readable();

    int fd_ = -1;
    QSocketNotifier* notifier_ = nullptr;
    std::function<void()> changed_;
};

} // namespace varnel
