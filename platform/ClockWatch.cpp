#include "platform/ClockWatch.h"

#include <QSocketNotifier>

#include <cstdint>
#include <ctime>
#include <sys/timerfd.h>
#include <unistd.h>

namespace varnel {

TimerFdClockWatch::TimerFdClockWatch(QObject* parent) : QObject(parent) {
    fd_ = ::timerfd_create(CLOCK_REALTIME, TFD_NONBLOCK | TFD_CLOEXEC);
    if (fd_ < 0)
        return;
    if (!arm()) {
        ::close(fd_);
        fd_ = -1;
        return;
    }
    notifier_ = new QSocketNotifier(fd_, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &TimerFdClockWatch::readable);
}

TimerFdClockWatch::~TimerFdClockWatch() {
    delete notifier_;
    if (fd_ >= 0)
        ::close(fd_);
}

void TimerFdClockWatch::setCallback(std::function<void()> changed) {
    changed_ = std::move(changed);
}

bool TimerFdClockWatch::arm() {
    // A year ahead: the timer is only there to be cancelled.
    timespec now = {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    itimerspec expiry = {};
    expiry.it_value.tv_sec = now.tv_sec + 366 * 86400;
    return ::timerfd_settime(fd_, TFD_TIMER_ABSTIME | TFD_TIMER_CANCEL_ON_SET, &expiry, nullptr) ==
           0;
}

void TimerFdClockWatch::readable() {
    // ECANCELED when the clock was set; the expiry count should the year
    // ever pass. Either way the timer is set again.
    std::uint64_t expiries = 0;
    [[maybe_unused]] const ssize_t n = ::read(fd_, &expiries, sizeof expiries);
    if (!arm())
        notifier_->setEnabled(false);
    if (changed_)
        changed_();
}

} // namespace varnel
