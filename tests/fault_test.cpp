// The real stack against real files and folders that misbehave. Cases that
// depend on permissions need an unprivileged user (root ignores them);
// tests/as_user.sh runs this test as one.
#include "TempDir.h"
#include "fakes/Fakes.h"
#include "ui/frmTockle.h"

#include <QDirIterator>
#include <QtTest>

#include <memory>
#include <sys/stat.h>
#include <unistd.h>

using namespace varnel;
using namespace varnel::test;

namespace {

const QString kReadFailed = QStringLiteral("前回設定内容の取得に失敗しました。");
const QString kSaveFailed = QStringLiteral("設定内容の保存に失敗しました。");

void Chmod(const QString& path, int mode) {
    QCOMPARE(::chmod(QFile::encodeName(path).constData(), mode), 0);
}

bool Unprivileged() {
    return ::geteuid() != 0;
}

// A program that notes each run in "<its own path>.runs".
QString MakeRecorder(const QString& path) {
    if (!WriteAll(path, "#!/bin/sh\necho ran >> \"$0.runs\"\n"))
        return QString();
    ::chmod(QFile::encodeName(path).constData(), 0755);
    return path;
}

// The runs the recorder noted, once it has noted `expected` of them (or five
// seconds have passed). That there are no more than the program started is
// what CountingStarter tells.
int Runs(const QString& recorder, int expected) {
    const QString record = recorder + QStringLiteral(".runs");
    const auto runs = [&] {
        return QFileInfo::exists(record) ? int(ReadAll(record).count("ran\n")) : 0;
    };
    (void)QTest::qWaitFor([&] { return runs() >= expected; }, 5000);
    return runs();
}

// The real process start, counting the programs it started.
class CountingStarter final : public IProcessStarter {
public:
    bool start(const QString& command) override {
        const bool ok = real.start(command);
        started += ok;
        return ok;
    }
    DetachedProcessStarter real;
    int started = 0;
};

} // namespace

class FaultTest : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> programDir, configDir, scriptDir;
    std::unique_ptr<FakeClock> clock;
    std::unique_ptr<FakeFolder> folder;
    CountingStarter starter;
    FileMatcher files;
    Cp932Appender appender;
    IniSettingsBackend settings;
    FakeMessageBox messages;
    FakeFileDialog fileDialog;
    FakeAlarm alarm;
    FakeStateFolder stateFolder{QString()};
    FakeZoneWatch zoneWatch;
    std::unique_ptr<frmTockle> window;

    QString logPath() const { return programDir->filePath(QStringLiteral("Varnel.LOG")); }
    QString confPath() const { return configDir->filePath(QStringLiteral("Varnel/Varnel.conf")); }

    void open() {
        window = std::make_unique<frmTockle>(Services{*clock, alarm, zoneWatch, starter, files,
                                                      *folder, stateFolder, appender, settings,
                                                      messages, fileDialog});
        window->Form_Load();
    }
    void arm(const QString& time, const QString& file) {
        window->findChild<QLineEdit*>(QStringLiteral("txtTime"))->setText(time);
        window->findChild<QLineEdit*>(QStringLiteral("txtFile"))->setText(file);
        window->cmdStart_Click();
        QVERIFY(window->kickEnabled());
    }
    // One tick a second from `from` for `seconds` seconds.
    void tick(LocalTime from, int seconds) {
        clock->time = from;
        for (int i = 0; i < seconds; ++i, clock->advance(1000))
            window->tmrKick_Timer(clock->read());
    }
    QStringList logLines() const { return LogLines(logPath()); }

private slots:
    void init() {
        programDir = std::make_unique<QTemporaryDir>();
        configDir = std::make_unique<QTemporaryDir>();
        scriptDir = std::make_unique<QTemporaryDir>();
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(configDir->path()));
        clock = std::make_unique<FakeClock>(MakeLocalTime(2026, 4, 1, 9, 40, 0));
        folder = std::make_unique<FakeFolder>(programDir->path());
        messages = FakeMessageBox();
        starter.started = 0;
    }
    void cleanup() {
        window.reset();
        // Give back every permission a case took away, so the folders go.
        for (const auto* dir : {programDir.get(), configDir.get(), scriptDir.get()}) {
            ::chmod(QFile::encodeName(dir->path()).constData(), 0700);
            QDirIterator it(dir->path(), QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                            QDirIterator::Subdirectories);
            while (it.hasNext()) {
                const QString path = it.next();
                ::chmod(QFile::encodeName(path).constData(), it.fileInfo().isDir() ? 0700 : 0600);
            }
        }
        programDir.reset();
        configDir.reset();
        scriptDir.reset();
    }

    void logThatCannotBeWritten_data() {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<bool>("stateFolder"); // the user's state folder stands in
        for (const bool state : {false, true}) {
            const char* where = state ? ", into the state folder" : "";
            QTest::addRow("log folder not writable%s", where) << "folder" << state;
            QTest::addRow("Varnel.LOG is a folder%s", where) << "is-folder" << state;
            QTest::addRow("log file read-only%s", where) << "read-only" << state;
            QTest::addRow("Varnel.LOG is a named pipe%s", where) << "fifo" << state;
        }
    }

    void logThatCannotBeWritten() {
        QFETCH(QString, fault);
        QFETCH(bool, stateFolder);
        QTemporaryDir stateDir;
        this->stateFolder.folder = stateFolder ? stateDir.path() : QString();
        const QByteArray earlier("\x81\x9B earlier bytes\r\n", 17);
        if (fault == "folder") {
            if (!Unprivileged())
                QSKIP("root writes anywhere; run as an unprivileged user");
            Chmod(programDir->path(), 0555);
        } else if (fault == "is-folder") {
            QVERIFY(QDir().mkdir(logPath()));
        } else if (fault == "fifo") {
            QCOMPARE(::mkfifo(QFile::encodeName(logPath()).constData(), 0600), 0);
        } else {
            if (!Unprivileged())
                QSKIP("root writes anywhere; run as an unprivileged user");
            QVERIFY(WriteAll(logPath(), earlier));
            Chmod(logPath(), 0444);
        }
        const QString recorder = MakeRecorder(scriptDir->filePath("job.sh"));
        open();
        arm(QStringLiteral("09:42"), recorder);
        tick(MakeLocalTime(2026, 4, 1, 9, 41, 58), 10);
        QCOMPARE(Runs(recorder, 1), 1);
        QCOMPARE(starter.started, 1);
        QVERIFY(window->kickEnabled());
        window->close();
        QVERIFY(window->unloaded());
        QVERIFY(messages.shown.isEmpty());
        QCOMPARE(settings.get(kApplicationName, kSection, kTimeKey, "?"), QStringLiteral("09:42"));
        const QStringList moved = LogLines(stateDir.filePath(QStringLiteral("Varnel.LOG")));
        QCOMPARE(moved.size(), stateFolder ? 4 : 0); // open, arm, launch, close
        if (stateFolder)
            QVERIFY(moved.at(2).startsWith(QStringLiteral("○起動成功（2026/04/01 09:42:00）")));
        if (fault == "folder")
            QVERIFY(!QFileInfo::exists(logPath()));
        else if (fault == "is-folder")
            QVERIFY(QFileInfo(logPath()).isDir() && QDir(logPath()).isEmpty());
        else if (fault == "fifo")
            QVERIFY(!QFileInfo(logPath()).isFile());
        else
            QCOMPARE(ReadAll(logPath()), earlier);
    }

    void settingsThatMisbehave_data() {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QStringList>("boxes");
        QTest::addColumn<bool>("needsUser");
        QTest::addColumn<bool>("keptAside"); // a copy of the unreadable file is kept
        // Qt will not replace a file it cannot open, so the close reports that
        // too; the file keeps its bytes (and cannot be copied).
        QTest::newRow("unreadable")
            << "unreadable" << QStringList{kReadFailed, kSaveFailed} << true << false;
        QTest::newRow("good values and a broken line")
            << "corrupt" << QStringList{kReadFailed} << false << true;
        QTest::newRow("a folder in its place")
            << "folder" << QStringList{kReadFailed, kSaveFailed} << false << false;
        QTest::newRow("a named pipe in its place")
            << "fifo" << QStringList{kReadFailed, kSaveFailed} << false << false;
        QTest::newRow("folder not writable")
            << "read-only folder" << QStringList{kSaveFailed} << true << false;
    }

    void settingsThatMisbehave() {
        QFETCH(QString, fault);
        QFETCH(QStringList, boxes);
        QFETCH(bool, needsUser);
        QFETCH(bool, keptAside);
        if (needsUser && !Unprivileged())
            QSKIP("root reads and writes anywhere; run as an unprivileged user");
        // Written directly: values saved through Qt would also be cached.
        QVERIFY(QDir().mkpath(QFileInfo(confPath()).path()));
        QByteArray stored("[Parameter]\n%U8D77%U52D5%U6642%U523B=07:30\n"
                          "%U8D77%U52D5%U30D5%U30A1%U30A4%U30EB=/bin/true\n");
        if (fault == "corrupt")
            stored += "[Broken\n";
        QVERIFY(WriteAll(confPath(), stored));
        if (fault == "unreadable") {
            Chmod(confPath(), 0000);
        } else if (fault == "folder") {
            QVERIFY(QFile::remove(confPath()));
            QVERIFY(QDir().mkdir(confPath()));
        } else if (fault == "fifo") {
            QVERIFY(QFile::remove(confPath()));
            QCOMPARE(::mkfifo(QFile::encodeName(confPath()).constData(), 0600), 0);
        } else if (fault == "read-only folder") {
            Chmod(QFileInfo(confPath()).path(), 0555);
        }
        open();
        const QString openedWith = window->state().LaunchTime;
        QCOMPARE(openedWith, boxes.first() == kReadFailed ? QString() : QStringLiteral("07:30"));
        window->close();
        QCOMPARE(messages.shown, boxes);
        const QStringList lines = logLines();
        QCOMPARE(lines.size(), 2);
        QVERIFY(lines.at(0).contains(QStringLiteral("プログラム起動　") + openedWith + " － "));
        QVERIFY(lines.at(1).contains(QStringLiteral("プログラム終了　") + openedWith + " － "));

        const QStringList aside = QDir(QFileInfo(confPath()).path())
                                      .entryList({QStringLiteral("Varnel.conf.unreadable-*")});
        QCOMPARE(aside.size(), keptAside ? 1 : 0);
        if (keptAside) {
            QCOMPARE(ReadAll(QFileInfo(confPath()).path() + "/" + aside.first()), stored);
            // The save starts afresh: only the program's own section, as it
            // stands now, nothing of the unreadable bytes.
            QCOMPARE(ReadAll(confPath()),
                     QByteArray("[Parameter]\n%U8D77%U52D5%U30D5%U30A1%U30A4%U30EB=\n"
                                "%U8D77%U52D5%U6642%U523B=\n"));
        }
        if (fault == "unreadable") {
            Chmod(confPath(), 0600);
            QCOMPARE(ReadAll(confPath()), stored);
        }
    }

    void launchFileGoneAfterArming_data() {
        QTest::addColumn<QString>("fault");
        QTest::newRow("deleted") << "deleted";
        QTest::newRow("not executable") << "not executable";
    }

    void launchFileGoneAfterArming() {
        QFETCH(QString, fault);
        const QString recorder = MakeRecorder(scriptDir->filePath("job.sh"));
        open();
        arm(QStringLiteral("09:42"), recorder);
        if (fault == "deleted")
            QVERIFY(QFile::rename(recorder, recorder + ".away"));
        else
            Chmod(recorder, 0644);
        tick(MakeLocalTime(2026, 4, 1, 9, 41, 50), 80);
        QCOMPARE(starter.started, 0);
        QCOMPARE(Runs(recorder, 0), 0);
        QVERIFY(window->kickEnabled());
        QStringList lines = logLines();
        QCOMPARE(lines.size(), 2 + 60);
        QCOMPARE(lines.filter(QStringLiteral("×起動失敗（2026/04/01 09:42:")).size(), 60);

        if (fault == "deleted")
            QVERIFY(QFile::rename(recorder + ".away", recorder));
        else
            Chmod(recorder, 0755);
        tick(MakeLocalTime(2026, 4, 2, 9, 41, 50), 80);
        QCOMPARE(Runs(recorder, 1), 1);
        QCOMPARE(starter.started, 1);
        lines = logLines();
        QCOMPARE(lines.size(), 2 + 60 + 1);
        QCOMPARE(lines.last(), QStringLiteral("○起動成功（2026/04/02 09:42:00）：") + recorder);
    }

    void pathsThatAShellWouldMisread() {
        const QString name = QStringLiteral("a b'c\"d;$(touch pwned)`id`é😀.sh");
        const QString recorder = MakeRecorder(scriptDir->filePath(name));
        QVERIFY(!recorder.isEmpty());
        QVERIFY(QDir::setCurrent(scriptDir->path()));
        open();
        arm(QStringLiteral("09:42"), recorder);
        tick(MakeLocalTime(2026, 4, 1, 9, 42, 0), 5);
        QCOMPARE(Runs(recorder, 1), 1);
        QCOMPARE(starter.started, 1);
        QVERIFY(!QFileInfo::exists(scriptDir->filePath("pwned")));
        QVERIFY(!QFileInfo::exists(QStringLiteral("pwned")));
        const QByteArray bytes = ReadAll(logPath());
        const QByteArray tail =
            QFile::encodeName(scriptDir->path()) + "/a b'c\"d;$(touch pwned)`id`??.sh\r\n";
        QVERIFY2(bytes.endsWith(tail), bytes.right(60).constData());
        QCOMPARE(bytes.count("\xC3"), 0); // no UTF-8 of the é
    }
};

QTEST_MAIN(FaultTest)
#include "fault_test.moc"
