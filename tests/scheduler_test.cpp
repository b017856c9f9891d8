#include "fakes/Fakes.h"
#include "scheduler/KickTimer.h"
#include "scheduler/Schedule.h"

#include <gtest/gtest.h>

#include <vector>

namespace varnel {
namespace {

using test::FakeClock;
using test::FakeFolder;
using test::FakeStarter;
using test::FakeStateFolder;
using test::MemoryAppender;

LocalTime At(int day, int h, int m, int s = 0) {
    return MakeLocalTime(2026, 4, day, h, m, s);
}

LocalTime Day(int month, int day, int h, int m) {
    return MakeLocalTime(2026, month, day, h, m);
}

// A case's name, fit for a test name.
template <typename Case> std::string CaseName(const ::testing::TestParamInfo<Case>& info) {
    std::string name;
    for (const char* p = info.param.name; *p; ++p)
        name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
    return name;
}

// A stretch of ticks, one per second from `from` to `to` inclusive, with the
// launch time the window holds while they run (as after Stop, edit, Start).
struct Ticks {
    LocalTime from;
    LocalTime to;
    QString launchTime = QStringLiteral("07:30");
};

struct TickCase {
    const char* name;
    bool runnable;
    std::vector<Ticks> stretches; // local times; ticks run from the first moment showing `from`
    std::vector<QString> successStamps; // the stamps of the "○" lines, in order
    int failureLines;
    const char* zone = nullptr; // the clock's time zone; UTC when not given
};

class LaunchTickTest : public ::testing::TestWithParam<TickCase> {};

TEST_P(LaunchTickTest, LaunchesAndLogsAsExpected) {
    const TickCase& c = GetParam();
    FakeClock clock(0, c.zone);
    FakeStarter starter;
    MemoryAppender appender;
    FakeFolder folder(QStringLiteral("/opt/varnel"));
    FakeStateFolder stateFolder{QString()};
    EventLog log(clock, folder, appender, stateFolder);
    WindowState state;
    state.LaunchFile = QStringLiteral("/opt/tools/backup.sh");
    if (c.runnable)
        starter.runnable.insert(state.LaunchFile);
    LaunchTick tick(state, clock, starter, log);

    for (const Ticks& s : c.stretches) {
        state.LaunchTime = s.launchTime;
        const Instant end = clock.instantOf(s.to);
        for (clock.setLocal(s.from); clock.time <= end; clock.advance(1000))
            tick.run();
    }

    std::vector<QString> successStamps;
    int failures = 0;
    for (const QString& line : appender.lines) {
        if (line.startsWith(QStringLiteral("○起動成功（"))) {
            successStamps.push_back(line.mid(6, 19));
            EXPECT_TRUE(line.endsWith(QStringLiteral("）：/opt/tools/backup.sh")))
                << qPrintable(line);
        } else if (line.startsWith(QStringLiteral("×起動失敗（"))) {
            ++failures;
        } else {
            ADD_FAILURE() << "unexpected line " << qPrintable(line);
        }
    }
    EXPECT_EQ(successStamps, c.successStamps);
    EXPECT_EQ(failures, c.failureLines);
    EXPECT_EQ(starter.started.size(), qsizetype(c.successStamps.size()));
}

// Ticked from an hour before midnight to 02:00 in a zone whose clocks jump
// from `jump` (a midnight) to 01:00: the skipped launch time starts once, at
// 01:00.
TickCase MidnightJump(const char* zone, LocalTime jump, const char* launchTime) {
    return TickCase{zone,
                    true,
                    {{jump - 3600'000, jump + 2 * 3600'000, QString::fromUtf8(launchTime)}},
                    {StampText(jump + 3600'000)},
                    0,
                    zone};
}

const QString s0730 = QStringLiteral("2026/04/01 07:30:00");
const QString d2_0730 = QStringLiteral("2026/04/02 07:30:00");
const QString d3_0730 = QStringLiteral("2026/04/03 07:30:00");

INSTANTIATE_TEST_SUITE_P(
    Tick, LaunchTickTest,
    ::testing::Values(
        TickCase{"armed inside the minute launches on the first tick, once",
                 true,
                 {{At(1, 7, 30, 20), At(1, 7, 35)}},
                 {QStringLiteral("2026/04/01 07:30:20")},
                 0},
        TickCase{"armed one second before launches at the boundary",
                 true,
                 {{At(1, 7, 29, 59), At(1, 7, 31)}},
                 {s0730},
                 0},
        TickCase{"a file that cannot start fails once per tick of the minute, next day again",
                 false,
                 {{At(1, 7, 29), At(1, 7, 32)}, {At(2, 7, 29, 30), At(2, 7, 31)}},
                 {},
                 120},
        TickCase{"re-armed in the next minute, launches every day",
                 true,
                 {{At(1, 7, 29), At(1, 7, 32)},
                  {At(2, 7, 29), At(2, 7, 32)},
                  {At(3, 7, 29), At(3, 7, 32)}},
                 {s0730, d2_0730, d3_0730},
                 0},
        TickCase{
            "23:59 re-arms in the next day's 00:00",
            true,
            {{MakeLocalTime(2026, 4, 1, 23, 59, 30), At(2, 0, 1), QStringLiteral("23:59")},
             {MakeLocalTime(2026, 4, 2, 23, 58), MakeLocalTime(2026, 4, 2, 23, 59, 59),
              QStringLiteral("23:59")}},
            {QStringLiteral("2026/04/01 23:59:30"), QStringLiteral("2026/04/02 23:59:00")},
            0,
        },
        TickCase{"stop and start inside the launch minute does not launch twice",
                 true,
                 {{At(1, 7, 30), At(1, 7, 30, 10)}, {At(1, 7, 30, 20), At(1, 7, 30, 59)}},
                 {s0730},
                 0},
        // The minute after the launch passes with no tick (stopped, or the
        // machine asleep): the next day's launch still comes.
        TickCase{"a skipped re-arm minute does not skip the next day",
                 true,
                 {{At(1, 7, 30), At(1, 7, 30, 40)},
                  {At(1, 7, 45), At(1, 7, 45, 5)},
                  {At(2, 7, 29, 58), At(2, 7, 30, 5)}},
                 {s0730, d2_0730},
                 0},
        TickCase{"a new time armed after a launch fires the same day",
                 true,
                 {{At(1, 7, 30), At(1, 7, 30, 30)},
                  {At(1, 7, 50), At(1, 8, 1), QStringLiteral("08:00")}},
                 {s0730, QStringLiteral("2026/04/01 08:00:00")},
                 0},
        TickCase{"a launch time the clock never shows never launches",
                 true,
                 {{At(1, 7, 29), At(1, 7, 32), QStringLiteral("7 :30")}},
                 {},
                 0},
        // Asleep from just after one launch into the next day's launch minute.
        TickCase{"waking inside the next day's launch minute launches",
                 true,
                 {{At(1, 7, 30), At(1, 7, 30, 5)}, {At(2, 7, 30, 30), At(2, 7, 31)}},
                 {s0730, QStringLiteral("2026/04/02 07:30:30")},
                 0},
        // Daylight-saving nights, ticked through second by second of real time.
        TickCase{"clocks go back over the launch time: the repeated minute launches once",
                 true,
                 {{Day(10, 25, 1, 0), Day(10, 25, 4, 0), QStringLiteral("02:30")}},
                 {QStringLiteral("2026/10/25 02:30:00")},
                 0,
                 "Europe/Berlin"},
        TickCase{"clocks go forward over the launch time: launched once, after the jump",
                 true,
                 {{Day(3, 29, 1, 0), Day(3, 29, 4, 0), QStringLiteral("02:30")},
                  {Day(3, 30, 2, 29), Day(3, 30, 2, 31), QStringLiteral("02:30")}},
                 {QStringLiteral("2026/03/29 03:00:00"), QStringLiteral("2026/03/30 02:30:00")},
                 0,
                 "Europe/Berlin"},
        TickCase{"the first minute after the jump, named as such, launches once",
                 true,
                 {{Day(3, 29, 1, 0), Day(3, 29, 4, 0), QStringLiteral("03:00")}},
                 {QStringLiteral("2026/03/29 03:00:00")},
                 0,
                 "Europe/Berlin"},
        TickCase{"a failed launch after the jump retries every second of that minute",
                 false,
                 {{Day(3, 29, 1, 0), Day(3, 29, 4, 0), QStringLiteral("02:59")}},
                 {},
                 60,
                 "Europe/Berlin"},
        TickCase{"New York, clocks go back: 01:30 launches once",
                 true,
                 {{Day(11, 1, 0, 0), Day(11, 1, 3, 0), QStringLiteral("01:30")}},
                 {QStringLiteral("2026/11/01 01:30:00")},
                 0,
                 "America/New_York"},
        TickCase{"New York, clocks go forward: 02:00 launches at 03:00",
                 true,
                 {{Day(3, 8, 0, 0), Day(3, 8, 4, 0), QStringLiteral("02:00")}},
                 {QStringLiteral("2026/03/08 03:00:00")},
                 0,
                 "America/New_York"},
        TickCase{"a launch time next to the jump behaves as on any day",
                 true,
                 {{Day(3, 8, 0, 0), Day(3, 8, 4, 0), QStringLiteral("01:59")}},
                 {QStringLiteral("2026/03/08 01:59:00")},
                 0,
                 "America/New_York"},
        // Clocks that skip from midnight to 01:00, and a day skipped whole; in
        // past years, whose rules a newer time-zone database no longer changes.
        MidnightJump("Africa/Cairo", MakeLocalTime(2023, 4, 28, 0, 0), "00:30"),
        MidnightJump("Asia/Beirut", MakeLocalTime(2023, 3, 26, 0, 0), "00:00"),
        MidnightJump("America/Havana", MakeLocalTime(2023, 3, 12, 0, 0), "00:59"),
        MidnightJump("America/Santiago", MakeLocalTime(2023, 9, 3, 0, 0), "00:15"),
        MidnightJump("America/Asuncion", MakeLocalTime(2023, 10, 1, 0, 0), "00:30"),
        TickCase{"Apia skips 30 December 2011: launched once, as the 31st begins",
                 true,
                 {{MakeLocalTime(2011, 12, 29, 22, 0), MakeLocalTime(2011, 12, 31, 1, 0)}},
                 {QStringLiteral("2011/12/31 00:00:00")},
                 0,
                 "Pacific/Apia"}),
    CaseName<TickCase>);

// A launch tick for a runnable /bin/true at 07:30, with all it reaches.
struct TickRig {
    explicit TickRig(Instant t = 0) : clock(t) { starter.runnable.insert(state.LaunchFile); }
    FakeClock clock;
    FakeStarter starter;
    MemoryAppender appender;
    FakeFolder folder{QStringLiteral("/opt/varnel")};
    FakeStateFolder stateFolder{QString()};
    EventLog log{clock, folder, appender, stateFolder};
    WindowState state{QStringLiteral("07:30"), QStringLiteral("/bin/true"), false, RepeatNone};
    LaunchTick tick{state, clock, starter, log};
};

TEST(LaunchTick, ThreeDaysTickByTickLaunchThreeTimes) {
    TickRig rig(At(1, 0, 0));
    auto& [clock, starter, appender, folder, stateFolder, log, state, tick] = rig;
    for (int i = 0; i < 3 * 86400; ++i, clock.advance(1000))
        tick.run();
    ASSERT_EQ(appender.lines.size(), 3);
    EXPECT_EQ(starter.started.size(), 3);
    EXPECT_EQ(starter.attempts.size(), 3);
    EXPECT_TRUE(
        appender.lines.at(2).startsWith(QStringLiteral("○起動成功（2026/04/03 07:30:00）")));
}

struct DelayCase {
    const char* what;
    const char* zone;
    LocalTime local; // the reading, with its milliseconds
    const char* launchTime;
    qint64 delay; // to the next tick; -1: none can matter
};

class NextTickTest : public ::testing::TestWithParam<DelayCase> {};

TEST_P(NextTickTest, WakesOnlyWhenATickCanMatter) {
    const DelayCase& c = GetParam();
    FakeClock clock(0, c.zone);
    clock.setLocal(c.local);
    WindowState state;
    state.LaunchTime = QString::fromUtf8(c.launchTime);
    const std::optional<Instant> at = NextTickAt(clock, clock.read(), state);
    EXPECT_EQ(at ? *at - clock.time : -1, c.delay) << c.what;
}

constexpr qint64 kMinute = 60'000;
constexpr qint64 kDay = 1440 * kMinute;

INSTANTIATE_TEST_SUITE_P(
    Tick, NextTickTest,
    ::testing::Values(
        DelayCase{"a minute before", nullptr, At(1, 7, 29), "07:30", kMinute},
        DelayCase{"half a second before", nullptr, At(1, 7, 29, 59) + 500, "07:30", 500},
        DelayCase{"inside the minute: each second", nullptr, At(1, 7, 30) + 2, "07:30", 998},
        DelayCase{"the last second of the minute", nullptr, At(1, 7, 30, 59) + 700, "07:30", 300},
        DelayCase{"after the minute: the next day's", nullptr, At(1, 7, 31) + 2, "07:30",
                  kDay - kMinute - 2},
        DelayCase{"across midnight", nullptr, At(1, 23, 55), "00:01", 6 * kMinute},
        DelayCase{"no time the clock shows", nullptr, At(1, 7, 29), "7 :30", -1},
        DelayCase{"a time in another form", nullptr, At(1, 7, 29), "7:30", -1},
        DelayCase{"past the end of the day", nullptr, At(1, 23, 59), "24:00", -1},
        DelayCase{"Berlin, before a skipped launch time: to the jump", "Europe/Berlin",
                  Day(3, 29, 1, 55), "02:30", 5 * kMinute},
        DelayCase{"Berlin, the minute after the jump ticks each second", "Europe/Berlin",
                  Day(3, 29, 3, 0) + 2, "02:30", 998},
        DelayCase{"Berlin, clocks go back: to the first 02:30", "Europe/Berlin", Day(10, 25, 2, 25),
                  "02:30", 5 * kMinute},
        DelayCase{"Berlin, clocks go back, between the two: to the later 02:30", "Europe/Berlin",
                  Day(10, 25, 2, 45), "02:30", 45 * kMinute},
        DelayCase{"New York, before a skipped launch time", "America/New_York", Day(3, 8, 1, 58),
                  "02:30", 2 * kMinute},
        DelayCase{"New York, an hour before, across the jump", "America/New_York", Day(3, 8, 1, 0),
                  "03:05", 65 * kMinute}));

// The timer driven by its alarm for two days: each wake-up comes where the
// alarm was aimed; outside the launch minutes it wakes once a day, just after.
TEST(KickTimer, TicksEverySecondOfTheLaunchMinuteAndSleepsOtherwise) {
    TickRig rig;
    // Named references, which clang before 16 lets a lambda capture (it
    // refuses structured bindings there).
    auto& clock = rig.clock;
    auto& state = rig.state;
    auto& tick = rig.tick;
    test::FakeAlarm alarm;
    test::FakeZoneWatch zoneWatch;
    KickTimer kick(clock, alarm, zoneWatch, state);
    int ticksInLaunchMinutes = 0;
    QObject::connect(&kick, &KickTimer::timeout, [&] {
        // Never the second before the one the tick is due in.
        EXPECT_GE(clock.time, kick.due().value_or(0));
        if (InLaunchMinute(clock, clock.read().local, state.LaunchTime))
            ++ticksInLaunchMinutes;
        tick.run();
    });

    // Armed mid-morning, for two days.
    clock.setLocal(At(1, 9, 0));
    kick.start();
    int wakesOutside = 0;
    while (alarm.armed && *alarm.armed <= At(3, 9, 0)) {
        clock.time = *alarm.armed;
        if (!InLaunchMinute(clock, clock.read().local, state.LaunchTime))
            ++wakesOutside;
        alarm.fire();
    }
    std::vector<QString> launches;
    for (const QString& line : rig.appender.lines)
        launches.push_back(line.mid(6, 19));
    EXPECT_EQ(launches, (std::vector<QString>{d2_0730, d3_0730}));
    EXPECT_EQ(ticksInLaunchMinutes, 2 * 60);
    EXPECT_EQ(wakesOutside, 2);
    kick.stop();
    EXPECT_FALSE(alarm.armed.has_value());
}

// The clock is set, or the zone changes, while the timer sleeps towards the
// launch: it aims again at once. Stopped, it aims at nothing.
TEST(KickTimer, AClockSetOrANewZoneAimsAgain) {
    FakeClock clock(0, "Asia/Tokyo");
    test::FakeAlarm alarm;
    test::FakeZoneWatch zoneWatch;
    WindowState state{QStringLiteral("07:30"), QStringLiteral("/bin/true"), false, RepeatNone};
    KickTimer kick(clock, alarm, zoneWatch, state);
    int ticks = 0;
    QObject::connect(&kick, &KickTimer::timeout, [&] { ++ticks; });
    clock.setLocal(At(1, 7, 0));
    kick.start();
    EXPECT_EQ(alarm.armed, clock.instantOf(At(1, 7, 30)));

    // Travelled to Berlin: 07:28 there, and the launch follows Berlin's clock.
    clock.setZone("Europe/Berlin");
    clock.setLocal(At(1, 7, 28));
    zoneWatch.fire();
    EXPECT_EQ(alarm.armed, clock.instantOf(At(1, 7, 30)));

    // The clock is set back: the alarm wakes early, and no tick runs.
    clock.setLocal(At(1, 6, 0));
    alarm.fire();
    EXPECT_EQ(ticks, 0);
    EXPECT_EQ(alarm.armed, clock.instantOf(At(1, 7, 30)));

    // Set forward into the launch minute: a tick at once, then each second.
    clock.setLocal(At(1, 7, 30, 20) + 500);
    alarm.fire();
    EXPECT_EQ(ticks, 1);
    EXPECT_EQ(alarm.armed, clock.instantOf(At(1, 7, 30, 21)));

    kick.stop();
    zoneWatch.fire();
    EXPECT_FALSE(alarm.armed.has_value());
    EXPECT_FALSE(kick.isActive());
}

struct TimeCase {
    const char* typed;
    const char* accepted; // nullptr: rejected
};

class CheckTimeTest : public ::testing::TestWithParam<TimeCase> {};

TEST_P(CheckTimeTest, AcceptsOnlyTimesTheClockCanShow) {
    const TimeCase& c = GetParam();
    const std::optional<QString> result = CheckTime(QString::fromUtf8(c.typed));
    if (c.accepted) {
        ASSERT_TRUE(result.has_value()) << c.typed;
        EXPECT_EQ(*result, QString::fromUtf8(c.accepted));
    } else {
        EXPECT_FALSE(result.has_value()) << c.typed;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Start, CheckTimeTest,
    ::testing::Values(
        TimeCase{"07:30", "07:30"}, TimeCase{"00:00", "00:00"}, TimeCase{"23:59", "23:59"},
        TimeCase{"  07:30 ", "07:30"}, TimeCase{"\u300007:30\u3000", "07:30"},
        TimeCase{"7:30", nullptr}, TimeCase{"07.30", nullptr}, TimeCase{"07-30", nullptr},
        TimeCase{"24:00", nullptr}, TimeCase{"12:60", nullptr}, TimeCase{"-1:30", nullptr},
        TimeCase{"7 :30", nullptr}, TimeCase{"+7:30", nullptr}, TimeCase{"07:30:00", nullptr},
        TimeCase{"", nullptr}, TimeCase{"ab:cd", nullptr}, TimeCase{"07: 3", nullptr},
        TimeCase{"\t07:30", nullptr},
        // Typed with a Japanese input method on: full-width digits, colon and
        // blanks read as their ASCII forms, and nothing else does.
        TimeCase{"０７：３０", "07:30"}, TimeCase{"\u3000２３：５９ ", "23:59"},
        TimeCase{"07：30", "07:30"}, TimeCase{"７：３０", nullptr}, TimeCase{"０７．３０", nullptr},
        TimeCase{"２４：００", nullptr}, TimeCase{"１２：６０", nullptr},
        TimeCase{"０７﹕３０", nullptr}, TimeCase{"٠٧:٣٠", nullptr}));

class MatchEverything final : public IFileMatcher {
public:
    bool matchesFile(const QString& path) const override {
        asked = true;
        return !path.isNull();
    }
    mutable bool asked = false;
};

TEST(CheckFile, EmptyTextIsRejectedWithoutLookingAtTheDisk) {
    MatchEverything files;
    EXPECT_FALSE(CheckFile(files, QString()));
    EXPECT_FALSE(CheckFile(files, QStringLiteral("")));
    EXPECT_FALSE(files.asked);
    EXPECT_TRUE(CheckFile(files, QStringLiteral("/bin/true")));
}

struct StepCase {
    const char* from;
    int direction;
    const char* to; // nullptr: no result, the time stays as it was
};

class StepTimeTest : public ::testing::TestWithParam<StepCase> {};

TEST_P(StepTimeTest, MovesOneMinute) {
    const StepCase& c = GetParam();
    const std::optional<QString> result = StepTime(QString::fromUtf8(c.from), c.direction);
    if (c.to)
        EXPECT_EQ(result.value_or(QStringLiteral("<none>")), QString::fromUtf8(c.to)) << c.from;
    else
        EXPECT_FALSE(result.has_value()) << c.from;
}

INSTANTIATE_TEST_SUITE_P(
    Stepper, StepTimeTest,
    ::testing::Values(StepCase{"07:30", +1, "07:31"}, StepCase{"07:30", -1, "07:29"},
                      StepCase{"23:59", +1, "00:00"}, StepCase{"00:00", -1, "23:59"},
                      StepCase{"00:01", -1, "00:00"}, StepCase{"00:00", +1, "00:01"},
                      StepCase{"7:05", +1, "07:06"}, StepCase{"07:30:59", +1, "07:31"},
                      StepCase{"", +1, nullptr}, StepCase{"abc", -1, nullptr},
                      StepCase{"24:00", +1, nullptr}, StepCase{"7 :30", +1, nullptr},
                      StepCase{"07:60", -1, nullptr}));

TEST(StepTime, AFullDayOfStepsVisitsEveryMinuteOnceEachWay) {
    for (const int direction : {+1, -1}) {
        QString t = QStringLiteral("07:30");
        QSet<QString> seen;
        for (int i = 0; i < 1440; ++i) {
            t = StepTime(t, direction).value_or(QString());
            seen.insert(t);
        }
        EXPECT_EQ(t, QStringLiteral("07:30"));
        EXPECT_EQ(seen.size(), 1440);
    }
}

} // namespace
} // namespace varnel
