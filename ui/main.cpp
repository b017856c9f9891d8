// varnel: starts one chosen program once a day at a chosen time.
#include "platform/Alarm.h"
#include "platform/Clock.h"
#include "platform/Files.h"
#include "platform/InstanceClaim.h"
#include "platform/Messages.h"
#include "platform/Process.h"
#include "platform/Settings.h"
#include "platform/StopSignals.h"
#include "platform/ZoneWatch.h"
#include "platform/gui/Activation.h"
#include "platform/gui/Display.h"
#include "platform/gui/QtFileDialog.h"
#include "platform/gui/QtMessageBox.h"
#include "platform/gui/Translation.h"
#include "ui/CommandLine.h"
#include "ui/frmTockle.h"

#include <QApplication>
#include <QScopeGuard>

#include <cstring>

int main(int argc, char** argv) {
    using namespace varnel;
    if (const auto status = AnswerCommandLine(argc, argv))
        return *status;

    // One window per settings file: a copy started while another is open
    // hands its launcher's token over and leaves once that copy has shown its
    // window, before anything of the opening sequence (and before the
    // toolkit, which would take the token).
    IniSettingsBackend settings;
    const auto process = [](qint64 holder) {
        return holder > 0 ? Messages::tr(" (process %1)").arg(holder) : QString();
    };
    // A copy that is closing is waited for, however long its box stays up;
    // a start made from a terminal says so rather than look hung.
    InstanceClaim claim(
        settings.fileFor(QStringLiteral("Varnel")), ShowRequest::fromEnvironment(), 3000,
        [process](qint64 holder) {
            Messages::say(
                Messages::tr("varnel: waiting for the open copy%1 to close").arg(process(holder)));
        });
    switch (claim.state()) {
    case InstanceClaim::State::Shown:
        Messages::say(Messages::tr("Varnel is already open%1").arg(process(claim.holder())));
        return 0;
    case InstanceClaim::State::Silent:
        Messages::say(
            Messages::tr("varnel: the open copy%1 does not answer").arg(process(claim.holder())));
        return 1;
    case InstanceClaim::State::Refused:
        Messages::say(Messages::tr("varnel: the open copy%1 answered: %2")
                          .arg(process(claim.holder()), claim.problem()));
        return 1;
    case InstanceClaim::State::Stopped: // asked to stop while it waited
        return 1;
    case InstanceClaim::State::Unavailable: // every start opens a window then
    case InstanceClaim::State::Mine:
        break;
    }

    BeginDisplayGuard();
    QApplication app(argc, argv);
    EndDisplayGuard();
    // However this run ends, the name is let go before the toolkit is torn
    // down: from then on nothing could answer a start that asks.
    const auto releaseOnExit = qScopeGuard([&claim] { claim.release(); });
    LoadToolkitTranslation(app);
    if (claim.state() == InstanceClaim::State::Unavailable)
        Messages::say(
            Messages::tr("varnel: one window per user cannot be kept: %1").arg(claim.problem()));
    QApplication::setApplicationName(QStringLiteral("Varnel"));
    QApplication::setDesktopFileName(QStringLiteral(VARNEL_APP_ID));

    SystemClock clock;
    WallClockAlarm alarm;
    if (alarm.error() != 0) {
        // Nothing could be launched on time: say so, before the window opens.
        Messages::say(Messages::tr("varnel: no wall-clock timer: %1")
                          .arg(QString::fromLocal8Bit(std::strerror(alarm.error()))));
        return 1;
    }
    ZoneWatch zoneWatch;
    DetachedProcessStarter starter;
    FileMatcher files;
    ExecutableFolder folder;
    XdgStateFolder stateFolder(QStringLiteral("Varnel"));
    Cp932Appender appender;
    QtMessageBox messages(QStringLiteral("Varnel"));
    QtFileDialog fileDialog;
    frmTockle window(Services{clock, alarm, zoneWatch, starter, files, folder, stateFolder,
                              appender, settings, messages, fileDialog});
    QApplication::setWindowIcon(window.windowIcon()); // for the boxes and the chooser
    messages.setParentWindow(&window);
    fileDialog.setParentWindow(&window);

    // A stop signal, or the end of the desktop session (the application is
    // asked to quit), closes the window the same way as its close button, so
    // the values are saved and the close logged; but nobody is there to
    // answer a box then. A session save, or a log-off the user may still
    // cancel, leaves the window open and armed.
    StopSignals stops;
    QObject::connect(&stops, &StopSignals::stopRequested, &window, [&messages, &window] {
        messages.mute();
        // Every box and dialog that is open goes first, innermost first (the
        // chooser may hold a box of its own), so that none holds the close up.
        for (int open = 0; open < 8; ++open) {
            QWidget* modal = QApplication::activeModalWidget();
            if (!modal)
                break;
            modal->close();
        }
        window.requestClose();
    });
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &window, [&messages, &window] {
        messages.mute();
        window.Form_Unload();
    });

    // Log-off may take the display away without a word: the values are saved
    // and the close logged all the same, with no box.
    DisplayLossHook displayLoss([&messages, &window] {
        messages.mute();
        window.Form_Unload();
    });

    // A second start is served from now on: during the opening sequence its
    // box (if the settings cannot be read) is brought forward. A closing
    // window keeps its name until it is gone, box and all, so that two
    // windows never hold one schedule; a start meanwhile waits for it.
    claim.serve([&window](const ShowRequest& request) { BringForward(&window, request); });
    QObject::connect(&window, &frmTockle::closing, &claim, &InstanceClaim::closing);
    window.Form_Load();
    if (window.unloaded())
        return 0;
    window.show();
    return app.exec();
}
