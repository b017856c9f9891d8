#include "platform/Alarm.h"

#include <QSocketNotifier>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <ctime>
#include <sys/timerfd.h>
#include <unistd.h>

namespace varnel {

WallClockAlarm::WallClockAlarm(QObject* parent) : QObject(parent) {
    fd_ = ::timerfd_create(CLOCK_REALTIME, TFD_NONBLOCK | TFD_CLOEXEC);
    if (fd_ < 0) {
        error_ = errno;
        return;
    }
    notifier_ = new QSocketNotifier(fd_, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &WallClockAlarm::readable);
}

WallClockAlarm::~WallClockAlarm() {
    delete notifier_;
    if (fd_ >= 0)
        ::close(fd_);
}

void WallClockAlarm::setCallback(std::function<void()> woken) {
    woken_ = std::move(woken);
}

void WallClockAlarm::arm(Instant at) {
    itimerspec expiry = {};
    const Instant when = std::max<Instant>(at, 1); // zero would disarm it
    expiry.it_value.tv_sec = static_cast<time_t>(when / 1000);
    expiry.it_value.tv_nsec = static_cast<long>(when % 1000) * 1'000'000;
    // ECANCELED here reports a setting of the clock since the last aim; the
    // new aim is taken all the same, and the next read reports it again.
    ::timerfd_settime(fd_, TFD_TIMER_ABSTIME | TFD_TIMER_CANCEL_ON_SET, &expiry, nullptr);
}

void WallClockAlarm::cancel() {
    const itimerspec off = {};
    ::timerfd_settime(fd_, TFD_TIMER_ABSTIME, &off, nullptr);
}

void WallClockAlarm::readable() {
    // Eight bytes, the expiry count, when the alarm went off; ECANCELED when
    // the clock was set; nothing when it was re-aimed or cancelled after the
    // kernel woke the notifier.
    std::uint64_t expiries = 0;
    const ssize_t n = ::read(fd_, &expiries, sizeof expiries);
    const bool wentOff = n == sizeof expiries && expiries > 0;
    if ((wentOff || (n < 0 && errno == ECANCELED)) && woken_)
        woken_();
}

} // namespace varnel
