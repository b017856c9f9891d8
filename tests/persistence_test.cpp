#include "TempDir.h"
#include "fakes/Fakes.h"
#include "persistence/EventLog.h"
#include "persistence/SettingsStore.h"

#include <QDir>
#include <QFileInfo>

#include <gtest/gtest.h>

namespace varnel {
namespace {

using test::FakeClock;
using test::FakeFolder;
using test::FakeMessageBox;
using test::FakeSettings;
using test::Hex;
using test::ReadAll;
using test::WriteAll;

// Bytes as they must stand in the file, from the fixed pieces.
const QByteArray kFailed = Hex("81 7E 8B 4E 93 AE 8E B8 94 73 81 69");
const QByteArray kSucceeded = Hex("81 9B 8B 4E 93 AE 90 AC 8C F7 81 69");
const QByteArray kNormal = Hex("81 7C 92 CA 8F ED 8F 88 97 9D 81 69");
const QByteArray kClose = Hex("81 6A 81 46");
const QByteArray kSeparator = Hex("20 81 7C 20");
const QByteArray kOpenHeadBytes = Hex("83 76 83 8D 83 4F 83 89 83 80 8B 4E 93 AE 81 40");
const QByteArray kArmHeadBytes = Hex("83 70 83 89 83 81 81 5B 83 5E 90 DD 92 E8 81 40");
const QByteArray kCloseHeadBytes = Hex("83 76 83 8D 83 4F 83 89 83 80 8F 49 97 B9 81 40");

class EventLogTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    FakeClock clock{MakeLocalTime(2026, 4, 1, 7, 29, 12)};
    FakeFolder folder{dir.path()};
    Cp932Appender appender;
    test::FakeStateFolder noStateFolder{QString()};
    EventLog log{clock, folder, appender, noStateFolder};
    QString file() const { return dir.filePath("Varnel.LOG"); }
};

TEST_F(EventLogTest, WritesTheWorkedExampleByteForByte) {
    const QString tool = QStringLiteral("/opt/tools/backup.sh");
    log.write(NormalEvent, EventMessage(kOpenHead, "07:30", tool), tool);
    clock.time = MakeLocalTime(2026, 4, 1, 7, 30, 0);
    log.write(LaunchSucceeded, QString(), tool);
    clock.advance(1000);
    log.write(LaunchFailed, QString(), tool);
    log.write(NormalEvent, EventMessage(kArmHead, "07:30", tool), tool);
    log.write(NormalEvent, EventMessage(kCloseHead, "07:30", tool), tool);

    const QByteArray expected =
        kNormal + "2026/04/01 07:29:12" + kClose + kOpenHeadBytes + "07:30" + kSeparator +
        "/opt/tools/backup.sh\r\n" + kSucceeded + "2026/04/01 07:30:00" + kClose +
        "/opt/tools/backup.sh\r\n" + kFailed + "2026/04/01 07:30:01" + kClose +
        "/opt/tools/backup.sh\r\n" + kNormal + "2026/04/01 07:30:01" + kClose + kArmHeadBytes +
        "07:30" + kSeparator + "/opt/tools/backup.sh\r\n" + kNormal + "2026/04/01 07:30:01" +
        kClose + kCloseHeadBytes + "07:30" + kSeparator + "/opt/tools/backup.sh\r\n";
    EXPECT_EQ(ReadAll(file()).toHex(' '), expected.toHex(' '));
}

TEST_F(EventLogTest, SubjectDependsOnTheKind) {
    const struct {
        qint32 kind;
        QString message;
        QString launchFile;
        QByteArray line; // without CR LF; empty: no line
    } cases[] = {
        {LaunchSucceeded, "ignored", "/bin/x",
         kSucceeded + "2026/04/01 07:29:12" + kClose + "/bin/x"},
        {LaunchFailed, "ignored", "/bin/x", kFailed + "2026/04/01 07:29:12" + kClose + "/bin/x"},
        {LaunchFailed, "", "", kFailed + "2026/04/01 07:29:12" + kClose},
        {NormalEvent, "", "/bin/x", kNormal + "2026/04/01 07:29:12" + kClose},
        {NormalEvent, "msg", "/bin/x", kNormal + "2026/04/01 07:29:12" + kClose + "msg"},
        {LaunchSucceeded, "", "/opt/é😀/x",
         kSucceeded + "2026/04/01 07:29:12" + kClose +
             "/opt/?"
             "?/x"},
        // Control characters in a name never break the line or forge one.
        {LaunchSucceeded, "",
         QString::fromUtf8("/a\nb\r\n○起動成功（x\tc\x7f\xc2\x85\xc2\x9f") + QChar(0),
         kSucceeded + "2026/04/01 07:29:12" + kClose + "/a?b??" + kSucceeded + "x?c????"},
        {NormalEvent, "a\x1b[2Jb\x1f", "", kNormal + "2026/04/01 07:29:12" + kClose + "a?[2Jb?"},
        {3, "msg", "/bin/x", ""},
        {-1, "msg", "/bin/x", ""},
    };
    for (const auto& c : cases) {
        QFile::remove(file());
        log.write(c.kind, c.message, c.launchFile);
        ASSERT_TRUE(QFileInfo::exists(file())) << c.kind;
        EXPECT_EQ(ReadAll(file()), c.line.isEmpty() ? QByteArray() : c.line + "\r\n") << c.kind;
    }
}

TEST_F(EventLogTest, AppendsWithoutTouchingEarlierBytes) {
    const QByteArray earlier("\x81\x9B earlier content, no line end", 31);
    ASSERT_TRUE(WriteAll(file(), earlier));
    log.write(7, "x", "y");
    log.write(NormalEvent, "a", "");
    log.write(NormalEvent, "b", "");
    EXPECT_EQ(ReadAll(file()), earlier + kNormal + "2026/04/01 07:29:12" + kClose + "a\r\n" +
                                   kNormal + "2026/04/01 07:29:12" + kClose + "b\r\n");
}

TEST_F(EventLogTest, AbsorbsFailures) {
    // Once its place is chosen, a link put where the log was (by anyone who
    // can rename things in a folder above) receives nothing.
    log.write(NormalEvent, "x", "");
    const QString elsewhere = dir.filePath("elsewhere");
    ASSERT_TRUE(WriteAll(elsewhere, "kept"));
    ASSERT_TRUE(QFile::rename(file(), dir.filePath("moved")));
    ASSERT_TRUE(QFile::link(elsewhere, file()));
    log.write(LaunchFailed, "", "/bin/x");
    EXPECT_EQ(ReadAll(elsewhere), "kept");
    EXPECT_TRUE(QFileInfo(file()).isSymLink());
    ASSERT_TRUE(QFile::remove(file()));

    ASSERT_TRUE(QDir(dir.path()).mkdir("Varnel.LOG"));
    log.write(NormalEvent, "x", "");
    EXPECT_TRUE(QFileInfo(file()).isDir());
    folder.folder = dir.filePath("gone");
    log.write(LaunchFailed, "", "/bin/x");
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("gone")));
}

TEST(EventLogPath, SeparatorOnlyWhenTheFolderLacksOne) {
    FakeClock clock;
    test::MemoryAppender appender;
    test::FakeStateFolder noStateFolder{QString()};
    const std::pair<QString, QString> cases[] = {
        {"/", "/Varnel.LOG"},
        {"/opt/varnel", "/opt/varnel/Varnel.LOG"},
        {"/opt/a b", "/opt/a b/Varnel.LOG"},
    };
    for (const auto& [folderPath, expected] : cases) {
        FakeFolder folder(folderPath);
        EventLog log(clock, folder, appender, noStateFolder);
        log.write(NormalEvent, "x", "");
        EXPECT_EQ(appender.opened.last(), expected);
    }
    // No folder, no log: nothing is opened at all.
    FakeFolder none{QString()};
    EventLog log(clock, none, appender, noStateFolder);
    log.write(NormalEvent, "x", "");
    EXPECT_EQ(appender.opened.size(), qsizetype(std::size(cases)));
}

// Beside the program when that is the user's own to write in, otherwise in
// the state folder; chosen once for the run.
TEST(EventLogPath, TheStateFolderStandsInForAProgramFolderNotTheUsersOwn) {
    FakeClock clock;
    const QString state = QStringLiteral("/home/u/.local/state/Varnel");
    const struct {
        const char* what;
        QString folder;      // the program's
        bool own;            // its log is the user's own to append to
        QString stateFolder; // empty: none can be had
        QString expected;    // where the log goes
    } cases[] = {
        {"the user's own folder", "/home/u/opt", true, state, "/home/u/opt/Varnel.LOG"},
        {"a system folder", "/usr/bin", false, state, state + "/Varnel.LOG"},
        {"no program folder", "", true, state, state + "/Varnel.LOG"},
        {"neither: nothing is written", "/usr/bin", false, "", ""},
        {"neither, and no program folder", "", true, "", ""},
    };
    for (const auto& c : cases) {
        test::MemoryAppender appender;
        if (!c.own)
            appender.notOwn.insert(c.folder + "/Varnel.LOG");
        FakeFolder folder(c.folder);
        test::FakeStateFolder stateFolder(c.stateFolder);
        EventLog log(clock, folder, appender, stateFolder);
        log.write(NormalEvent, "x", "");
        EXPECT_EQ(log.path(), c.expected) << c.what;
        EXPECT_EQ(appender.opened, c.expected.isEmpty() ? QStringList() : QStringList{c.expected})
            << c.what;
        // The place holds for the whole run, whatever happens to the folders.
        appender.notOwn.insert(c.expected);
        stateFolder.folder = "/elsewhere";
        folder.folder = "/elsewhere";
        log.write(NormalEvent, "y", "");
        EXPECT_EQ(log.path(), c.expected) << c.what;
        EXPECT_EQ(stateFolder.asked, c.own && !c.folder.isEmpty() ? 0 : 1) << c.what;
    }
}

class SettingsStoreTest : public ::testing::Test {
protected:
    FakeSettings backend;
    FakeClock clock{MakeLocalTime(2026, 4, 1, 9, 41, 27)};
    FakeFolder folder{"/opt/tools"};
    FakeMessageBox messages;
    SettingsStore store{backend, clock, folder, messages};
    QString time = "old time";
    QString file = "old file";

    void stored(const QString& key, const QString& value) {
        backend.values.insert("Varnel/Parameter/" + key, value);
    }
};

TEST_F(SettingsStoreTest, LoadGivesStoredTextsOrTheDefaults) {
    const struct {
        std::optional<QString> storedTime, storedFile;
        QString time, file;
    } cases[] = {
        {std::nullopt, std::nullopt, "09:41", "/opt/tools"},
        {"07:30", "/opt/tools/backup.sh", "07:30", "/opt/tools/backup.sh"},
        {"", "", "", ""},
        {" not a time ", std::nullopt, " not a time ", "/opt/tools"},
    };
    for (const auto& c : cases) {
        backend.values.clear();
        if (c.storedTime)
            stored(kTimeKey, *c.storedTime);
        if (c.storedFile)
            stored(kFileKey, *c.storedFile);
        store.LoadSettings(time, file);
        EXPECT_EQ(time, c.time);
        EXPECT_EQ(file, c.file);
    }
    EXPECT_TRUE(messages.shown.isEmpty());
}

TEST_F(SettingsStoreTest, FailedReadShowsOneBoxAndKeepsWhatWasNotRead) {
    const QString message = QStringLiteral("前回設定内容の取得に失敗しました。");
    stored(kTimeKey, "07:30");
    stored(kFileKey, "/bin/x");

    backend.failReadOn = {kTimeKey};
    store.LoadSettings(time, file);
    EXPECT_EQ(time, "old time");
    EXPECT_EQ(file, "old file");
    EXPECT_EQ(backend.reads, QStringList{kTimeKey});
    EXPECT_EQ(messages.shown, QStringList{message});

    backend.failReadOn = {kFileKey};
    store.LoadSettings(time, file);
    EXPECT_EQ(time, "07:30");
    EXPECT_EQ(file, "old file");
    EXPECT_EQ(messages.shown, QStringList({message, message}));
}

TEST_F(SettingsStoreTest, SaveWritesTimeThenFileAndStopsAtTheFirstFailure) {
    const QString message = QStringLiteral("設定内容の保存に失敗しました。");
    store.SaveSettings("07:45", "/bin/y");
    EXPECT_EQ(backend.writes, QStringList({kTimeKey, kFileKey}));
    EXPECT_EQ(backend.values.value("Varnel/Parameter/" + kTimeKey), "07:45");
    EXPECT_EQ(backend.values.value("Varnel/Parameter/" + kFileKey), "/bin/y");
    EXPECT_TRUE(messages.shown.isEmpty());

    backend.writes.clear();
    backend.failWriteOn = {kTimeKey};
    store.SaveSettings("08:00", "/bin/z");
    EXPECT_EQ(backend.writes, QStringList{kTimeKey});
    EXPECT_EQ(backend.values.value("Varnel/Parameter/" + kFileKey), "/bin/y");
    EXPECT_EQ(messages.shown, QStringList{message});
}

} // namespace
} // namespace varnel
