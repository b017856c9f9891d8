#pragma once

#include <QString>
#include <QtGlobal>
#include <optional>

namespace varnel {

// A local wall-clock date-time, counted in milliseconds from 1970-01-01 00:00
// local time. It carries no time zone: it is what the user's clock shows, so a
// day is always 86,400,000 ms and "minus one minute" is plain arithmetic.
using LocalTime = qint64;

constexpr LocalTime kMsPerSecond = 1000;
constexpr LocalTime kMsPerDay = 86'400'000;

// One minute as the scheduler counts it: 0.0007 day, 60.48 s. Renderings round
// to the nearest second, which removes the 0.48 s again.
constexpr LocalTime MinuteStep = 60'480;

class IClock {
public:
    virtual ~IClock() = default;
    // The current local time with its milliseconds.
    virtual LocalTime nowPrecise() const = 0;
    // The current local time read to the whole second (the fraction dropped).
    LocalTime now() const;
};

class SystemClock final : public IClock {
public:
    LocalTime nowPrecise() const override;
};

// `t` with the fraction of its second dropped.
LocalTime WholeSecond(LocalTime t);

// Builds a LocalTime from calendar fields (month and day from 1).
LocalTime MakeLocalTime(int year, int month, int day, int hour, int minute, int second = 0);

// "HH:NN", after rounding to the nearest whole second, the time of day wrapping
// round modulo 24 hours.
QString ClockText(LocalTime t);

// "YYYY/MM/DD HH:NN:SS", after rounding to the nearest whole second.
QString StampText(LocalTime t);

// A time of day such as "07:30", "7:05" or "07:30:15" as that time on day zero.
// Blanks around it are allowed; anything else gives nothing.
std::optional<LocalTime> TimeFromText(const QString& text);

} // namespace varnel
