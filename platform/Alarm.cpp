#include "platform/Alarm.h"

#include <QDateTime>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <cstdint>
#include <ctime>
#include <limits>
#include <sys/timerfd.h>
#include <unistd.h>

namespace varnel {

WallClockAlarm::WallClockAlarm(QObject* parent) : QObject(parent) {
    fd_ = ::timerfd_create(CLOCK_REALTIME, TFD_NONBLOCK | TFD_CLOEXEC);
    if (fd_ >= 0) {
        notifier_ = new QSocketNotifier(fd_, QSocketNotifier::Read, this);
        connect(notifier_, &QSocketNotifier::activated, this, &WallClockAlarm::readable);
        return;
    }
    fallback_ = new QTimer(this);
    fallback_->setSingleShot(true);
    fallback_->setTimerType(Qt::PreciseTimer);
    connect(fallback_, &QTimer::timeout, this, [this] {
        if (fired_)
            fired_();
    });
}

WallClockAlarm::~WallClockAlarm() {
    delete notifier_;
    if (fd_ >= 0)
        ::close(fd_);
}

void WallClockAlarm::setCallback(std::function<void()> fired) {
    fired_ = std::move(fired);
}

void WallClockAlarm::arm(Instant at) {
    if (fd_ < 0) {
        const qint64 delay = std::clamp<qint64>(at - QDateTime::currentMSecsSinceEpoch(), 0,
                                                std::numeric_limits<int>::max());
        fallback_->start(static_cast<int>(delay));
        return;
    }
    // A moment already past still fires: the kernel reports it at once.
    itimerspec expiry = {};
    const Instant when = std::max<Instant>(at, 1);
    expiry.it_value.tv_sec = static_cast<time_t>(when / 1000);
    expiry.it_value.tv_nsec = static_cast<long>(when % 1000) * 1'000'000;
    ::timerfd_settime(fd_, TFD_TIMER_ABSTIME, &expiry, nullptr);
}

void WallClockAlarm::cancel() {
    if (fd_ < 0) {
        fallback_->stop();
        return;
    }
    const itimerspec off = {};
    ::timerfd_settime(fd_, TFD_TIMER_ABSTIME, &off, nullptr);
}

void WallClockAlarm::readable() {
    // Eight bytes, the expiry count, when the alarm went off; nothing when it
    // was re-aimed or cancelled after the kernel woke the notifier.
    std::uint64_t expiries = 0;
    if (::read(fd_, &expiries, sizeof expiries) != sizeof expiries || expiries == 0)
        return;
    if (fired_)
        fired_();
}

} // namespace varnel
