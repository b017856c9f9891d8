// Qt's file-open dialog and message box as the program sets them up, and the
// window's own title bar, run for real on an X server and on Weston (see
// tests/CMakeLists.txt) and answered from the test once they show.
#include "TempDir.h"
#include "platform/gui/QtFileDialog.h"
#include "platform/gui/QtMessageBox.h"
#include "platform/gui/TitleBar.h"

#include <QAbstractItemView>
#include <QAccessible>
#include <QComboBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QtTest>

#include <functional>
#include <sys/stat.h>

using namespace varnel;
using namespace varnel::test;

namespace {

const QString kFilter = QStringLiteral("すべてのファイル (*.*)|*.*|実行ファイル (*.exe)|*.exe|");

// Runs `answer` on the dialog once it is the active modal window; a failed
// check leaves the dialog, which is then cancelled.
void WhenShown(std::function<void(QFileDialog*)> answer) {
    QTimer::singleShot(0, [answer] {
        QFileDialog* dialog = nullptr;
        const auto shown = [&] {
            QTRY_VERIFY_WITH_TIMEOUT(
                (dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())), 10000);
            answer(dialog);
        };
        shown();
        if (dialog && dialog->isVisible())
            QMetaObject::invokeMethod(dialog, "reject");
    });
}

// The names the dialog lists in its folder, once it has read the folder.
QStringList Listed(QFileDialog* dialog) {
    auto* view = dialog->findChild<QAbstractItemView*>(QStringLiteral("listView"));
    QStringList names;
    for (int i = 0; view && i < view->model()->rowCount(view->rootIndex()); ++i)
        names << view->model()->index(i, 0, view->rootIndex()).data().toString();
    names.sort();
    return names;
}

} // namespace

class ChooserTest : public QObject {
    Q_OBJECT

private slots:
    void choosesAFileAndCancels() {
        QTemporaryDir dir;
        QVERIFY(WriteAll(dir.filePath("run.sh"), "#!/bin/sh\n"));
        QVERIFY(::chmod(QFile::encodeName(dir.filePath("run.sh")).constData(), 0755) == 0);
        QVERIFY(WriteAll(dir.filePath("notes.txt"), "x"));
        QVERIFY(QDir(dir.path()).mkdir("sub"));
        const QString other = dir.filePath("sub/other.sh");
        QVERIFY(WriteAll(other, "#!/bin/sh\n"));
        QVERIFY(::chmod(QFile::encodeName(other).constData(), 0755) == 0);
        QWidget window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QtFileDialog chooser;
        chooser.setParentWindow(&window);

        bool answered = false;
        WhenShown([&](QFileDialog* dialog) {
            // It belongs to the window: transient for it, a child on Wayland.
            QCOMPARE(dialog->parentWidget(), &window);
            QCOMPARE(dialog->windowHandle()->transientParent(), window.windowHandle());
            QCOMPARE(dialog->nameFilters(),
                     QStringList({"すべてのファイル (*.*)", "実行ファイル (*.exe)"}));
            QCOMPARE(dialog->selectedNameFilter(), QStringLiteral("実行ファイル (*.exe)"));
            QCOMPARE(dialog->directory().absolutePath(), QDir(dir.path()).absolutePath());
            auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            QVERIFY(name);
            QTRY_COMPARE(name->selectedText(), QStringLiteral("run.sh"));
            QTRY_COMPARE(Listed(dialog), QStringList({"run.sh", "sub"}));
            // All files: the other entry lists the text file too.
            auto* types = dialog->findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
            QVERIFY(types);
            QTest::keyClick(types, Qt::Key_Up); // as the user would pick it
            QCOMPARE(dialog->selectedNameFilter(), QStringLiteral("すべてのファイル (*.*)"));
            QTRY_COMPARE(Listed(dialog), QStringList({"notes.txt", "run.sh", "sub"}));
            if (QGuiApplication::platformName() == QLatin1String("xcb")) {
                // A path typed replaces the suggested name.
                QTest::keyClicks(name, other);
                QCOMPARE(name->text(), other);
            } else {
                // A headless Weston has no keyboard to type with.
                dialog->selectFile(other);
            }
            answered = true;
            QMetaObject::invokeMethod(dialog, "accept");
        });
        QCOMPARE(chooser.openFile(kFilter, 2, dir.filePath("run.sh")), other);
        QVERIFY(answered);

        // A remembered file that has gone: its name is suggested, selected all
        // the same. Cancel gives nothing.
        answered = false;
        WhenShown([&](QFileDialog* dialog) {
            auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            QTRY_COMPARE(name->selectedText(), QStringLiteral("gone.sh"));
            answered = true;
            dialog->reject();
        });
        QCOMPARE(chooser.openFile(kFilter, 2, dir.filePath("gone.sh")), std::nullopt);
        QVERIFY(answered);
    }

    // The message box belongs to the window as the chooser does.
    void messageBoxBelongsToTheWindow() {
        QWidget window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QtMessageBox messages(QStringLiteral("Varnel"));
        messages.setParentWindow(&window);
        bool answered = false;
        QTimer::singleShot(0, [&] {
            QMessageBox* box = nullptr;
            const auto check = [&] {
                QTRY_VERIFY_WITH_TIMEOUT(
                    (box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())), 10000);
                QCOMPARE(box->windowTitle(), QStringLiteral("Varnel"));
                QCOMPARE(box->windowHandle()->transientParent(), window.windowHandle());
                answered = true;
            };
            check();
            if (box)
                box->accept(); // answered, or a failed check leaves it to close
        });
        messages.show(QStringLiteral("指定されたファイルが存在しません。"));
        QVERIFY(answered);
    }

    // Weston draws no title bars, so the window draws its own there; the X
    // server's window manager would draw one.
    void ownTitleBar_data() {
        QTest::addColumn<QString>("press");
        QTest::addColumn<QString>("release");
        QTest::addColumn<bool>("doubleClick");
        QTest::addColumn<Qt::WindowStates>("state");
        QTest::addColumn<bool>("open");
        const Qt::WindowStates none;
        QTest::newRow("minimise") << "minimise"
                                  << "minimise" << false << Qt::WindowStates(Qt::WindowMinimized)
                                  << true;
        QTest::newRow("close") << "close"
                               << "close" << false << none << false;
        QTest::newRow("close, let go elsewhere") << "close"
                                                 << "caption" << false << none << true;
        QTest::newRow("double click on the title") << "caption"
                                                   << "caption" << true << none << true;
    }
    void ownTitleBar() {
        QFETCH(QString, press);
        QFETCH(QString, release);
        QFETCH(bool, doubleClick);
        QFETCH(Qt::WindowStates, state);
        QFETCH(bool, open);
        const bool wayland = QGuiApplication::platformName() == QLatin1String("wayland");
        QCOMPARE(NeedsOwnTitleBar(), wayland);

        QWidget window;
        window.setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                              Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
        window.setWindowTitle(QStringLiteral("Oribeth"));
        window.setFixedSize(120, 40);
        auto* content = new QLineEdit(&window);
        content->setGeometry(2, 2, 100, 18);
        auto* bar = new OwnTitleBar(&window);
        const int band = bar->height();
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));

        // The toolkit's frame is gone with its maximise and resize edges;
        // the contents sit below the band, which screen readers do not count.
        QVERIFY(window.windowFlags() & Qt::FramelessWindowHint);
        QVERIFY(!(window.windowFlags() & Qt::WindowMaximizeButtonHint));
        if (wayland)
            QCOMPARE(window.windowHandle()->frameMargins(), QMargins());
        QCOMPARE(window.size(), QSize(120, 40 + band));
        QCOMPARE(window.minimumSize(), window.maximumSize());
        QCOMPARE(content->geometry(), QRect(2, 2 + band, 100, 18));
        QCOMPARE(QAccessible::queryAccessibleInterface(&window)->rect().size(), QSize(120, 40));

        const auto at = [&](const QString& part) {
            return part == QLatin1String("close")      ? bar->closeButton().center()
                   : part == QLatin1String("minimise") ? bar->minimiseButton().center()
                                                       : QPoint(40, band / 2);
        };
        if (doubleClick) {
            QTest::mouseDClick(&window, Qt::LeftButton, {}, at(press));
        } else {
            QTest::mousePress(&window, Qt::LeftButton, {}, at(press));
            QTest::mouseRelease(&window, Qt::LeftButton, {}, at(release));
        }
        QCOMPARE(window.windowState(), state);
        QCOMPARE(window.isVisible(), open);
    }
};

QTEST_MAIN(ChooserTest)
#include "chooser_test.moc"
