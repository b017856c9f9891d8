#include "TempDir.h"
#include "fakes/Fakes.h"
#include "persistence/SettingsStore.h"
#include "ui/frmTockle.h"

#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTextDocument>
#include <QtTest>

#if defined(__SANITIZE_ADDRESS__)
// From the address sanitizer's runtime.
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#else
#include <malloc.h>
#endif

#include <algorithm>
#include <functional>
#include <memory>

using namespace varnel;
using namespace varnel::test;

namespace {

// Bytes the program holds on the heap now.
size_t AllocatedBytes() {
#if defined(__SANITIZE_ADDRESS__)
    return __sanitizer_get_current_allocated_bytes();
#else
    return mallinfo2().uordblks;
#endif
}

// A tooltip as the user reads it: the toolkit shows a text that may be markup
// as markup.
QString AsRead(const QString& tip) {
    if (!Qt::mightBeRichText(tip))
        return tip;
    QTextDocument shown;
    shown.setHtml(tip);
    return shown.toPlainText();
}

// The device pixels where a grab of `label` differs from a grab of it empty:
// where its text is drawn (empty when it is not).
QRect Ink(QLabel* label) {
    const QImage drawn = label->grab().toImage();
    const QString text = label->text();
    label->setText(QString());
    const QImage blank = label->grab().toImage();
    label->setText(text);
    QRect ink;
    for (int y = 0; y < drawn.height(); ++y)
        for (int x = 0; x < drawn.width(); ++x)
            if (drawn.pixel(x, y) != blank.pixel(x, y))
                ink |= QRect(x, y, 1, 1);
    return ink;
}

// Whether a value box shows its text whole, inside its frame: drawn where the
// same text is drawn in a label with room to spare on every side (nothing of
// it cut), and none of it on the frame's sides or past them.
bool InkInside(QLabel* box) {
    constexpr int spare = 8; // logical pixels above and below, whole at 1, 1.25 and 1.75
    QLabel roomy(box->text());
    roomy.setFont(box->font());
    roomy.setTextFormat(box->textFormat());
    roomy.setAlignment(box->alignment());
    roomy.setContentsMargins(box->contentsMargins().left(), 0, box->contentsMargins().right(), 0);
    roomy.setMargin(box->margin());
    roomy.setIndent(box->indent());
    roomy.resize(box->width() * 4, box->height() + 2 * spare);
    const QRect ink = Ink(box);
    const qreal dpr = box->devicePixelRatioF();
    const QRect whole = Ink(&roomy).translated(0, -qRound(spare * dpr));
    // Its line, one pixel wide, left and right (a large font's descenders may
    // touch the bottom line, drawn whole).
    const int left = qCeil(dpr), right = qFloor((box->width() - 1) * dpr) - 1;
    const bool inside =
        !ink.isEmpty() && ink == whole && ink.left() >= left && ink.right() <= right;
    if (!inside)
        qWarning("%s: drawn at %d,%d to %d,%d, whole at %d,%d to %d,%d, room %d to %d",
                 qPrintable(box->text()), ink.left(), ink.top(), ink.right(), ink.bottom(),
                 whole.left(), whole.top(), whole.right(), whole.bottom(), left, right);
    return inside;
}

} // namespace

class UiTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> programDir;
    std::unique_ptr<QTemporaryDir> configDir;
    std::unique_ptr<FakeClock> clock;
    std::unique_ptr<FakeFolder> folder;
    FakeStarter starter;
    FileMatcher files;
    Cp932Appender appender;
    IniSettingsBackend settings; // follows XDG_CONFIG_HOME
    FakeMessageBox messages;
    FakeFileDialog fileDialog;
    FakeAlarm alarm;
    FakeStateFolder stateFolder{QString()};
    FakeZoneWatch zoneWatch;
    std::unique_ptr<frmTockle> window;
    QString launchable;

    // The settings file made unreadable: a section left open, and a key in it.
    QString breakSettings() {
        const QString conf = configDir->filePath(QStringLiteral("Varnel/Varnel.conf"));
        return QDir(configDir->path()).mkpath(QStringLiteral("Varnel")) &&
                       WriteAll(conf, "[Parameter\nold=1\n")
                   ? conf
                   : QString();
    }
    QString logPath() const { return programDir->filePath(QStringLiteral("Varnel.LOG")); }
    QStringList log() const { return LogLines(logPath()); }
    template <typename T> T* control(const char* name) {
        T* c = window->findChild<T*>(QString::fromLatin1(name));
        if (!c)
            qFatal("no control %s", name);
        return c;
    }
    QLineEdit* txtTime() { return control<QLineEdit>("txtTime"); }
    QLineEdit* txtFile() { return control<QLineEdit>("txtFile"); }
    QWidget* picInput() { return control<QWidget>("picInput"); }
    QWidget* picRun() { return control<QWidget>("picRun"); }
    QPushButton* button(const char* name) { return control<QPushButton>(name); }

    void store(const QString& time, const QString& file) {
        QVERIFY(settings.save(kApplicationName, kSection, kTimeKey, time));
        QVERIFY(settings.save(kApplicationName, kSection, kFileKey, file));
    }
    QString stored(const QString& key) {
        return settings.get(kApplicationName, kSection, key, QStringLiteral("<absent>"))
            .value_or(QStringLiteral("<unreadable>"));
    }
    void open(bool show = true) {
        window = std::make_unique<frmTockle>(Services{*clock, alarm, zoneWatch, starter, files,
                                                      *folder, stateFolder, appender, settings,
                                                      messages, fileDialog});
        window->Form_Load();
        if (show) {
            window->show();
            window->activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(window.get()));
        }
    }
    QString line(const QString& head, const QString& time, const QString& file,
                 const QString& stamp = QStringLiteral("2026/04/01 09:41:27")) {
        return QStringLiteral("－通常処理（") + stamp + QStringLiteral("）：") + head + time +
               QStringLiteral(" － ") + file;
    }

private slots:
    void init() {
        programDir = std::make_unique<QTemporaryDir>();
        configDir = std::make_unique<QTemporaryDir>();
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(configDir->path()));
        clock = std::make_unique<FakeClock>(MakeLocalTime(2026, 4, 1, 9, 41, 27));
        folder = std::make_unique<FakeFolder>(programDir->path());
        starter = FakeStarter();
        messages = FakeMessageBox();
        fileDialog = FakeFileDialog();
        launchable = programDir->filePath(QStringLiteral("backup job.sh"));
        QVERIFY(WriteAll(launchable, "#!/bin/sh\n"));
    }
    void cleanup() { window.reset(); }

    void firstRunShowsTheDefaultsAndLogsTheOpening() {
        open();
        QCOMPARE(txtTime()->text(), QStringLiteral("09:41"));
        QCOMPARE(txtFile()->text(), programDir->path());
        QCOMPARE(log(), QStringList{line(kOpenHead, "09:41", programDir->path())});
        QVERIFY(picInput()->isVisible());
        QVERIFY(!picRun()->isVisible());
        QCOMPARE(picRun()->geometry(), QRect(2, 2, 275, 55));
        QVERIFY(!window->kickEnabled());
        QVERIFY(messages.shown.isEmpty());
        QCOMPARE(QApplication::focusWidget(), txtTime());
        // Fixed: no maximise offered, and a title bar's maximise is undone.
        QVERIFY(!(window->windowFlags() & Qt::WindowMaximizeButtonHint));
        window->showMaximized();
        QTRY_VERIFY(!(window->windowState() & Qt::WindowMaximized));
        QCOMPARE(window->size(), QSize(278, 59));
    }

    void storedValuesAreShownLoggedAndSavedAgain() {
        store(QStringLiteral("07:30"), launchable);
        open();
        QCOMPARE(txtTime()->text(), QStringLiteral("07:30"));
        QCOMPARE(txtFile()->text(), launchable);
        // Typed text is neither saved nor logged; only the state is.
        txtTime()->setText(QStringLiteral("08:15"));
        txtFile()->setText(QStringLiteral("/typed"));
        clock->advance(5000);
        window->close();
        QCOMPARE(log(), QStringList({line(kOpenHead, "07:30", launchable),
                                     line(kCloseHead, "07:30", launchable,
                                          QStringLiteral("2026/04/01 09:41:32"))}));
        QCOMPARE(stored(kTimeKey), QStringLiteral("07:30"));
        QCOMPARE(stored(kFileKey), launchable);
        window->close();
        QCOMPARE(log().size(), 2); // the closing sequence runs once
    }

    void failedReadShowsOneBoxAndSavesTheEmptyTexts() {
        const QString conf = breakSettings();
        QVERIFY(!conf.isEmpty());
        open();
        QCOMPARE(messages.shown, QStringList{QStringLiteral("前回設定内容の取得に失敗しました。")});
        QCOMPARE(ReadAll(conf), QByteArray("[Parameter\nold=1\n")); // untouched until closing
        QCOMPARE(txtTime()->text(), QString());
        QCOMPARE(txtFile()->text(), QString());
        QCOMPARE(log(), QStringList{line(kOpenHead, "", "")});
        // The stepper has nothing to step from and leaves the time alone.
        QTest::mouseClick(button("cmdTimeUp"), Qt::LeftButton);
        QCOMPARE(txtTime()->text(), QString());
        window->close();
        QCOMPARE(stored(kTimeKey), QString());
        QCOMPARE(stored(kFileKey), QString());
        // A clean file with the two values, not the toolkit's repair of the
        // broken text.
        QSettings saved(conf, QSettings::IniFormat);
        QCOMPARE(saved.status(), QSettings::NoError);
        QCOMPARE(saved.allKeys(), QStringList({"Parameter/" + kFileKey, "Parameter/" + kTimeKey}));
        open(false);
        QCOMPARE(txtTime()->text(), QString());
        QCOMPARE(messages.shown.size(), 1);
    }

    void aStopAskedDuringTheOpeningClosesOnceItHasEnded() {
        QVERIFY(!breakSettings().isEmpty());
        // A stop signal while the unreadable settings' box is up.
        messages.whileShown = [this] { window->requestClose(); };
        open(false);
        QCOMPARE(log(), QStringList({line(kOpenHead, "", ""), line(kCloseHead, "", "")}));
        QCOMPARE(stored(kTimeKey), QString());
    }

    void settingsBrokenWhileOpenAreStillSavedWithoutABox() {
        store(QStringLiteral("07:30"), launchable);
        open();
        QVERIFY(!breakSettings().isEmpty());
        window->close();
        QVERIFY(messages.shown.isEmpty());
        QCOMPARE(stored(kTimeKey), QStringLiteral("07:30"));
        QCOMPARE(stored(kFileKey), launchable);
    }

    void failedSaveShowsItsBoxAndStillLogsTheClose() {
        const QString blocked = configDir->filePath(QStringLiteral("blocked"));
        QVERIFY(WriteAll(blocked, "x"));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(blocked));
        open();
        // The settings first, then their box, and only then the closing line.
        int linesWhileShown = -1;
        messages.whileShown = [&] { linesWhileShown = log().size(); };
        window->close();
        QCOMPARE(linesWhileShown, 1);
        QCOMPARE(messages.shown, QStringList{QStringLiteral("設定内容の保存に失敗しました。")});
        QCOMPARE(log().size(), 2);
        QVERIFY(log().at(1).contains(kCloseHead));
    }

    void layoutCaptionsAndTabOrder() {
        open();
        QCOMPARE(window->windowTitle(), QStringLiteral("Oribeth"));
        QVERIFY(!window->windowIcon().availableSizes().isEmpty());
        QCOMPARE(window->size(), QSize(278, 59));
        QCOMPARE(window->minimumSize(), window->maximumSize());
        const struct {
            const char* name;
            QRect geometry;
            const char* caption;
        } controls[] = {
            {"picInput", {2, 2, 275, 55}, nullptr},  {"txtTime", {64, 8, 53, 18}, nullptr},
            {"cmdTimeDown", {120, 10, 23, 15}, "▼"}, {"cmdTimeUp", {144, 10, 23, 15}, "▲"},
            {"txtFile", {64, 26, 193, 18}, nullptr}, {"cmdStart", {198, 8, 59, 17}, "開始"},
            {"picRun", {2, 2, 275, 55}, nullptr},    {"cmdStop", {198, 8, 59, 17}, "停止"},
            {"lblTime", {64, 8, 79, 17}, nullptr},   {"lblFile", {64, 26, 193, 17}, nullptr},
        };
        for (const auto& c : controls) {
            QWidget* w = control<QWidget>(c.name);
            QCOMPARE(w->geometry(), c.geometry);
            if (c.caption)
                QCOMPARE(qobject_cast<QPushButton*>(w)->text(), QString::fromUtf8(c.caption));
        }
        QStringList captions;
        for (QLabel* label : picInput()->findChildren<QLabel*>())
            captions << label->text() + "@" + QString::number(label->y());
        QCOMPARE(captions, QStringList({"起動時刻@10", "ファイル@30"}));

        QStringList order;
        for (int i = 0; i < 6; ++i) {
            order << QApplication::focusWidget()->objectName();
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        }
        QCOMPARE(order, QStringList({"txtTime", "cmdTimeDown", "cmdTimeUp", "txtFile", "cmdStart",
                                     "txtTime"}));
    }

    void start_data() {
        QTest::addColumn<QString>("time");
        QTest::addColumn<QString>("file");      // "@" stands for the launchable file
        QTest::addColumn<QString>("armedTime"); // empty: rejected
        QTest::addColumn<QString>("message");
        const QString badTime = QStringLiteral("起動時刻は「HH:MM」形式で入力して下さい。");
        const QString badFile = QStringLiteral("指定されたファイルが存在しません。");
        QTest::newRow("valid") << "07:30"
                               << "@"
                               << "07:30"
                               << "";
        QTest::newRow("23:59") << "23:59"
                               << "@"
                               << "23:59"
                               << "";
        QTest::newRow("blanks trimmed") << "\u300007:30 "
                                        << "@"
                                        << "07:30"
                                        << "";
        QTest::newRow("one-digit hour") << "7:30"
                                        << "@"
                                        << "" << badTime;
        QTest::newRow("dot") << "07.30"
                             << "@"
                             << "" << badTime;
        QTest::newRow("24:00") << "24:00"
                               << "@"
                               << "" << badTime;
        QTest::newRow("12:60") << "12:60"
                               << "@"
                               << "" << badTime;
        QTest::newRow("-1:30") << "-1:30"
                               << "@"
                               << "" << badTime;
        QTest::newRow("blank in hour") << "7 :30"
                                       << "@"
                                       << "" << badTime;
        QTest::newRow("sign") << "+7:30"
                              << "@"
                              << "" << badTime;
        QTest::newRow("full-width, as an input method types it") << "０７：３０"
                                                                 << "@"
                                                                 << "07:30"
                                                                 << "";
        QTest::newRow("bad time and file") << "x"
                                           << "/missing"
                                           << "" << badTime;
        QTest::newRow("missing file") << "07:30"
                                      << "/missing"
                                      << "" << badFile;
        QTest::newRow("folder") << "07:30"
                                << "/tmp"
                                << "" << badFile;
        QTest::newRow("empty path") << "07:30"
                                    << ""
                                    << "" << badFile;
        QTest::newRow("wildcard") << "07:30"
                                  << "*.sh"
                                  << "" << badFile;
        QTest::newRow("hidden") << "07:30"
                                << ".hidden"
                                << "" << badFile;
        QTest::newRow("a long path") << "07:30"
                                     << "@a folder with a long name/and another below it/job.sh"
                                     << "07:30"
                                     << "";
        QTest::newRow("a path with double blanks") << "07:30"
                                                   << "@a  b.sh"
                                                   << "07:30"
                                                   << "";
        QTest::newRow("a path that looks like markup") << "07:30"
                                                       << "@a<b>c&lt;"
                                                       << "07:30"
                                                       << "";
    }

    void start() {
        QFETCH(QString, time);
        QFETCH(QString, file);
        QFETCH(QString, armedTime);
        QFETCH(QString, message);
        QVERIFY(WriteAll(programDir->filePath(".hidden"), "x"));
        QVERIFY(QDir::setCurrent(programDir->path()));
        if (file == "@")
            file = launchable;
        else if (file.startsWith('@') &&
                 QDir(programDir->path()).mkpath(QFileInfo(file.mid(1)).path()) &&
                 WriteAll(programDir->filePath(file.mid(1)), "x"))
            file = programDir->filePath(file.mid(1));
        store(QStringLiteral("06:00"), QStringLiteral("/stored"));
        open();
        txtTime()->setText(time);
        txtFile()->setText(file);
        if (armedTime.isEmpty()) {
            // Pressed as a screen reader presses it: the focus stays in the
            // field, until the box takes it away with the window's.
            QLineEdit* field = message.startsWith(QStringLiteral("起動")) ? txtTime() : txtFile();
            field->setFocus();
            field->setCursorPosition(1);
            messages.whileShown = [] {
                QFocusEvent away(QEvent::FocusOut, Qt::ActiveWindowFocusReason);
                QApplication::sendEvent(QApplication::focusWidget(), &away);
            };
            button("cmdStart")->click();
            QCOMPARE(messages.shown, QStringList{message});
            QTRY_COMPARE(QApplication::focusWidget(), field);
            QCOMPARE(field->selectedText(), field->text());
            QCOMPARE(window->state().LaunchTime, QStringLiteral("06:00"));
            QCOMPARE(window->state().LaunchFile, QStringLiteral("/stored"));
            QVERIFY(picInput()->isVisible());
            QVERIFY(!window->kickEnabled());
            QCOMPARE(log().size(), 1);
            return;
        }
        QTest::mouseClick(button("cmdStart"), Qt::LeftButton);
        QVERIFY(messages.shown.isEmpty());
        QCOMPARE(window->state().LaunchTime, armedTime);
        QCOMPARE(window->state().LaunchFile, file);
        QVERIFY(picRun()->isVisible());
        QVERIFY(!picInput()->isVisible());
        QVERIFY(window->kickEnabled());
        QCOMPARE(control<QLabel>("lblTime")->text(), armedTime);
        for (const char* name : {"lblTime", "lblFile"})
            QCOMPARE(control<QLabel>(name)->textFormat(), Qt::PlainText); // never markup
        // A path too long for its box is cut in the middle, the program's name
        // in view; the tooltip, and what a screen reader reads, are whole.
        QLabel* shownFile = control<QLabel>("lblFile");
        QVERIFY(shownFile->text() == file || shownFile->text().contains(QChar(0x2026)));
        QVERIFY2(shownFile->text().endsWith(QFileInfo(file).fileName()),
                 qPrintable(shownFile->text()));
        QCOMPARE(AsRead(shownFile->toolTip()), file);
        QCOMPARE(control<QLabel>("lblTime")->accessibleDescription(), armedTime);
        QCOMPARE(shownFile->accessibleDescription(), file);
        QCOMPARE(log().last(), line(kArmHead, armedTime, file));
        QCOMPARE(QApplication::focusWidget(), button("cmdStop"));

        // Stop brings the armed values back, writes nothing.
        txtTime()->setText(QStringLiteral("junk"));
        QTest::mouseClick(button("cmdStop"), Qt::LeftButton);
        QCOMPARE(txtTime()->text(), armedTime);
        QCOMPARE(txtFile()->text(), file);
        QVERIFY(picInput()->isVisible());
        QVERIFY(!picRun()->isVisible());
        QVERIFY(!window->kickEnabled());
        QCOMPARE(log().size(), 2);
    }

    // At the scale the test runs at (ctest runs it at 125 % and 175 % too),
    // each edge of the armed values' frames shows where it should, and the
    // values are drawn whole inside them: long paths of many widths too.
    void armedValuesAreFramedWholeAtAnyScale() {
        // Paths named from the program's folder, so that the texts drawn are
        // the same in every run.
        QVERIFY(QDir::setCurrent(programDir->path()));
        store(QStringLiteral("07:30"), QFileInfo(launchable).fileName());
        open();
        button("cmdStart")->click();
        const QImage shot = window->grab().toImage();
        const qreal dpr = shot.devicePixelRatio();
        for (const char* name : {"lblTime", "lblFile"}) {
            const QRectF r(QPointF(control<QLabel>(name)->mapTo(window.get(), QPoint())) * dpr,
                           QSizeF(control<QLabel>(name)->size()) * dpr);
            const QPoint mid = r.center().toPoint();
            const QColor panel = shot.pixelColor(qRound(r.left()) - 3, mid.y());
            const auto edge = [&](int x, int y, int dx, int dy) { // a pixel near (x, y) differs
                return shot.pixelColor(x - dx, y - dy) != panel || shot.pixelColor(x, y) != panel ||
                       shot.pixelColor(x + dx, y + dy) != panel;
            };
            QVERIFY2(edge(qRound(r.left()), mid.y(), 1, 0), name);
            QVERIFY2(edge(mid.x(), qRound(r.top()), 0, 1), name);
            QVERIFY2(edge(qRound(r.right()) - 1, mid.y(), 1, 0), name);
            QVERIFY2(edge(mid.x(), qRound(r.bottom()) - 1, 0, 1), name);
            QVERIFY2(InkInside(control<QLabel>(name)), name);
        }
        // Paths of many widths, some of which fill the box to the pixel; and
        // letters that reach below the line.
        QLabel* shownFile = control<QLabel>("lblFile");
        const int points = shownFile->font().pointSize();
        QList<std::pair<QString, int>> paths = {
            {"ui_test-ctuToQ/" + QStringLiteral("x").repeated(31) + "/WWWWWWWi.sh", points},
            {"gjy/jpgqy.sh", 10}, // at the sizes of the desktops' own fonts
            {"gjy/jpgqy.sh", 11}};
        for (int folder = 0; folder < 4; ++folder)
            for (int wide = 0; wide < 10; ++wide)
                for (int narrow = 0; narrow < 7; ++narrow)
                    paths.append({"tmp/ui_test-" + QStringLiteral("x").repeated(30 + folder) + "/" +
                                      QStringLiteral("W").repeated(wide) +
                                      QStringLiteral("i").repeated(narrow) + ".sh",
                                  points});
        for (const auto& [path, size] : paths) {
            QVERIFY(QDir().mkpath(QFileInfo(path).path()) && WriteAll(path, "x"));
            QFont font = shownFile->font();
            font.setPointSize(size);
            shownFile->setFont(font);
            button("cmdStop")->click();
            txtFile()->setText(path);
            button("cmdStart")->click();
            QVERIFY2(InkInside(shownFile), qPrintable(path));
        }
    }

    void armedWindowLaunchesOnTheTickAndSavesAtClose() {
        open();
        starter.runnable.insert(launchable);
        txtTime()->setText(QStringLiteral("09:42"));
        txtFile()->setText(launchable);
        QTest::mouseClick(button("cmdStart"), Qt::LeftButton);
        clock->time = MakeLocalTime(2026, 4, 1, 9, 42, 0);
        window->tmrKick_Timer(clock->read());
        clock->advance(1000);
        window->tmrKick_Timer(clock->read());
        QCOMPARE(starter.started, QStringList{launchable});
        QCOMPARE(log().last(), QStringLiteral("○起動成功（2026/04/01 09:42:00）：") + launchable);
        window->close();
        QCOMPARE(stored(kTimeKey), QStringLiteral("09:42"));
        QCOMPARE(stored(kFileKey), launchable);
    }

    void stepperClicksAndKeys() {
        store(QStringLiteral("07:30"), launchable);
        open();
        const struct {
            const char* what;
            std::function<void()> gesture;
            const char* expected;
        } steps[] = {
            {"click up", [&] { QTest::mouseClick(button("cmdTimeUp"), Qt::LeftButton); }, "07:31"},
            {"click down", [&] { QTest::mouseClick(button("cmdTimeDown"), Qt::LeftButton); },
             "07:30"},
            {"typed text is replaced by the step from the state",
             [&] {
                 txtTime()->setText(QStringLiteral("08:00"));
                 QTest::mouseClick(button("cmdTimeUp"), Qt::LeftButton);
             },
             "07:31"},
            {"a character key steps once", [&] { QTest::keyClick(button("cmdTimeUp"), 'a'); },
             "07:32"},
            {"space steps twice (key and click)",
             [&] { QTest::keyClick(button("cmdTimeUp"), Qt::Key_Space); }, "07:34"},
            {"space on down", [&] { QTest::keyClick(button("cmdTimeDown"), Qt::Key_Space); },
             "07:32"},
            {"a repeat tick with no button held", [&] { window->tmrMouse_Timer(); }, "07:32"},
        };
        for (const auto& step : steps) {
            step.gesture();
            QCOMPARE(txtTime()->text(), QString::fromUtf8(step.expected));
            QCOMPARE(window->state().LaunchTime, QString::fromUtf8(step.expected));
        }
        QVERIFY(log().size() == 1);
        window->close();
        open(false);
        QCOMPARE(txtTime()->text(), QStringLiteral("07:32"));
    }

    void stepperPressAndHold_data() {
        QTest::addColumn<int>("direction");
        QTest::addColumn<int>("mouseButton");
        QTest::addColumn<bool>("releaseOver");
        QTest::addColumn<int>("holdMs");
        QTest::addColumn<int>("releaseSteps");
        QTest::newRow("quick click") << 1 << int(Qt::LeftButton) << true << 0 << 1;
        QTest::newRow("hold up one second") << 1 << int(Qt::LeftButton) << true << 1000 << 1;
        QTest::newRow("hold down") << -1 << int(Qt::LeftButton) << true << 450 << 1;
        QTest::newRow("released off the button") << 1 << int(Qt::LeftButton) << false << 450 << 0;
        QTest::newRow("right button") << -1 << int(Qt::RightButton) << true << 450 << 0;
        QTest::newRow("middle button") << 1 << int(Qt::MiddleButton) << true << 250 << 0;
    }

    void stepperPressAndHold() {
        QFETCH(int, direction);
        QFETCH(int, mouseButton);
        QFETCH(bool, releaseOver);
        QFETCH(int, holdMs);
        QFETCH(int, releaseSteps);
        store(QStringLiteral("07:30"), launchable);
        open();
        auto* repeat = window->findChild<QTimer*>(QStringLiteral("tmrMouse"));
        QVERIFY(repeat);
        QPushButton* b = button(direction > 0 ? "cmdTimeUp" : "cmdTimeDown");
        const auto mb = Qt::MouseButton(mouseButton);
        QTest::mousePress(b, mb);
        QCOMPARE(window->state().RepeatDirection, direction > 0 ? RepeatUp : RepeatDown);
        QVERIFY(repeat->isActive());
        QCOMPARE(repeat->interval(), 100);
        // The repeat timer's timeouts while held, one per 100 ms, driven from
        // here rather than waited for.
        const int repeats = holdMs / 100;
        for (int i = 0; i < repeats; ++i)
            window->tmrMouse_Timer();
        QTest::mouseRelease(b, mb, {}, releaseOver ? b->rect().center() : QPoint(-40, -40));
        QCOMPARE(window->state().RepeatDirection, RepeatNone);
        QVERIFY(!repeat->isActive());
        const int steps = repeats + releaseSteps;
        const QString expected = ClockText(
            *ReadTimeOfDay(QStringLiteral("07:30"), TimeForm::Loose) + direction * steps * 60'000);
        QCOMPARE(txtTime()->text(), expected);
        window->tmrMouse_Timer(); // a timeout that was already on its way
        QCOMPARE(txtTime()->text(), expected);
    }

    void repeatEndsWhenTheWindowLosesTheFocusOrStartHidesThePanel() {
        store(QStringLiteral("07:30"), launchable);
        open();
        QTest::mousePress(button("cmdTimeUp"), Qt::LeftButton);
        QWidget other;
        other.show();
        other.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&other));
        QCOMPARE(window->state().RepeatDirection, RepeatNone);
        auto* repeat = window->findChild<QTimer*>(QStringLiteral("tmrMouse"));
        QVERIFY(!repeat->isActive());
        const QString stopped = txtTime()->text();
        window->tmrMouse_Timer();
        QCOMPARE(txtTime()->text(), stopped);

        window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
        QTest::mousePress(button("cmdTimeDown"), Qt::RightButton);
        txtTime()->setText(QStringLiteral("07:30"));
        window->cmdStart_Click();
        QCOMPARE(window->state().RepeatDirection, RepeatNone);
        QVERIFY(!repeat->isActive());
        window->tmrMouse_Timer();
        QCOMPARE(window->state().LaunchTime, QStringLiteral("07:30"));
    }

    void enterMovesOnAndFocusSelectsTheText() {
        store(QStringLiteral("07:30"), launchable);
        open();
        QCOMPARE(txtTime()->selectedText(), QStringLiteral("07:30"));
        QTest::keyClick(txtTime(), Qt::Key_Return);
        QCOMPARE(txtTime()->text(), QStringLiteral("07:30"));
        QTRY_COMPARE(QApplication::focusWidget(), button("cmdTimeDown"));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
        QCOMPARE(txtTime()->text(), QStringLiteral("07:28"));

        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), txtFile());
        QCOMPARE(txtFile()->selectedText(), launchable);
        QTest::keyClick(txtFile(), Qt::Key_Enter, Qt::KeypadModifier);
        QTRY_COMPARE(QApplication::focusWidget(), button("cmdStart"));
        QCOMPARE(txtFile()->text(), launchable);
        QVERIFY(!window->kickEnabled());
        QCOMPARE(log().size(), 1);

        // Other keys reach the field; a click into it selects the whole text.
        txtTime()->setFocus();
        QTest::keyClicks(txtTime(), QStringLiteral("ab"));
        QTest::keyClick(txtTime(), Qt::Key_Backspace);
        QCOMPARE(txtTime()->text(), QStringLiteral("a"));
        QTest::mouseClick(txtFile(), Qt::LeftButton);
        QCOMPARE(QApplication::focusWidget(), txtFile());
        QCOMPARE(txtFile()->selectedText(), launchable);

        // Paste from the field's own context menu goes in at the caret: the
        // focus coming back from the menu selects nothing.
        QGuiApplication::clipboard()->setText(QStringLiteral("X"));
        txtTime()->setFocus();
        txtTime()->setText(QStringLiteral("07:30"));
        txtTime()->setCursorPosition(2);
        const QPoint at(5, 5);
        QContextMenuEvent menuAsked(QContextMenuEvent::Mouse, at, txtTime()->mapToGlobal(at));
        QApplication::sendEvent(txtTime(), &menuAsked);
        QMenu* menu = nullptr;
        QTRY_VERIFY((menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())));
        const QList<QAction*> items = menu->actions();
        const auto paste = std::find_if(items.begin(), items.end(), [](QAction* a) {
            return a->text().startsWith(QStringLiteral("&Paste"));
        });
        QVERIFY(paste != items.end() && (*paste)->isEnabled());
        // Chosen by its mnemonic: from Qt 6.8 on, a click made up by the test
        // closes the menu as if it fell outside it (a plain QLineEdit's menu
        // too), where a real one chooses the item. Both close the menu, then
        // paste.
        QTest::keyClick(menu, Qt::Key_P);
        QTRY_COMPARE(txtTime()->text(), QStringLiteral("07X:30"));
        QCOMPARE(QApplication::focusWidget(), txtTime());

        // Nor does the window coming back from another application: typing
        // goes on where the user left off.
        txtTime()->setCursorPosition(3);
        QFocusEvent away(QEvent::FocusOut, Qt::ActiveWindowFocusReason);
        QFocusEvent back(QEvent::FocusIn, Qt::ActiveWindowFocusReason);
        QApplication::sendEvent(txtTime(), &away);
        QApplication::sendEvent(txtTime(), &back);
        QVERIFY(!txtTime()->hasSelectedText());
        QCOMPARE(txtTime()->cursorPosition(), 3);
    }

    // Full-width digits, colon and blanks become ASCII as they land in the
    // time field, however they come, and the caret stays where it was.
    void aFullWidthTimeLandsInAscii_data() {
        QTest::addColumn<QString>("before"); // "|" is the caret
        QTest::addColumn<QString>("how");
        QTest::addColumn<QString>("landing");
        QTest::addColumn<QString>("after");
        QTest::newRow("typed") << "|"
                               << "type"
                               << "０７：３０"
                               << "07:30|";
        QTest::newRow("committed by an input method") << "|：３０"
                                                      << "commit"
                                                      << "０７"
                                                      << "07|:30";
        QTest::newRow("a blank committed") << "07:30|"
                                           << "commit"
                                           << "\u3000"
                                           << "07:30 |";
        QTest::newRow("pasted") << "0|"
                                << "paste"
                                << "７：３０"
                                << "07:30|";
        QTest::newRow("other characters stay") << "|"
                                               << "commit"
                                               << "７時３０分"
                                               << "7時30分|";
    }
    void aFullWidthTimeLandsInAscii() {
        QFETCH(QString, before);
        QFETCH(QString, how);
        QFETCH(QString, landing);
        QFETCH(QString, after);
        open();
        txtTime()->setFocus();
        txtTime()->setText(QString(before).remove('|'));
        txtTime()->setCursorPosition(before.indexOf('|'));
        if (how == "type") {
            for (const QChar c : landing) { // keys with no ASCII of their own
                QKeyEvent key(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
                QApplication::sendEvent(txtTime(), &key);
            }
        } else if (how == "commit") {
            QInputMethodEvent composing(landing, {}); // shown at the caret as it is
            QApplication::sendEvent(txtTime(), &composing);
            QInputMethodEvent committed;
            committed.setCommitString(landing);
            QApplication::sendEvent(txtTime(), &committed);
        } else {
            QGuiApplication::clipboard()->setText(landing);
            txtTime()->paste();
        }
        QCOMPARE(txtTime()->text(), QString(after).remove('|'));
        QCOMPARE(txtTime()->cursorPosition(), after.indexOf('|'));
        QVERIFY(txtTime()->inputMethodHints() & Qt::ImhTime);
    }

    // A time folded as it is typed, or committed, is undone and redone with
    // the edit it came with, as in any field.
    void aFoldedTimeIsUndoneWithItsEdit() {
        open();
        txtTime()->setFocus();
        QTest::keyClicks(txtTime(), "12:00");
        txtTime()->selectAll();
        for (const QChar c : QStringLiteral("０７：３０")) {
            QKeyEvent key(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
            QApplication::sendEvent(txtTime(), &key);
        }
        QCOMPARE(txtTime()->text(), QStringLiteral("07:30"));
        txtTime()->selectAll();
        QInputMethodEvent committed;
        committed.setCommitString(QStringLiteral("０８：１５"));
        QApplication::sendEvent(txtTime(), &committed);
        QCOMPARE(txtTime()->text(), QStringLiteral("08:15"));
        for (const char* shown : {"07:30", "12:00"}) {
            QTest::keySequence(txtTime(), QKeySequence::Undo);
            QCOMPARE(txtTime()->text(), QString::fromLatin1(shown));
        }
        QTest::keySequence(txtTime(), QKeySequence::Redo);
        QCOMPARE(txtTime()->text(), QStringLiteral("07:30"));
    }

    void chooserTakesTheChosenFileAtOnce() {
        store(QStringLiteral("07:30"), launchable);
        open();
        const QString chosen = programDir->filePath(QStringLiteral("other.sh"));
        txtFile()->setText(QStringLiteral("/typed/text"));

        fileDialog.answers = {std::nullopt}; // Cancel
        QTest::mouseDClick(txtFile(), Qt::LeftButton);
        QCOMPARE(fileDialog.opened, 1);
        QCOMPARE(fileDialog.filter, kChooserFilter);
        QCOMPARE(fileDialog.filterIndex, 2);
        QCOMPARE(fileDialog.fileName, launchable);
        QCOMPARE(txtFile()->text(), QStringLiteral("/typed/text"));
        QCOMPARE(window->state().LaunchFile, launchable);

        fileDialog.answers = {chosen};
        QTest::mouseDClick(txtFile(), Qt::LeftButton);
        QCOMPARE(txtFile()->text(), chosen);
        QCOMPARE(window->state().LaunchFile, chosen);
        QVERIFY(!window->kickEnabled());
        QVERIFY(messages.shown.isEmpty());

        QTest::mouseDClick(txtTime(), Qt::LeftButton);
        QCOMPARE(fileDialog.opened, 2); // the time field has no chooser
        window->close();
        QVERIFY(log().last().endsWith(QStringLiteral("07:30 － ") + chosen));
        open(false);
        QCOMPARE(txtFile()->text(), chosen);
    }

    // Three days tick by tick: three launches, nothing else, no memory growth.
    void threeDaySoak() {
        open(false);
        starter.runnable.insert(launchable);
        txtTime()->setText(QStringLiteral("07:30"));
        txtFile()->setText(launchable);
        window->cmdStart_Click();
        clock->time = MakeLocalTime(2026, 4, 2, 0, 0, 0);
        const auto day = [&] {
            for (int i = 0; i < 86400; ++i, clock->advance(1000))
                window->tmrKick_Timer(clock->read());
        };
        day();
        const size_t before = AllocatedBytes();
        day();
        day();
        const size_t after = AllocatedBytes();
        QVERIFY2(after <= before + 16 * 1024,
                 qPrintable(QStringLiteral("%1 -> %2 bytes").arg(before).arg(after)));
        QCOMPARE(starter.started.size(), qsizetype(3));
        const QStringList lines = log();
        QCOMPARE(lines.size(), 2 + 3);
        for (int d = 0; d < 3; ++d)
            QCOMPARE(lines.at(2 + d),
                     QStringLiteral("○起動成功（2026/04/0%1 07:30:00）：").arg(2 + d) + launchable);
    }
};

QTEST_MAIN(UiTest)
#include "ui_test.moc"
