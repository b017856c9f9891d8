#include "TempDir.h"
#include "fakes/Fakes.h"
#include "platform/Alarm.h"
#include "platform/Clock.h"
#include "platform/Files.h"
#include "platform/InstanceClaim.h"
#include "platform/Process.h"
#include "platform/Settings.h"
#include "platform/ZoneWatch.h"
#include "platform/gui/Display.h"
#include "platform/gui/QtFileDialog.h"
#include "platform/gui/Translation.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QThread>
#include <QVariantMap>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pwd.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace varnel {
namespace {

using test::Hex;
using test::ReadAll;
using test::WriteAll;

LocalTime Hms(int h, int m, int s, int ms = 0) {
    return ((h * 60 + m) * 60 + s) * 1000 + ms;
}

struct RenderCase {
    const char* what;
    LocalTime value;
    const char* clockText;
};

TEST(Clock, ClockTextRoundsToTheSecondAndWrapsTheDay) {
    const RenderCase cases[] = {
        {"07:30 + one step", Hms(7, 30, 0) + MinuteStep, "07:31"},
        {"07:30 - one step", Hms(7, 30, 0) - MinuteStep, "07:29"},
        {"00:00 - one step", Hms(0, 0, 0) - MinuteStep, "23:59"},
        {"23:59 + one step", Hms(23, 59, 0) + MinuteStep, "00:00"},
        {"reading 07:31:00 - one step", Hms(7, 31, 0) - MinuteStep, "07:30"},
        {"reading 07:31:59 - one step", Hms(7, 31, 59) - MinuteStep, "07:30"},
        {"reading 07:32:00 - one step", Hms(7, 32, 0) - MinuteStep, "07:31"},
        {"half a second rounds up", Hms(7, 29, 59, 500), "07:30"},
        {"just under half rounds down", Hms(7, 29, 59, 499), "07:29"},
        {"a date part is ignored", MakeLocalTime(2026, 4, 1, 9, 41, 27), "09:41"},
        {"before 1970", MakeLocalTime(1969, 12, 31, 22, 5, 0), "22:05"},
    };
    for (const RenderCase& c : cases)
        EXPECT_EQ(ClockText(c.value), QString::fromLatin1(c.clockText)) << c.what;
}

TEST(Clock, StampTextIsNineteenCharacters) {
    EXPECT_EQ(StampText(MakeLocalTime(2026, 4, 1, 7, 29, 12)), "2026/04/01 07:29:12");
    EXPECT_EQ(StampText(MakeLocalTime(2026, 12, 31, 23, 59, 59) + 600), "2027/01/01 00:00:00");
    EXPECT_EQ(StampText(MakeLocalTime(2024, 2, 29, 0, 0, 5) + 499), "2024/02/29 00:00:05");
    EXPECT_EQ(StampText(MakeLocalTime(1969, 12, 31, 23, 0, 1)), "1969/12/31 23:00:01");
}

TEST(Clock, ReadingDropsTheFractionOfASecond) {
    test::FakeClock clock(MakeLocalTime(2026, 4, 1, 7, 30, 0) + 999);
    EXPECT_EQ(clock.now(), MakeLocalTime(2026, 4, 1, 7, 30, 0));
    clock.time = MakeLocalTime(1969, 12, 31, 23, 59, 59) + 1;
    EXPECT_EQ(clock.now(), MakeLocalTime(1969, 12, 31, 23, 59, 59));
}

TEST(Clock, SystemClockAgreesWithTheLocalTime) {
    SystemClock clock;
    const QDateTime before = QDateTime::currentDateTime();
    const LocalTime t = clock.now();
    const QString stamp = StampText(t);
    const QDateTime after = QDateTime::currentDateTime();
    EXPECT_GE(stamp, before.toString(QStringLiteral("yyyy/MM/dd HH:mm:ss")));
    EXPECT_LE(stamp, after.toString(QStringLiteral("yyyy/MM/dd HH:mm:ss")));
    EXPECT_EQ(t % 1000, 0);
}

TEST(Clock, TheAlarmGoesOffAtItsMomentNotBefore) {
    int argc = 0;
    QCoreApplication app(argc, nullptr);
    WallClockAlarm alarm;
    EXPECT_EQ(alarm.error(), 0);
    SystemClock clock;
    std::optional<Instant> wokeAt;
    alarm.setCallback([&] { wokeAt = clock.instantNow(); });
    const Instant at = clock.instantNow() + 120;
    alarm.arm(at - 60'000); // replaced by the next aim
    alarm.arm(at);
    // Aimed at a moment of the wall clock, and cancelled when the clock is set
    // (TFD_TIMER_ABSTIME | TFD_TIMER_CANCEL_ON_SET), as the kernel shows it.
    QStringList flags;
    for (const auto& fd : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code unreadable;
        if (std::filesystem::read_symlink(fd.path(), unreadable) == "anon_inode:[timerfd]")
            flags += QString::fromLatin1(
                         ReadAll("/proc/self/fdinfo/" + QString(fd.path().filename().c_str())))
                         .split('\n')
                         .filter(QStringLiteral("settime flags"));
    }
    EXPECT_EQ(flags, QStringList{QStringLiteral("settime flags: 03")});
    for (QDeadlineTimer deadline(5000); !wokeAt && !deadline.hasExpired();)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    ASSERT_TRUE(wokeAt.has_value());
    EXPECT_GE(*wokeAt, at);
}

// The zone link is replaced the way a desktop's date settings do it: a new
// link renamed over the old one. The watch says so, and the clock follows.
TEST(Clock, TheWatchTellsOfANewZoneAndTheClockFollowsIt) {
    int argc = 0;
    QCoreApplication app(argc, nullptr);
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("localtime"));
    ASSERT_TRUE(QFile::link(QStringLiteral("/usr/share/zoneinfo/UTC"), link));
    const QByteArray oldTz = qgetenv("TZ");
    qputenv("TZ", ":" + QFile::encodeName(link));
    ZoneWatch watch(LocalZoneFiles());
    int changes = 0;
    watch.setCallback([&] { ++changes; });
    SystemClock clock;
    const Instant now = clock.instantNow();
    EXPECT_EQ(clock.localAt(now) - now, 0);

    ASSERT_TRUE(QFile::link(QStringLiteral("/usr/share/zoneinfo/Asia/Tokyo"),
                            dir.filePath(QStringLiteral("new"))));
    ASSERT_EQ(
        ::rename(QFile::encodeName(dir.filePath(QStringLiteral("new"))), QFile::encodeName(link)),
        0);
    for (QDeadlineTimer deadline(5000); changes == 0 && !deadline.hasExpired();)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(clock.localAt(now) - now, 9 * 3600 * kMsPerSecond);
    oldTz.isNull() ? qunsetenv("TZ") : qputenv("TZ", oldTz);
}

TEST(Clock, ReadTimeOfDayInEachForm) {
    using F = TimeForm;
    const auto none = std::nullopt;
    // text, then what the exact, trimmed and loose forms read
    const std::tuple<const char*, std::optional<LocalTime>, std::optional<LocalTime>,
                     std::optional<LocalTime>>
        cases[] = {
            {"07:30", Hms(7, 30, 0), Hms(7, 30, 0), Hms(7, 30, 0)},
            {"00:00", 0, 0, 0},
            {"23:59", Hms(23, 59, 0), Hms(23, 59, 0), Hms(23, 59, 0)},
            {" 07:30 ", none, Hms(7, 30, 0), Hms(7, 30, 0)},
            {"\u300007:30\u3000", none, none, none},
            {"7:05", none, none, Hms(7, 5, 0)},
            {"07:3", none, none, Hms(7, 3, 0)},
            {"23:59:59", none, none, Hms(23, 59, 59)},
            {"07:30:", none, none, none},
            {"07:30:60", none, none, none},
            {"24:00", none, none, none},
            {"07:60", none, none, none},
            {"", none, none, none},
            {"7 :30", none, none, none},
            {"07-30", none, none, none},
            {"+7:30", none, none, none},
            {"\t07:30", none, none, none},
            {"０７:３０", none, none, none},
            {"07：30", none, none, none},
            {"123:00", none, none, none},
        };
    for (const auto& [text, exact, trimmed, loose] : cases) {
        const QString t = QString::fromUtf8(text);
        EXPECT_EQ(ReadTimeOfDay(t, F::Exact), exact) << text;
        EXPECT_EQ(ReadTimeOfDay(t, F::Trimmed), trimmed) << text;
        EXPECT_EQ(ReadTimeOfDay(t, F::Loose), loose) << text;
    }
}

TEST(Cp932, FixedPiecesHaveTheExpectedBytes) {
    const std::pair<const char*, const char*> cases[] = {
        {"×起動失敗（", "81 7E 8B 4E 93 AE 8E B8 94 73 81 69"},
        {"○起動成功（", "81 9B 8B 4E 93 AE 90 AC 8C F7 81 69"},
        {"－通常処理（", "81 7C 92 CA 8F ED 8F 88 97 9D 81 69"},
        {"）：", "81 6A 81 46"},
        {" － ", "20 81 7C 20"},
        {"\u3000", "81 40"},
        {"/a b\\~", "2F 61 20 62 5C 7E"},
        {"é", "3F"},
        {"a😀b", "61 3F 62"},
        {"Ω×", "83 B6 81 7E"},
        // What Linux input methods type for the wave dash, minus and yen.
        {"〜", "81 60"},
        {"−", "81 7C"},
        {"¥", "5C"},
        {"\uF86F", "3F"},
        {"", ""},
    };
    for (const auto& [text, hex] : cases)
        EXPECT_EQ(EncodeCp932(QString::fromUtf8(text)).toHex(' '), Hex(hex).toHex(' ')) << text;
}

class TempFolder : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString at(const QString& name) const { return dir.filePath(name); }
};

using Appender = TempFolder;

TEST_F(Appender, CreatesThenAppendsCp932LinesWithCrLf) {
    Cp932Appender appender;
    const QString file = at("Varnel.LOG");
    EXPECT_TRUE(appender.appendLine(file, QStringLiteral("○a")));
    EXPECT_TRUE(appender.appendLine(file, QStringLiteral("b")));
    EXPECT_EQ(ReadAll(file).toHex(' '), Hex("81 9B 61 0D 0A 62 0D 0A").toHex(' '));
}

TEST_F(Appender, KeepsEarlierBytesAndCreatesEmptyWithoutALine) {
    Cp932Appender appender;
    const QString file = at("old.LOG");
    ASSERT_TRUE(WriteAll(file, QByteArray("\xEF\xBB\xBF no newline", 14)));
    EXPECT_TRUE(appender.appendLine(file, std::nullopt));
    EXPECT_TRUE(appender.appendLine(file, QStringLiteral("x")));
    EXPECT_EQ(ReadAll(file), QByteArray("\xEF\xBB\xBF no newline", 14) + "x\r\n");

    const QString fresh = at("fresh.LOG");
    EXPECT_TRUE(appender.appendLine(fresh, std::nullopt));
    EXPECT_TRUE(QFileInfo::exists(fresh));
    EXPECT_EQ(QFileInfo(fresh).size(), 0);
}

TEST_F(Appender, ReportsFailureForFoldersAndMissingFolders) {
    Cp932Appender appender;
    ASSERT_TRUE(QDir(dir.path()).mkdir("Varnel.LOG"));
    EXPECT_FALSE(appender.appendLine(at("Varnel.LOG"), QStringLiteral("x")));
    EXPECT_FALSE(appender.appendLine(at("gone/Varnel.LOG"), QStringLiteral("x")));
    EXPECT_FALSE(QFileInfo::exists(at("gone")));
    EXPECT_FALSE(appender.isOwnAppendable(at("Varnel.LOG")));
    EXPECT_FALSE(appender.isOwnAppendable(at("gone/Varnel.LOG")));
    EXPECT_TRUE(appender.isOwnAppendable(at("new.LOG")));
    // The user's own folder, but one that others may write in, or a link
    // named like the log: either could send the lines anywhere.
    ASSERT_TRUE(WriteAll(at("own.LOG"), ""));
    ASSERT_TRUE(QFile::link(at("own.LOG"), at("link.LOG")));
    EXPECT_TRUE(appender.isOwnAppendable(at("own.LOG")));
    EXPECT_FALSE(appender.isOwnAppendable(at("link.LOG")));
    for (const mode_t open : {0770, 0707, 01777}) {
        ASSERT_EQ(::chmod(QFile::encodeName(dir.path()).constData(), open), 0);
        EXPECT_FALSE(appender.isOwnAppendable(at("own.LOG"))) << std::oct << open;
    }
    ASSERT_EQ(::chmod(QFile::encodeName(dir.path()).constData(), 0700), 0);
    // Folders the user may write in but does not own: a system folder (root
    // writes there), and another user's folder open to all (/tmp for anyone
    // but root, who is given one).
    EXPECT_FALSE(appender.isOwnAppendable(QStringLiteral("/usr/bin/Varnel.LOG")));
    QString others = QStringLiteral("/tmp");
    if (::geteuid() == 0) {
        others = at("others");
        ASSERT_TRUE(QDir(dir.path()).mkdir("others"));
        ASSERT_EQ(::chown(QFile::encodeName(others).constData(), 65534, 65534), 0);
        ASSERT_EQ(::chmod(QFile::encodeName(others).constData(), 0777), 0);
        // In root's own folder, a log that another user made.
        ASSERT_TRUE(WriteAll(at("Theirs.LOG"), ""));
        ASSERT_EQ(::chown(QFile::encodeName(at("Theirs.LOG")).constData(), 65534, 65534), 0);
        EXPECT_FALSE(appender.isOwnAppendable(at("Theirs.LOG")));
        EXPECT_FALSE(appender.appendLine(at("Theirs.LOG"), QStringLiteral("x")));
        EXPECT_EQ(QFileInfo(at("Theirs.LOG")).size(), 0);
    }
    EXPECT_FALSE(appender.isOwnAppendable(others + "/Varnel.LOG"));
    // A named pipe with a reader opens at once, and still receives nothing.
    const QByteArray pipe = QFile::encodeName(at("pipe.LOG"));
    ASSERT_EQ(::mkfifo(pipe.constData(), 0600), 0);
    const int reader = ::open(pipe.constData(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    EXPECT_FALSE(appender.appendLine(at("pipe.LOG"), QStringLiteral("x")));
    char got = 0;
    EXPECT_LE(::read(reader, &got, 1), 0);
    ::close(reader);
}

// Whole path components: /optical is nobody's system folder, /opt/x is.
TEST(SystemFolder, IsAWholeComponentOrTheRoot) {
    const std::pair<const char*, bool> cases[] = {
        {"/", true},         {"/opt", true},           {"/opt/varnel", true},
        {"/lib", true},      {"/usr/local/bin", true}, {"/optical", false},
        {"/library", false}, {"/usr2", false},         {"/home/u/opt", false},
    };
    for (const auto& [folder, system] : cases)
        EXPECT_EQ(InSystemFolder(QString::fromLatin1(folder)), system) << folder;
}

TEST_F(TempFolder, StateFolderIsMadePrivateWhereTheXdgBaseDirectoryRulesSay) {
    const QByteArray home = qgetenv("HOME");
    const QByteArray state = qgetenv("XDG_STATE_HOME");
    const struct {
        QString stateHome; // XDG_STATE_HOME; empty: unset
        QString expected;  // relative to the temporary folder
    } cases[] = {
        {"", "home/.local/state/Varnel"},
        {at("state"), "state/Varnel"},
        {"relative/ignored", "home/.local/state/Varnel"},
    };
    ASSERT_TRUE(QDir(dir.path()).mkpath("home/.local"));
    qputenv("HOME", QFile::encodeName(at("home")));
    for (const auto& c : cases) {
        c.stateHome.isEmpty() ? qunsetenv("XDG_STATE_HOME")
                              : qputenv("XDG_STATE_HOME", QFile::encodeName(c.stateHome));
        EXPECT_EQ(XdgStateFolder(QStringLiteral("Varnel")).createIfAbsent(), at(c.expected));
        EXPECT_EQ(QFileInfo(at(c.expected)).permissions() & 0x7777,
                  QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadUser |
                      QFile::WriteUser | QFile::ExeUser);
    }
    // A folder that was there keeps its mode.
    EXPECT_TRUE(QFileInfo(at("home/.local")).permissions() & QFile::ReadOther);
    qputenv("HOME", at("no/such/home").toUtf8());
    qunsetenv("XDG_STATE_HOME");
    ASSERT_TRUE(WriteAll(at("no"), "a file where a folder should be"));
    EXPECT_EQ(XdgStateFolder(QStringLiteral("Varnel")).createIfAbsent(), QString());
    home.isNull() ? qunsetenv("HOME") : qputenv("HOME", home);
    state.isNull() ? qunsetenv("XDG_STATE_HOME") : qputenv("XDG_STATE_HOME", state);
}

using Matcher = TempFolder;

TEST_F(Matcher, MatchesOnlyLiteralVisibleRegularFiles) {
    ASSERT_TRUE(WriteAll(at("job.sh"), "x"));
    ASSERT_TRUE(WriteAll(at("read-only.sh"), "x"));
    ASSERT_EQ(::chmod(QFile::encodeName(at("read-only.sh")).constData(), 0444), 0);
    ASSERT_TRUE(WriteAll(at(".hidden"), "x"));
    ASSERT_TRUE(WriteAll(at("*.txt"), "x"));
    ASSERT_TRUE(QDir(dir.path()).mkdir("folder"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(at("pipe")).constData(), 0600), 0);
    ASSERT_TRUE(QFile::link(at("job.sh"), at("link.sh")));
    ASSERT_TRUE(QFile::link(at("folder"), at("link-to-folder")));

    const QString oldCwd = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(dir.path()));
    const std::pair<QString, bool> cases[] = {
        {at("job.sh"), true},
        {at("read-only.sh"), true},
        {at("link.sh"), true},
        {QStringLiteral("job.sh"), true},
        {QStringLiteral("./job.sh"), true},
        {at("*.txt"), true}, // a file really named so
        {at("*.sh"), false},
        {at("job.s?"), false},
        {at(".hidden"), false},
        {at("folder"), false},
        {at("link-to-folder"), false},
        {at("pipe"), false},
        {at("missing"), false},
        {QString(), false},
        {dir.path() + "/", false},
        {QStringLiteral("/dev/null"), false},
    };
    FileMatcher matcher;
    for (const auto& [path, expected] : cases)
        EXPECT_EQ(matcher.matchesFile(path), expected) << qPrintable(path);
    QDir::setCurrent(oldCwd);
}

TEST(ProgramFolder, IsTheFolderOfTheRunningExecutable) {
    const QString folder = ExecutableFolder().path();
    EXPECT_FALSE(folder.endsWith('/'));
    EXPECT_TRUE(QFileInfo(folder + "/platform_test").isExecutable()) << qPrintable(folder);
}

using Starter = TempFolder;

// Writes a script that records its run in `marker`, with the environment it
// got and whether it leads a session of its own.
QString MakeScript(const QString& path, const QString& marker, int mode = 0755) {
    const QByteArray body = "#!/bin/sh\n"
                            "sid=$(sed 's/.*) //' /proc/$$/stat | cut -d' ' -f4)\n"
                            "[ \"$sid\" = $$ ] && s=own || s=shared\n"
                            "cat /proc/$$/environ > '" +
                            QFile::encodeName(marker) + ".env'\n" +
                            "echo \"ran $VARNEL_PROBE $s\" > '" + QFile::encodeName(marker) + "'\n";
    if (!WriteAll(path, body))
        return QString();
    ::chmod(QFile::encodeName(path).constData(), mode);
    return path;
}

QByteArray WaitForFile(const QString& path) {
    for (int i = 0; i < 200 && !QFileInfo(path).size(); ++i)
        QThread::msleep(25);
    return ReadAll(path);
}

// The processes whose parent is this one, zombies included.
int Children() {
    int n = 0;
    for (const QString& pid : QDir("/proc").entryList(QDir::Dirs)) {
        const QByteArray stat = ReadAll("/proc/" + pid + "/stat");
        const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
        n += fields.size() > 1 && fields.at(1).toLongLong() == ::getpid();
    }
    return n;
}

// The environment of this process, as a program started from it gets it.
QSet<QByteArray> OwnEnvironment() {
    QSet<QByteArray> entries;
    for (char** e = environ; *e; ++e)
        entries.insert(*e);
    return entries;
}

TEST_F(Starter, StartsTheWholeTextAsOneProgramWithTheSessionEnvironment) {
    qputenv("VARNEL_PROBE", "from-parent");
    // On Wayland the toolkit is told its platform; the started programs are
    // not: they get the environment this process was started with.
    qunsetenv("QT_QPA_PLATFORM");
    qputenv("WAYLAND_DISPLAY", "wayland-test");
    const QSet<QByteArray> before = OwnEnvironment();
    // The launcher's tokens were for this program's window, not for those it starts.
    qputenv("XDG_ACTIVATION_TOKEN", "launcher-token");
    qputenv("DESKTOP_STARTUP_ID", "launcher_TIME1");
    BeginDisplayGuard();
    EXPECT_EQ(qgetenv("QT_QPA_PLATFORM"), "wayland;xcb");
    EndDisplayGuard();
    const QSet<QByteArray> tokens{"XDG_ACTIVATION_TOKEN=launcher-token",
                                  "DESKTOP_STARTUP_ID=launcher_TIME1"};
    EXPECT_EQ(OwnEnvironment() - tokens, before);
    const QString oldCwd = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(dir.path()));
    const struct {
        QString program;
        QString marker;
    } cases[] = {
        {MakeScript(at("plain.sh"), at("plain.ran")), at("plain.ran")},
        {MakeScript(at("a b;$(touch pwned)"), at("odd.ran")), at("odd.ran")},
        {MakeScript(at("rel.sh"), at("rel.ran")).mid(dir.path().size() + 1), at("rel.ran")},
    };
    DetachedProcessStarter starter;
    for (const auto& c : cases) {
        ASSERT_FALSE(c.program.isEmpty());
        EXPECT_TRUE(starter.start(c.program)) << qPrintable(c.program);
        EXPECT_EQ(WaitForFile(c.marker), "ran from-parent own\n") << qPrintable(c.program);
        const QList<QByteArray> env = ReadAll(c.marker + ".env").split('\0');
        EXPECT_EQ(QSet<QByteArray>(env.begin(), env.end() - 1), before);
    }
    qunsetenv("WAYLAND_DISPLAY");
    qunsetenv("XDG_ACTIVATION_TOKEN");
    qunsetenv("DESKTOP_STARTUP_ID");
    EXPECT_FALSE(QFileInfo::exists(at("pwned")));
    // Each child is waited for once it ends: none is left behind as a zombie.
    for (int i = 0; i < 200 && Children() > 0; ++i)
        QThread::msleep(25);
    EXPECT_EQ(Children(), 0);
    QDir::setCurrent(oldCwd);
}

TEST_F(Starter, FailsForWhatCannotBeStarted) {
    ASSERT_TRUE(QDir(dir.path()).mkdir("folder"));
    ASSERT_FALSE(MakeScript(at("not-executable.sh"), at("never.ran"), 0644).isEmpty());
    ASSERT_TRUE(WriteAll(at("no-interpreter"), "just text\n"));
    ::chmod(QFile::encodeName(at("no-interpreter")).constData(), 0755);
    // A bare name is not looked up in PATH: "sh" is not in the current folder.
    const QString oldCwd = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(dir.path()));
    DetachedProcessStarter starter;
    for (const QString& program : {at("missing"), at("folder"), at("not-executable.sh"),
                                   at("no-interpreter"), QString(), QStringLiteral("sh")})
        EXPECT_FALSE(starter.start(program)) << qPrintable(program);
    QDir::setCurrent(oldCwd);
    QThread::msleep(100);
    EXPECT_FALSE(QFileInfo::exists(at("never.ran")));
}

using Settings = TempFolder;

TEST_F(Settings, KeepsTextExactlyUnderJapaneseKeys) {
    IniSettingsBackend backend(dir.path());
    const QString app = QStringLiteral("Varnel");
    const QString section = QStringLiteral("Parameter");
    const QString values[] = {QStringLiteral(" 07:30\u3000"), QStringLiteral("/opt/a b;\"$x\"/é😀"),
                              QStringLiteral("@at, comma"), QString()};
    for (const QString& v : values) {
        ASSERT_TRUE(backend.save(app, section, QStringLiteral("起動ファイル"), v));
        EXPECT_EQ(backend.get(app, section, QStringLiteral("起動ファイル"), "fallback"), v);
    }
    EXPECT_EQ(backend.get(app, section, QStringLiteral("起動時刻"), "fb"), QStringLiteral("fb"));
    EXPECT_EQ(backend.get(QStringLiteral("Other"), section, QStringLiteral("起動ファイル"), "fb"),
              QStringLiteral("fb"));
    EXPECT_EQ(backend.fileFor(app), dir.path() + "/Varnel/Varnel.conf");
    EXPECT_TRUE(QFileInfo::exists(dir.path() + "/Varnel/Varnel.conf"));
}

TEST_F(Settings, ReportsStoresThatCannotBeReadOrWritten) {
    const QString app = QStringLiteral("Varnel");
    IniSettingsBackend backend(dir.path());
    ASSERT_TRUE(QDir(dir.path()).mkpath("Varnel"));
    ASSERT_TRUE(WriteAll(backend.fileFor(app), "[Parameter\nx=1\n"));
    EXPECT_EQ(backend.get(app, "Parameter", "x", "fb"), std::nullopt);
    EXPECT_EQ(ReadAll(backend.fileFor(app)), "[Parameter\nx=1\n");
    ASSERT_TRUE(WriteAll(backend.fileFor(app), "[Parameter\nx=2\ny=3\n"));
    EXPECT_EQ(backend.get(app, "Parameter", "x", "fb"), std::nullopt);
    // Each failed read keeps a copy aside; a later one never replaces it.
    QStringList aside = QDir(dir.filePath("Varnel")).entryList({"Varnel.conf.unreadable-*"});
    ASSERT_EQ(aside.size(), 2);
    QByteArrayList kept;
    for (const QString& name : aside)
        kept << ReadAll(dir.filePath("Varnel/" + name));
    std::sort(kept.begin(), kept.end());
    EXPECT_EQ(kept, QByteArrayList({"[Parameter\nx=1\n", "[Parameter\nx=2\ny=3\n"}));

    for (const QString& name : aside)
        ASSERT_TRUE(QFile::remove(dir.filePath("Varnel/" + name)));
    ASSERT_TRUE(QFile::remove(backend.fileFor(app)));
    ASSERT_TRUE(QDir(dir.path()).mkpath("Varnel/Varnel.conf"));
    EXPECT_EQ(backend.get(app, "Parameter", "x", "fb"), std::nullopt);
    EXPECT_FALSE(backend.save(app, "Parameter", "x", "v"));

    ASSERT_TRUE(WriteAll(at("not-a-folder"), "x"));
    IniSettingsBackend blocked(at("not-a-folder"));
    EXPECT_FALSE(blocked.save(app, "Parameter", "x", "v"));
}

TEST_F(Settings, FollowsXdgConfigHome) {
    const QByteArray old = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir.path()));
    EXPECT_EQ(IniSettingsBackend().fileFor("Varnel"), dir.path() + "/Varnel/Varnel.conf");
    qputenv("XDG_CONFIG_HOME", old);
}

TEST(FileChooser, FilterTextAndWhatEachEntryLists) {
    const auto entries =
        ParseFilterText(QStringLiteral("すべてのファイル (*.*)|*.*|実行ファイル (*.exe)|*.exe|"));
    ASSERT_EQ(entries.size(), 2);
    EXPECT_EQ(entries.at(0).first, QStringLiteral("すべてのファイル (*.*)"));
    EXPECT_EQ(entries.at(0).second, QStringLiteral("*.*"));
    EXPECT_EQ(entries.at(1).first, QStringLiteral("実行ファイル (*.exe)"));
    EXPECT_EQ(entries.at(1).second, QStringLiteral("*.exe"));

    QTemporaryDir dir;
    ASSERT_TRUE(WriteAll(dir.filePath("README"), "x"));
    ASSERT_TRUE(WriteAll(dir.filePath("notes.txt"), "x"));
    ASSERT_TRUE(WriteAll(dir.filePath("backup"), "x"));
    ::chmod(QFile::encodeName(dir.filePath("backup")).constData(), 0755);
    const struct {
        const char* pattern;
        const char* name;
        bool shown;
    } cases[] = {
        {"*.*", "README", true},    {"*.*", "notes.txt", true},    {"*.*", "backup", true},
        {"*.exe", "README", false}, {"*.exe", "notes.txt", false}, {"*.exe", "backup", true},
        {"*.exe", ".", true},       {"*.txt", "notes.txt", true},  {"*.txt", "README", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FilterShows(c.pattern, QFileInfo(dir.filePath(c.name))), c.shown)
            << c.pattern << " " << c.name;
}

// A start on `file` from a thread of its own, while this one serves: what it
// found, and who owns the name.
using Outcome = std::pair<InstanceClaim::State, qint64>;
std::future<Outcome> Start(const QString& file, const ShowRequest& request = {},
                           int patienceMs = 3000,
                           const std::function<void(qint64)>& longWait = {}) {
    return std::async(std::launch::async, [=] {
        InstanceClaim claim(file, request, patienceMs, longWait);
        return Outcome(claim.state(), claim.holder());
    });
}
bool Done(const std::future<Outcome>& start) {
    return start.wait_for(std::chrono::milliseconds(0)) == std::future_status::ready;
}
// Serves until `done` holds, at most `ms`; whether it came to hold.
template <typename Done> bool ServeUntil(Done done, int ms) {
    for (QDeadlineTimer deadline(ms); !done() && !deadline.hasExpired();)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}
Outcome Served(std::future<Outcome> start) {
    ServeUntil([&] { return Done(start); }, 10000);
    return start.get();
}

// One line from `fd`, waiting at most `ms`; empty when none came.
std::string ReadLine(int fd, int ms) {
    std::string line;
    for (QDeadlineTimer deadline(ms); !deadline.hasExpired();) {
        pollfd ready = {fd, POLLIN, 0};
        if (::poll(&ready, 1, int(std::max<qint64>(deadline.remainingTime(), 1))) <= 0)
            break;
        char c = 0;
        if (::read(fd, &c, 1) != 1)
            break;
        if (c == '\n')
            return line;
        line += c;
    }
    return {};
}

// Starts `argv` with its standard output to a pipe, killed when this process
// ends; gives its id and the pipe's end to read.
std::pair<pid_t, int> Spawn(std::vector<std::string> argv) {
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0)
        return {-1, -1};
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        ::dup2(out[1], STDOUT_FILENO);
        std::vector<char*> args;
        for (std::string& a : argv)
            args.push_back(a.data());
        args.push_back(nullptr);
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    ::close(out[1]);
    return {pid, out[0]};
}

// The name: for the settings file however its path is written, before and
// after its folder is made.
TEST_F(TempFolder, TheClaimsNameIsTheSettingsFiles) {
    // The user's usual file whatever $HOME says; another $HOME's is not.
    const QString usual = QFile::decodeName(::getpwuid(::geteuid())->pw_dir);
    const QByteArray home = qgetenv("HOME");
    qputenv("HOME", QFile::encodeName(dir.path()));
    EXPECT_EQ(InstanceClaim::ServiceFor(usual + "/.config//Varnel/./Varnel.conf"),
              "org.varnel.Varnel");
    EXPECT_NE(InstanceClaim::ServiceFor(at(".config/Varnel/Varnel.conf")), "org.varnel.Varnel");
    qputenv("HOME", home);
    const QString file = at("config/Varnel/Varnel.conf");
    EXPECT_TRUE(InstanceClaim::ServiceFor(file).startsWith("org.varnel.Varnel.Settings_"));
    EXPECT_NE(InstanceClaim::ServiceFor(file),
              InstanceClaim::ServiceFor(at("other/Varnel/Varnel.conf")));
    ASSERT_TRUE(QDir(dir.path()).mkdir("real"));
    ASSERT_TRUE(QFile::link(at("real"), at("linked")));
    const QString unmade = InstanceClaim::ServiceFor(at("linked/Varnel/Varnel.conf"));
    ASSERT_TRUE(QDir(dir.path()).mkpath("real/Varnel"));
    EXPECT_EQ(InstanceClaim::ServiceFor(at("linked/Varnel/Varnel.conf")), unmade);
    EXPECT_EQ(InstanceClaim::ServiceFor(at("real/Varnel/Varnel.conf")), unmade);
}

// Each case on a session bus of its own, found where the user's is: in the
// runtime folder (one for the suite, as the bus library reads the place
// once). The bus and every process the case started end with the case, and
// with the test program however it ends; every wait on them has a deadline.
class ClaimBus : public TempFolder {
protected:
    static inline QTemporaryDir* runtime = nullptr;
    static void SetUpTestSuite() { runtime = new QTemporaryDir; }
    static void TearDownTestSuite() { delete runtime; }

    void SetUp() override {
        address = qgetenv("DBUS_SESSION_BUS_ADDRESS");
        runtimeBefore = qgetenv("XDG_RUNTIME_DIR");
        qunsetenv("DBUS_SESSION_BUS_ADDRESS");
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime->path()));
        StartBus();
    }
    void TearDown() override {
        for (const auto& [pid, out] : children) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
            ::close(out);
        }
        StopBus();
        for (const auto& [name, value] : {std::pair("DBUS_SESSION_BUS_ADDRESS", address),
                                          std::pair("XDG_RUNTIME_DIR", runtimeBefore)})
            value.isNull() ? qunsetenv(name) : qputenv(name, value);
    }
    // A session bus listening at `socket`, with `policy` added to its rules;
    // ready once it has said its address.
    void StartBus(const QByteArray& policy = {}, const QString& socket = {}) {
        busSocket = socket.isEmpty() ? runtime->filePath("bus") : socket;
        ASSERT_TRUE(WriteAll(at("bus.conf"), "<busconfig><include>/usr/share/dbus-1/session.conf"
                                             "</include>" +
                                                 policy + "</busconfig>"));
        const auto [pid, out] =
            Spawn({"dbus-daemon", "--nofork", "--print-address=1",
                   "--config-file=" + at("bus.conf").toStdString(),
                   "--address=unix:path=" + QFile::encodeName(busSocket).toStdString()});
        daemon = {pid, out};
        ASSERT_FALSE(ReadLine(out, 10000).empty()) << "the bus did not start";
    }
    // It ends at once; its socket goes with it, for the next bus.
    void StopBus() {
        if (daemon.first > 0) {
            ::kill(daemon.first, SIGTERM);
            ::waitpid(daemon.first, nullptr, 0);
            ::close(daemon.second);
        }
        daemon = {0, -1};
        QFile::remove(busSocket);
    }
    // An owner of `file`'s name in a process of its own (tests/claim_owner.cpp);
    // its id once it owns the name, or -1.
    pid_t Owner(const char* mode, const QString& file) {
        const auto child = Spawn({CLAIM_OWNER, mode, file.toStdString()});
        if (child.first <= 0)
            return -1;
        children.push_back(child);
        return ReadLine(child.second, 10000) == "m" ? child.first : -1;
    }
    // The next line an owner says, waiting at most `ms`.
    std::string Says(pid_t owner, int ms = 10000) {
        for (const auto& [pid, out] : children)
            if (pid == owner)
                return ReadLine(out, ms);
        return {};
    }

    QString file() const { return at("config/Varnel/Varnel.conf"); }
    using S = InstanceClaim::State;
    std::pair<pid_t, int> daemon = {0, -1};
    QString busSocket;
    std::vector<std::pair<pid_t, int>> children;
    QByteArray address, runtimeBefore;
};

// The toolkit's own texts in the user's languages: the first of them that
// it has (in a process of its own, which reads its languages once).
TEST(ToolkitTranslation, FollowsTheUsersLanguages) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const struct {
        const char *language, *lang, *cancel;
    } cases[] = {{"", "ja_JP.UTF-8", "キャンセル"},
                 {"eo:ja", "en_US.UTF-8", "キャンセル"},
                 {"", "C.UTF-8", "Cancel"}};
    for (const auto& c : cases)
        EXPECT_EXIT(
            {
                qputenv("LANGUAGE", c.language);
                qputenv("LANG", c.lang);
                qunsetenv("LC_ALL");
                qunsetenv("LC_MESSAGES");
                int argc = 0;
                QCoreApplication app(argc, nullptr);
                LoadToolkitTranslation(app);
                const QString shown = QCoreApplication::translate("QPlatformTheme", "Cancel");
                std::fprintf(stderr, "%s\n", qPrintable(shown));
                std::exit(shown == QString::fromUtf8(c.cancel) ? 0 : 1);
            },
            testing::ExitedWithCode(0), "")
            << c.language << " " << c.lang;
}

// A stopped owner is reported, one killed while asked taken over; an owner
// that serves answers with the second start's tokens, and opens no files.
TEST_F(ClaimBus, AStartIsAnsweredOrFindsTheOwnerSilent) {
    const pid_t silent = Owner("silent", file());
    ASSERT_GT(silent, 0);
    int argc = 0;
    QCoreApplication app(argc, nullptr);
    QElapsedTimer asked;
    asked.start();
    EXPECT_EQ(Served(Start(file(), {}, 500)), Outcome(S::Silent, silent));
    EXPECT_LT(asked.elapsed(), 1500);
    // Killed while a start waits on it: no answer comes, but the name is free.
    asked.restart();
    std::future<Outcome> waiting = Start(file());
    QThread::msleep(300);
    ::kill(silent, SIGKILL);
    ::waitpid(silent, nullptr, 0);
    EXPECT_EQ(Served(std::move(waiting)), Outcome(S::Mine, ::getpid()));
    EXPECT_LT(asked.elapsed(), 2500);

    InstanceClaim first(file());
    ASSERT_EQ(first.state(), S::Mine);
    QList<ShowRequest> shown; // what reached the window's seam
    first.serve([&](const ShowRequest& request) { shown.append(request); });
    for (const ShowRequest& sent : {ShowRequest{"wayland-token", "x11_TIME42"}, ShowRequest{}}) {
        shown.clear();
        EXPECT_EQ(Served(Start(file(), sent)), Outcome(S::Shown, ::getpid()));
        ASSERT_EQ(shown.size(), 1);
        EXPECT_EQ(shown[0].activationToken, sent.activationToken);
        EXPECT_EQ(shown[0].startupId, sent.startupId);
    }
    EXPECT_EQ(InstanceClaim(at("other/Varnel/Varnel.conf")).state(), S::Mine);
    QDBusConnection caller = QDBusConnection::connectToBus("unix:path=" + busSocket, "caller");
    QDBusPendingCall open = caller.asyncCall(
        QDBusMessage::createMethodCall(InstanceClaim::ServiceFor(file()), "/org/varnel/Varnel",
                                       "org.freedesktop.Application", "Open")
        << QStringList{"file:///etc/hosts"} << QVariantMap());
    ServeUntil([&] { return open.isFinished(); }, 5000);
    EXPECT_EQ(open.error().type(), QDBusError::NotSupported);

    // An owner that answers with any other error is asked once, and its
    // error said.
    const QString squatted = at("squatted/Varnel/Varnel.conf");
    ASSERT_EQ(caller.interface()->registerService(InstanceClaim::ServiceFor(squatted)).value(),
              QDBusConnectionInterface::ServiceRegistered);
    asked.restart();
    const InstanceClaim refused(squatted);
    EXPECT_EQ(refused.state(), S::Refused);
    EXPECT_TRUE(refused.problem().startsWith("org.freedesktop.DBus.Error.UnknownObject"))
        << qPrintable(refused.problem());
    EXPECT_LT(asked.elapsed(), 1000);
    QDBusConnection::disconnectFromBus(QStringLiteral("caller"));
}

// A bus that will not say who owns a name: the owner is asked once all the
// same, and answers.
TEST_F(ClaimBus, ABusThatHidesTheOwnerStillHandsOver) {
    StopBus();
    StartBus("<policy context=\"mandatory\"><deny send_destination=\"org.freedesktop.DBus\" "
             "send_interface=\"org.freedesktop.DBus\" "
             "send_member=\"GetConnectionUnixProcessID\"/></policy>");
    int argc = 0;
    QCoreApplication app(argc, nullptr);
    InstanceClaim first(file());
    ASSERT_EQ(first.state(), S::Mine);
    int shown = 0;
    first.serve([&](const ShowRequest&) { ++shown; });
    QElapsedTimer asked;
    asked.start();
    EXPECT_EQ(Served(Start(file())), Outcome(S::Shown, 0));
    EXPECT_EQ(shown, 1);
    EXPECT_LT(asked.elapsed(), 1000);
}

// Closing: its box comes forward once for each start, which waits for the
// name however long the box stays up, says once that it waits (after its
// patience, never "does not answer"), and takes the name once the closing
// copy is gone; or ends at once, asked to stop.
TEST_F(ClaimBus, AClosingOwnerIsWaitedFor) {
    int argc = 0;
    QCoreApplication app(argc, nullptr);
    auto first = std::make_unique<InstanceClaim>(file());
    ASSERT_EQ(first->state(), S::Mine);
    int shown = 0;
    first->serve([&](const ShowRequest&) { ++shown; });
    first->closing();
    // A stop signal while a start waits ends that wait at once.
    std::atomic<qint64> stopAt = 0;
    QElapsedTimer since;
    since.start();
    std::future<Outcome> stopped = Start(file(), {}, 300, [&](qint64) {
        stopAt = since.elapsed();
        ::raise(SIGTERM);
    });
    EXPECT_TRUE(ServeUntil([&] { return Done(stopped); }, 5000));
    EXPECT_EQ(Served(std::move(stopped)).first, S::Stopped);
    EXPECT_LT(since.elapsed() - stopAt, 500);
    EXPECT_EQ(shown, 1);
    // One the process was started ignoring (nohup) stays ignored.
    struct sigaction ignore = {}, before = {};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGHUP, &ignore, &before);
    std::atomic<int> said = 0;
    std::atomic<qint64> saidOf = 0, saidAt = 0;
    since.restart();
    std::future<Outcome> next = Start(file(), {}, 300, [&](qint64 holder) {
        ++said;
        saidOf = holder;
        saidAt = since.elapsed();
        ::raise(SIGHUP);
    });
    EXPECT_TRUE(ServeUntil([&] { return shown == 2; }, 5000));
    // The box held up for several times the patience: many polls.
    ServeUntil([&] { return shown > 2 || Done(next); }, 1500);
    ::sigaction(SIGHUP, &before, nullptr);
    EXPECT_EQ(shown, 2);
    EXPECT_FALSE(Done(next));
    EXPECT_EQ(said, 1);
    EXPECT_EQ(saidOf, ::getpid());
    EXPECT_GE(saidAt, 300); // said once its patience is spent, not before
    // Let go once its window has gone, before the process ends.
    first->release();
    const bool taken = ServeUntil([&] { return Done(next); }, 10000);
    first.reset(); // whatever happened, the start can end now
    EXPECT_TRUE(taken);
    EXPECT_EQ(Served(std::move(next)), Outcome(S::Mine, ::getpid()));
}

// An owner that lets the name go while it is asked, to a copy that takes it
// meanwhile: the start is shown by the new owner.
TEST_F(ClaimBus, AnOwnerReplacedWhileAskedHandsTheStartOn) {
    const pid_t leaving = Owner("handover", file());
    ASSERT_GT(leaving, 0);
    std::future<Outcome> start = Start(file());
    ASSERT_EQ(Says(leaving), "released");
    const pid_t next = Owner("serve", file());
    ASSERT_GT(next, 0);
    ASSERT_EQ(start.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_EQ(start.get(), Outcome(S::Shown, next));
    EXPECT_EQ(Says(next), "shown");
}

// A session whose bus is named by DBUS_SESSION_BUS_ADDRESS alone, with no
// bus in the runtime folder: one window all the same.
TEST_F(ClaimBus, ABusNamedByItsAddressAloneHandsOver) {
    StopBus();
    StartBus({}, at("elsewhere"));
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + QFile::encodeName(at("elsewhere")));
    ASSERT_FALSE(QFileInfo::exists(runtime->filePath("bus")));
    int argc = 0;
    QCoreApplication app(argc, nullptr);
    InstanceClaim first(file());
    ASSERT_EQ(first.state(), S::Mine) << qPrintable(first.problem());
    int shown = 0;
    first.serve([&](const ShowRequest&) { ++shown; });
    EXPECT_EQ(Served(Start(file())), Outcome(S::Shown, ::getpid()));
    EXPECT_EQ(shown, 1);
}

// No bus: no claim, and why. The user's bus in the runtime folder refusing
// (nobody listening, or another user's) is the one tried all the same, never
// one launched for this process alone.
TEST_F(ClaimBus, NoBusNoClaim) {
    qunsetenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(InstanceClaim(file()).state(), S::Unavailable);
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(dir.path()));
    const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un where = {};
    where.sun_family = AF_UNIX;
    std::strcpy(where.sun_path, QFile::encodeName(at("bus")).constData());
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&where), sizeof where), 0);
    ::close(listener);
    if (::geteuid() == 0) {
        ASSERT_EQ(::chown(where.sun_path, 65534, 65534), 0);
    }
    const InstanceClaim refused(file());
    EXPECT_EQ(refused.state(), S::Unavailable);
    EXPECT_TRUE(refused.problem().contains("unix:path=" + at("bus")))
        << qPrintable(refused.problem());
}

} // namespace
} // namespace varnel
