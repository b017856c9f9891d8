// Qt's file-open dialog and message box as the program sets them up, run for
// real on an X server and on Weston (see tests/CMakeLists.txt) and answered
// from the test once they show.
#include "TempDir.h"
#include "platform/gui/QtFileDialog.h"
#include "platform/gui/QtMessageBox.h"
#include "platform/gui/Translation.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QFileDialog>
#include <QHeaderView>
#include <QLineEdit>
#include <QMessageBox>
#include <QSettings>
#include <QTreeView>
#include <QtTest>

#include <algorithm>
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

    // In Japanese, the detail view the chooser opens in holds its headers and
    // its values whole: a size in バイト, a type such as シェルスクリプト, a
    // folder name of ordinary length.
    void japaneseColumnsHoldTheirTexts() {
        if (QLocale::system().language() != QLocale::Japanese)
            QSKIP("for a Japanese locale: the chooser_test_ja runs");
        LoadToolkitTranslation(*QCoreApplication::instance());
        // As a first chooser in a new account: no widths kept from before.
        QSettings(QSettings::UserScope, QStringLiteral("QtProject")).remove("FileDialog");
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("毎日の定期実行スクリプト置き場")));
        QVERIFY(WriteAll(dir.filePath("run.sh"), "#!/bin/sh\n"));
        QtFileDialog chooser;
        QString narrow = QStringLiteral("not shown");
        WhenShown([&](QFileDialog* dialog) {
            auto* tree = dialog->findChild<QTreeView*>(QStringLiteral("treeView"));
            QVERIFY(tree && tree->isVisible());
            const auto fits = [&] {
                QHeaderView* header = tree->header();
                const QAbstractItemView* view = tree;
                const bool read = tree->model()->rowCount(tree->rootIndex()) == 2;
                narrow = read ? QString() : QStringLiteral("not read");
                for (int column = 0; column < header->count(); ++column) {
                    const int wanted =
                        std::max(view->sizeHintForColumn(column), header->sectionSizeHint(column));
                    if (header->sectionSize(column) < wanted)
                        narrow += QStringLiteral(" column %1: %2 < %3")
                                      .arg(column)
                                      .arg(header->sectionSize(column))
                                      .arg(wanted);
                }
                return narrow.isEmpty();
            };
            QTRY_VERIFY2(fits(), qPrintable(narrow));
        });
        QCOMPARE(chooser.openFile(kFilter, 1, dir.path()), std::nullopt);
        QVERIFY2(narrow.isEmpty(), qPrintable(narrow));
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
};

QTEST_MAIN(ChooserTest)
#include "chooser_test.moc"
