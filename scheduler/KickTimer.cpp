#include "scheduler/KickTimer.h"

#include <QElapsedTimer>

namespace varnel {

KickTimer::KickTimer(const IClock& clock, IAlarm& alarm, IZoneWatch& zoneWatch,
                     const WindowState& state, QObject* parent)
    : QObject(parent), clock_(clock), alarm_(alarm), state_(state) {
    alarm_.setCallback([this] { woken(); });
    zoneWatch.setCallback([this] {
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
    // Nothing to wait for when nothing can matter.
    due_ = NextTickAt(clock_, now, state_);
    if (due_)
        alarm_.arm(*due_);
    else
        alarm_.cancel();
}

void KickTimer::woken() {
    if (!active_)
        return;
    const ClockReading now = clock_.read();
    // The clock was set back before the moment: aim again from the new time.
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
