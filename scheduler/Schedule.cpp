#include "scheduler/Schedule.h"

namespace varnel {

LaunchTick::LaunchTick(WindowState& state, const IClock& clock, IProcessStarter& starter,
                       EventLog& log)
    : state_(state), clock_(clock), starter_(starter), log_(log) {}

namespace {

// The time of day `launchTime` names, when it is one the clock can show.
std::optional<LocalTime> LaunchTimeOfDay(const QString& launchTime) {
    return ReadTimeOfDay(launchTime, TimeForm::Exact);
}

} // namespace

bool InLaunchMinute(const IClock& clock, LocalTime local, const QString& launchTime) {
    if (ClockText(WholeSecond(local)) == launchTime)
        return true;
    const std::optional<LocalTime> t = LaunchTimeOfDay(launchTime);
    if (!t)
        return false;
    // A day whose clocks skip the launch time launches in the first minute
    // after the jump, which may fall on the next day.
    for (const qint64 day : {DayOf(local), DayOf(local) - 1}) {
        const LocalTime wall = DayStart(day) + *t;
        if (wall > local)
            continue;
        const LocalTime shown = clock.localAt(clock.instantOf(wall));
        if (shown != wall && WholeMinute(shown) == WholeMinute(local))
            return true;
    }
    return false;
}

std::optional<Instant> NextTickAt(const IClock& clock, ClockReading reading,
                                  const WindowState& state) {
    if (InLaunchMinute(clock, reading.local, state.LaunchTime))
        return WholeSecond(reading.instant) + kMsPerSecond;
    const std::optional<LocalTime> t = LaunchTimeOfDay(state.LaunchTime);
    if (!t)
        return std::nullopt;
    // Today's launch minute, or tomorrow's; the day after covers a day whose
    // clocks skip the launch time. On the night the clocks go back the minute
    // shows twice, and a window armed between the two waits for the later.
    for (qint64 day = DayOf(reading.local); day <= DayOf(reading.local) + 2; ++day) {
        for (const auto which : {IClock::Showing::First, IClock::Showing::Later}) {
            const Instant start = clock.instantOf(DayStart(day) + *t, which);
            if (start > reading.instant)
                return start;
        }
    }
    return std::nullopt;
}

void LaunchTick::run() {
    runAt(clock_.read());
}

void LaunchTick::runAt(ClockReading reading) {
    const LocalTime local = WholeSecond(reading.local);
    const LocalTime minute = WholeMinute(local);
    const bool due = InLaunchMinute(clock_, local, state_.LaunchTime);
    // Outside the launch minute the schedule is re-armed. So it is in any
    // minute but the launch's own, which covers a minute after the launch
    // that no tick saw (stopped, asleep, or a new time).
    if (!due || minute != launchedMinute_)
        state_.Launched = false;
    // The minute of the last launch never launches again, even when the
    // clocks go back and show it a second time.
    if (!due || state_.Launched || minute == launchedMinute_)
        return;
    if (starter_.start(state_.LaunchFile)) {
        state_.Launched = true;
        launchedMinute_ = minute;
        log_.write(LaunchSucceeded, QString(), state_.LaunchFile);
    } else {
        // A failed start stays unlaunched and is tried again next tick.
        log_.write(LaunchFailed, QString(), state_.LaunchFile);
    }
}

QString FoldTimeText(QString text) {
    for (QChar& c : text) {
        if (c.unicode() >= 0xFF10 && c.unicode() <= 0xFF1A) // ０-９ and ：
            c = QChar(c.unicode() - 0xFF10 + '0');
        else if (c.unicode() == 0x3000)
            c = QLatin1Char(' ');
    }
    return text;
}

std::optional<QString> CheckTime(const QString& typed) {
    const std::optional<LocalTime> t = ReadTimeOfDay(FoldTimeText(typed), TimeForm::Trimmed);
    if (!t)
        return std::nullopt;
    return ClockText(*t);
}

bool CheckFile(const IFileMatcher& files, const QString& typed) {
    return !typed.isEmpty() && files.matchesFile(typed);
}

std::optional<QString> StepTime(const QString& launchTime, int direction) {
    const std::optional<LocalTime> t = ReadTimeOfDay(launchTime, TimeForm::Loose);
    if (!t)
        return std::nullopt;
    return ClockText(*t + (direction >= 0 ? MinuteStep : -MinuteStep));
}

} // namespace varnel
