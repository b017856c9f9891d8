#pragma once

#include <QString>
#include <QtGlobal>
#include <optional>

namespace varnel {

// A local wall-clock date-time, counted in milliseconds from 1970-01-01 00:00
// local time. It carries no time zone: it is what the user's clock shows, so a
// day is always 86,400,000 ms and "minus one minute" is plain arithmetic.
using LocalTime = qint64;

// A moment, in milliseconds since 1970-01-01 00:00 UTC. Unlike the wall clock
// it never repeats or skips when the clocks change for daylight saving.
using Instant = qint64;

// One reading of the clock: the moment and what the wall clock shows then.
struct ClockReading {
    Instant instant;
    LocalTime local;

    ClockReading plus(qint64 ms) const { return {instant + ms, local + ms}; }
};

constexpr LocalTime kMsPerSecond = 1000;
constexpr LocalTime kMsPerDay = 86'400'000;

// One minute as the scheduler counts it: 0.0007 day, 60.48 s. Renderings round
// to the nearest second, which removes the 0.48 s again.
constexpr LocalTime MinuteStep = 60'480;

class IClock {
public:
    virtual ~IClock() = default;
    // The current moment with its milliseconds.
    virtual Instant instantNow() const = 0;
    // What the local wall clock shows at `instant`.
    virtual LocalTime localAt(Instant instant) const = 0;

    // The current moment and local time, from one reading.
    ClockReading read() const;
    // The current local time read to the whole second (the fraction dropped).
    LocalTime now() const;
    // A moment at which the wall clock shows `wall`: when the clocks go back
    // over it, the first or the later of its two showings; when they skip
    // it, the end of the gap.
    enum class Showing { First, Later };
    Instant instantOf(LocalTime wall, Showing which = Showing::First) const;
};

// The system's clock in the local time zone (which follows TZ).
class SystemClock final : public IClock {
public:
    Instant instantNow() const override;
    LocalTime localAt(Instant instant) const override;
};

// Makes the C library read the local zone afresh after its file changed. It
// does so by itself for /etc/localtime, but a file named by TZ is read again
// only when TZ itself changes.
void ReloadLocalZone();

// `t` with the fraction of its second dropped.
LocalTime WholeSecond(LocalTime t);

// The start of the minute that holds `t`.
LocalTime WholeMinute(LocalTime t);

// The day number of `t` (0 for 1970-01-01), and the start of a day.
qint64 DayOf(LocalTime t);
inline LocalTime DayStart(qint64 day) {
    return day * kMsPerDay;
}

// Builds a LocalTime from calendar fields (month and day from 1).
LocalTime MakeLocalTime(int year, int month, int day, int hour, int minute, int second = 0);

// "HH:NN", after rounding to the nearest whole second, the time of day wrapping
// round modulo 24 hours.
QString ClockText(LocalTime t);

// "YYYY/MM/DD HH:NN:SS", after rounding to the nearest whole second.
QString StampText(LocalTime t);

// How strictly a text is read as a time of day. The limits (hour 0-23,
// minute and second 0-59) are the same for all.
enum class TimeForm {
    Exact,   // exactly "HH:NN" in ASCII digits, as ClockText renders it
    Trimmed, // the same with blanks (U+0020) allowed at both ends
    Loose,   // blanks (U+0020) around; hour and minute of one or two digits;
             // an optional ":SS", like a general text-to-time conversion
};

// The time of day `text` names, as that time on day zero; nothing when the
// text is not such a time in the given form.
std::optional<LocalTime> ReadTimeOfDay(const QString& text, TimeForm form);

} // namespace varnel
