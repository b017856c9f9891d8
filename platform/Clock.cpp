#include "platform/Clock.h"

#include <QDate>
#include <QDateTime>

#include <algorithm>
#include <ctime>

namespace varnel {

namespace {

constexpr qint64 kEpochJulianDay = 2440588; // 1970-01-01

qint64 floorDiv(qint64 a, qint64 b) {
    qint64 q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0)))
        --q;
    return q;
}

// Whole seconds, a fraction of one half or more going up.
qint64 roundedSeconds(LocalTime t) {
    return floorDiv(t + kMsPerSecond / 2, kMsPerSecond);
}

QString twoDigits(qint64 v) {
    return QStringLiteral("%1").arg(v, 2, 10, QLatin1Char('0'));
}

} // namespace

LocalTime WholeSecond(LocalTime t) {
    return floorDiv(t, kMsPerSecond) * kMsPerSecond;
}

LocalTime WholeMinute(LocalTime t) {
    return floorDiv(t, 60 * kMsPerSecond) * 60 * kMsPerSecond;
}

qint64 DayOf(LocalTime t) {
    return floorDiv(t, kMsPerDay);
}

ClockReading IClock::read() const {
    const Instant instant = instantNow();
    return {instant, localAt(instant)};
}

LocalTime IClock::now() const {
    return WholeSecond(read().local);
}

Instant IClock::instantOf(LocalTime wall, Showing which) const {
    // Every moment that shows `wall` is `wall` less the offset from UTC in
    // force then, and the offsets in force a day either side are the only
    // candidates (the clocks never change twice in a day).
    const qint64 offsetBefore = localAt(wall - kMsPerDay) - (wall - kMsPerDay);
    const qint64 offsetAfter = localAt(wall + kMsPerDay) - (wall + kMsPerDay);
    Instant chosen = 0;
    bool found = false;
    for (const qint64 offset : {offsetBefore, offsetAfter}) {
        const Instant candidate = wall - offset;
        if (localAt(candidate) == wall &&
            (!found || (which == Showing::First ? candidate < chosen : candidate > chosen))) {
            chosen = candidate;
            found = true;
        }
    }
    if (found)
        return chosen;
    // Skipped: the clocks jumped from before `wall` to after it. The jump lies
    // between the two candidates; find the first moment past it.
    Instant lo = wall - std::max(offsetBefore, offsetAfter); // shows less than `wall`
    Instant hi = wall - std::min(offsetBefore, offsetAfter); // shows more
    while (hi - lo > 1) {
        const Instant mid = lo + (hi - lo) / 2;
        (localAt(mid) < wall ? lo : hi) = mid;
    }
    return hi;
}

void ReloadLocalZone() {
    const QByteArray tz = qgetenv("TZ");
    if (!tz.isNull()) {
        qputenv("TZ", "UTC0");
        ::tzset();
        qputenv("TZ", tz);
    }
    ::tzset();
}

Instant SystemClock::instantNow() const {
    return QDateTime::currentMSecsSinceEpoch();
}

LocalTime SystemClock::localAt(Instant instant) const {
    const QDateTime dt = QDateTime::fromMSecsSinceEpoch(instant); // local time
    return (dt.date().toJulianDay() - kEpochJulianDay) * kMsPerDay +
           dt.time().msecsSinceStartOfDay();
}

LocalTime MakeLocalTime(int year, int month, int day, int hour, int minute, int second) {
    const qint64 days = QDate(year, month, day).toJulianDay() - kEpochJulianDay;
    return days * kMsPerDay + ((hour * 60 + minute) * 60 + second) * kMsPerSecond;
}

QString ClockText(LocalTime t) {
    const qint64 secondOfDay = roundedSeconds(t) - floorDiv(roundedSeconds(t), 86400) * 86400;
    return twoDigits(secondOfDay / 3600) + QLatin1Char(':') + twoDigits(secondOfDay / 60 % 60);
}

QString StampText(LocalTime t) {
    const qint64 s = roundedSeconds(t);
    const qint64 day = floorDiv(s, 86400);
    const qint64 secondOfDay = s - day * 86400;
    const QDate date = QDate::fromJulianDay(kEpochJulianDay + day);
    return QStringLiteral("%1/%2/%3 %4:%5:%6")
        .arg(date.year(), 4, 10, QLatin1Char('0'))
        .arg(twoDigits(date.month()), twoDigits(date.day()), twoDigits(secondOfDay / 3600),
             twoDigits(secondOfDay / 60 % 60), twoDigits(secondOfDay % 60));
}

std::optional<LocalTime> ReadTimeOfDay(const QString& text, TimeForm form) {
    const auto isBlank = [](QChar c) { return c == QChar(0x20); };
    qsizetype pos = 0;
    qsizetype end = text.size();
    if (form != TimeForm::Exact) {
        while (pos < end && isBlank(text.at(pos)))
            ++pos;
        while (end > pos && isBlank(text.at(end - 1)))
            --end;
    }
    // One field of digits: exactly two, or one or two when loose.
    const auto field = [&](int& value) {
        const qsizetype start = pos;
        while (pos < end && pos - start < 2 && text.at(pos) >= QLatin1Char('0') &&
               text.at(pos) <= QLatin1Char('9'))
            value = value * 10 + (text.at(pos++).unicode() - '0');
        return pos - start == 2 || (form == TimeForm::Loose && pos - start == 1);
    };
    const auto colon = [&] {
        if (pos >= end || text.at(pos) != QLatin1Char(':'))
            return false;
        ++pos;
        return true;
    };
    int hour = 0;
    int minute = 0;
    int second = 0;
    if (!field(hour) || !colon() || !field(minute))
        return std::nullopt;
    if (form == TimeForm::Loose && pos < end && (!colon() || !field(second)))
        return std::nullopt;
    if (pos != end || hour > 23 || minute > 59 || second > 59)
        return std::nullopt;
    return ((hour * 60 + minute) * 60 + second) * kMsPerSecond;
}

} // namespace varnel
