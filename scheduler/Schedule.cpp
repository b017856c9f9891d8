#include "scheduler/Schedule.h"

namespace varnel {

LaunchTick::LaunchTick(WindowState& state, const IClock& clock, IProcessStarter& starter,
                       EventLog& log)
    : state_(state), clock_(clock), starter_(starter), log_(log) {}

void LaunchTick::run() {
    runAt(clock_.now());
}

void LaunchTick::runAt(LocalTime reading) {
    // Outside the launch minute the schedule is re-armed. This also covers a
    // minute after the launch that no tick saw (stopped, asleep, or a new
    // time), which would otherwise skip the next day's launch.
    if (ClockText(WholeSecond(reading)) != state_.LaunchTime) {
        state_.Launched = false;
        return;
    }
    if (state_.Launched)
        return;
    if (starter_.start(state_.LaunchFile)) {
        state_.Launched = true;
        log_.write(LaunchSucceeded, QString(), state_.LaunchFile);
    } else {
        // A failed start stays unlaunched and is tried again next tick.
        log_.write(LaunchFailed, QString(), state_.LaunchFile);
    }
}

std::optional<QString> CheckTime(const QString& typed) {
    const auto isBlank = [](QChar c) { return c == QChar(0x20) || c == QChar(0x3000); };
    qsizetype begin = 0;
    qsizetype end = typed.size();
    while (begin < end && isBlank(typed.at(begin)))
        ++begin;
    while (end > begin && isBlank(typed.at(end - 1)))
        --end;
    const QString t = typed.mid(begin, end - begin);
    const auto isDigit = [](QChar c) { return c >= QLatin1Char('0') && c <= QLatin1Char('9'); };
    if (t.size() != 5 || t.at(2) != QLatin1Char(':') || !isDigit(t.at(0)) || !isDigit(t.at(1)) ||
        !isDigit(t.at(3)) || !isDigit(t.at(4)))
        return std::nullopt;
    const int hour = t.left(2).toInt();
    const int minute = t.mid(3, 2).toInt();
    if (hour > 23 || minute > 59)
        return std::nullopt;
    return t;
}

bool CheckFile(const IFileMatcher& files, const QString& typed) {
    return !typed.isEmpty() && files.matchesFile(typed);
}

std::optional<QString> StepTime(const QString& launchTime, int direction) {
    const std::optional<LocalTime> t = TimeFromText(launchTime);
    if (!t)
        return std::nullopt;
    return ClockText(*t + (direction >= 0 ? MinuteStep : -MinuteStep));
}

} // namespace varnel
