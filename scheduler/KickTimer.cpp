#include "scheduler/KickTimer.h"

#include <QElapsedTimer>

#include <algorithm>

namespace varnel {

KickTimer::KickTimer(const IClock& clock, IAlarm& alarm, IClockWatch& watch,
                     const WindowState& state, QObject* parent)
    : QObject(parent), clock_(clock), alarm_(alarm), state_(state) {
    alarm_.setCallback([this] { fired(); });
    watch.setCallback([this] {
        if (active_)
            aimFrom(clock_.read());
    });
}

void KickTimer::start() {
    active_ = true;
    aimFrom(clock_.read());
}

void KickTimer::stop() {
    active_ = false;
    due_.reset();
    alarm_.cancel();
}

void KickTimer::aimFrom(ClockReading now) {
    due_ = NextTickAt(clock_, now, state_);
    if (alarm_.followsWallClock()) {
        // The kernel wakes us at the very moment, and tells the clock watch
        // of every jump; nothing to wait for when nothing can matter.
        if (due_)
            alarm_.arm(*due_);
        else
            alarm_.cancel();
        return;
    }
    const Instant cap = WholeSecond(now.instant) + kMaxTickGap;
    due_ = due_ ? std::min(*due_, cap) : cap;
    Instant at = *due_ + kTickMargin;
    // The kernel lets a long wait end up to 0.1 % late (60 ms after a
    // minute): the last second is waited for apart.
    if (at - now.instant > 2 * kMsPerSecond)
        at -= kMsPerSecond;
    alarm_.arm(at);
}

void KickTimer::fired() {
    if (!active_)
        return;
    const ClockReading now = clock_.read();
    // Before its moment (a wait that ends short, on purpose or not) the
    // tick would read the second before the one it is due in.
    if (due_ && now.instant < *due_) {
        aimFrom(now);
        return;
    }
    // One reading serves the tick and the next aim; the time the tick takes
    // (a process start) is added from the cheap monotonic clock.
    QElapsedTimer spent;
    spent.start();
    emit timeout(now);
    if (active_)
        aimFrom(now.plus(spent.elapsed()));
}

} // namespace varnel
