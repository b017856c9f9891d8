#include "platform/Alarm.h"

#include <QSocketNotifier>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <ctime>
#include <sys/timerfd.h>
#include <unistd.h>

namespace varnel {

namespace {

// Every aim: an absolute moment of the wall clock, and word of each setting
// of the clock while armed.
constexpr int kAimFlags = TFD_TIMER_ABSTIME | TFD_TIMER_CANCEL_ON_SET;

} // namespace

WallClockAlarm::WallClockAlarm(QObject* parent) : QObject(parent) {
    fd_ = ::timerfd_create(CLOCK_REALTIME, TFD_NONBLOCK | TFD_CLOEXEC);
    if (fd_ < 0) {
        error_ = errno;
        return;
    }
    // Proven once, as every launch will use it: armed a day ahead, then
    // disarmed. A kernel or sandbox that refuses either has no timer to give.
    itimerspec ahead = {};
    ahead.it_value.tv_sec = std::time(nullptr) + 86400;
    const itimerspec off = {};
    if (::timerfd_settime(fd_, kAimFlags, &ahead, nullptr) != 0 ||
        ::timerfd_settime(fd_, 0, &off, nullptr) != 0) {
        error_ = errno;
        ::close(fd_);
        fd_ = -1;
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
    // ECANCELED: the clock was set since the last aim, and nobody has read
    // the timer since. The kernel has taken this aim all the same, and
    // forgotten the setting; but the aim was made from a reading taken before
    // it. The caller is woken, as for the setting itself, to read the clock
    // again and aim anew.
    if (::timerfd_settime(fd_, kAimFlags, &expiry, nullptr) != 0 && errno == ECANCELED)
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (woken_)
                    woken_();
            },
            Qt::QueuedConnection);
}

void WallClockAlarm::cancel() {
    // Disarmed without CANCEL_ON_SET: a setting of the clock wakes nobody.
    const itimerspec off = {};
    ::timerfd_settime(fd_, 0, &off, nullptr);
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
