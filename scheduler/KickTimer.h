#pragma once

#include "platform/Alarm.h"
#include "platform/ZoneWatch.h"
#include "scheduler/Schedule.h"

#include <QObject>
#include <optional>

namespace varnel {

// When the launch tick runs. While active it wakes the program only when a
// tick can matter: on each second of the launch minute and at the first
// moment of the next one. It aims again whenever the wall clock is set or the
// time zone changes, and it never lets a tick read the time before its aim.
class KickTimer final : public QObject {
    Q_OBJECT
public:
    KickTimer(const IClock& clock, IAlarm& alarm, IZoneWatch& zoneWatch, const WindowState& state,
              QObject* parent = nullptr);

    // Start: the first tick comes at the next moment that can matter (the
    // next whole second inside the launch minute). Stop: no more ticks.
    void start();
    void stop();
    bool isActive() const { return active_; }

    // The moment the next tick is due; nothing while inactive, or when no
    // moment can matter (a launch time the clock never shows) and the alarm
    // can sleep for good.
    std::optional<Instant> due() const { return due_; }

signals:
    // The tick is due; `now` is the reading that found it so.
    void timeout(varnel::ClockReading now);

private:
    void woken();
    void aimFrom(ClockReading now);

    const IClock& clock_;
    IAlarm& alarm_;
    const WindowState& state_;
    bool active_ = false;
    std::optional<Instant> due_;
};

} // namespace varnel
