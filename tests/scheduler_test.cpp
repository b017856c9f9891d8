#include "fakes/Fakes.h"
#include "scheduler/Schedule.h"

#include <gtest/gtest.h>

#include <vector>

namespace varnel {
namespace {

using test::FakeClock;
using test::FakeFolder;
using test::FakeStarter;
using test::MemoryAppender;

LocalTime At(int day, int h, int m, int s = 0) {
    return MakeLocalTime(2026, 4, day, h, m, s);
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
    std::vector<Ticks> stretches;
    std::vector<QString> successStamps; // the stamps of the "○" lines, in order
    int failureLines;
};

class LaunchTickTest : public ::testing::TestWithParam<TickCase> {};

TEST_P(LaunchTickTest, LaunchesAndLogsAsExpected) {
    const TickCase& c = GetParam();
    FakeClock clock;
    FakeStarter starter;
    MemoryAppender appender;
    FakeFolder folder(QStringLiteral("/opt/varnel"));
    EventLog log(clock, folder, appender);
    WindowState state;
    state.LaunchFile = QStringLiteral("/opt/tools/backup.sh");
    if (c.runnable)
        starter.runnable.insert(state.LaunchFile);
    LaunchTick tick(state, clock, starter, log);

    for (const Ticks& s : c.stretches) {
        state.LaunchTime = s.launchTime;
        for (clock.time = s.from; clock.time <= s.to; clock.advance(1000))
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
                 0}),
    [](const ::testing::TestParamInfo<TickCase>& info) {
        std::string name;
        for (const char* p = info.param.name; *p; ++p)
            name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
        return name;
    });

TEST(LaunchTick, ThreeDaysTickByTickLaunchThreeTimes) {
    FakeClock clock(At(1, 0, 0));
    FakeStarter starter;
    MemoryAppender appender;
    FakeFolder folder(QStringLiteral("/opt/varnel"));
    EventLog log(clock, folder, appender);
    WindowState state{QStringLiteral("07:30"), QStringLiteral("/bin/true"), false, RepeatNone};
    starter.runnable.insert(state.LaunchFile);
    LaunchTick tick(state, clock, starter, log);
    for (int i = 0; i < 3 * 86400; ++i, clock.advance(1000))
        tick.run();
    ASSERT_EQ(appender.lines.size(), 3);
    EXPECT_EQ(starter.started.size(), 3);
    EXPECT_EQ(starter.attempts.size(), 3);
    EXPECT_TRUE(
        appender.lines.at(2).startsWith(QStringLiteral("○起動成功（2026/04/03 07:30:00）")));
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
        TimeCase{"7 :30", nullptr}, TimeCase{"+7:30", nullptr}, TimeCase{"０７:３０", nullptr},
        TimeCase{"07:30:00", nullptr}, TimeCase{"", nullptr}, TimeCase{"ab:cd", nullptr},
        TimeCase{"07: 3", nullptr}, TimeCase{"\t07:30", nullptr}, TimeCase{"07：30", nullptr}));

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
