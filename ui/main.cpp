// varnel: starts one chosen program once a day at a chosen time.
#include "platform/Clock.h"
#include "platform/ClockWatch.h"
#include "platform/Files.h"
#include "platform/Process.h"
#include "platform/Settings.h"
#include "platform/StopSignals.h"
#include "platform/gui/Display.h"
#include "platform/gui/QtFileDialog.h"
#include "platform/gui/QtMessageBox.h"
#include "ui/frmTockle.h"

#include <QApplication>
#include <QIcon>
#include <QSessionManager>

int main(int argc, char** argv) {
    using namespace varnel;
    // The program takes nothing on its command line.
    int qtArgc = argc > 0 ? 1 : 0;
    BeginDisplayGuard();
    QApplication app(qtArgc, argv);
    EndDisplayGuard();
    QApplication::setApplicationName(QStringLiteral("Varnel"));
    QApplication::setDesktopFileName(QStringLiteral("varnel"));
    QIcon icon(QStringLiteral(":/varnel/varnel.png"));
    icon.addFile(QStringLiteral(":/varnel/varnel-16.png"));
    QApplication::setWindowIcon(icon);

    SystemClock clock;
    TimerFdClockWatch clockWatch;
    DetachedProcessStarter starter;
    FileMatcher files;
    ExecutableFolder folder;
    Cp932Appender appender;
    IniSettingsBackend settings;
    QtMessageBox messages(QStringLiteral("Varnel"));
    QtFileDialog fileDialog;
    frmTockle window(Services{clock, clockWatch, starter, files, folder, appender, settings,
                              messages, fileDialog});

    // A signal or the end of the desktop session closes the window the same
    // way as its close button, so the values are saved and the close logged.
    StopSignals stops;
    QObject::connect(&stops, &StopSignals::stopRequested, &window, [&window] {
        if (QWidget* modal = QApplication::activeModalWidget())
            modal->close();
        window.requestClose();
    });
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &window,
                     [&window](QSessionManager&) { window.requestClose(); });
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &window,
                     [&window] { window.Form_Unload(); });

    window.Form_Load();
    if (window.unloaded())
        return 0;
    window.show();
    return app.exec();
}
