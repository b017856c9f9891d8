#include "platform/gui/Display.h"

#include "platform/Messages.h"

#include <QCoreApplication>
#include <QList>
#include <QSemaphore>
#include <QString>
#include <QThread>
#include <QtGlobal>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <unistd.h>

namespace varnel {

namespace {

struct Held {
    QtMsgType type;
    QString text;
};

QtMessageHandler previous = nullptr;
QList<Held>* held = nullptr;
bool platformChosen = false; // QT_QPA_PLATFORM was set here, for the toolkit alone

void guardHandler(QtMsgType type, const QMessageLogContext&, const QString& text) {
    if (type == QtFatalMsg) {
        const auto shown = [](const char* name) {
            const QString value = qEnvironmentVariable(name);
            return value.isEmpty() ? Messages::tr("not set") : value;
        };
        Messages::say(Messages::tr("varnel: cannot open a display (WAYLAND_DISPLAY=%1, "
                                   "DISPLAY=%2); start it from a desktop session")
                          .arg(shown("WAYLAND_DISPLAY"), shown("DISPLAY")));
        std::fflush(stderr);
        ::_exit(1);
    }
    if (held)
        held->append({type, text});
}

} // namespace

void BeginDisplayGuard() {
    // On a Wayland desktop the window is a Wayland client of its own, not
    // one of the X server the desktop may also run; the user's own choice
    // of platform stands.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") &&
        !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
        platformChosen = qputenv("QT_QPA_PLATFORM", "wayland;xcb");
    }
    held = new QList<Held>;
    previous = qInstallMessageHandler(guardHandler);
}

void EndDisplayGuard() {
    // The toolkit has read it; the programs started later get the user's
    // environment as it was.
    if (platformChosen) {
        qunsetenv("QT_QPA_PLATFORM");
        platformChosen = false;
    }
    qInstallMessageHandler(previous);
    if (!held)
        return;
    for (const Held& h : *held) {
        if (previous)
            previous(h.type, QMessageLogContext(), h.text);
        else
            std::fprintf(stderr, "%s\n", qPrintable(h.text));
    }
    delete held;
    held = nullptr;
}

// ---- Loss of the display ----
//
// Qt ends the process itself when the connection breaks: on X11 it says so
// and calls exit() on the GUI thread; on Wayland its event thread says so
// and calls _exit(). The message is the one moment both have in common, and
// exit() also runs the handlers registered with atexit().

namespace {

std::mutex lossMutex;
std::function<void()> lastWords;
std::atomic<bool> lossRequested{false};
std::atomic<bool> lossHandled{false};
QSemaphore* lossDone = new QSemaphore; // lives as long as the process
QtMessageHandler beforeLossHandler = nullptr;

// Runs on the application's thread only, once.
void sayLastWords(const std::function<void()>& hook) {
    if (!lossHandled.exchange(true))
        hook();
    lossDone->release();
}

void runLastWords() {
    std::function<void()> hook;
    {
        const std::lock_guard<std::mutex> lock(lossMutex);
        if (!lastWords)
            return;
        hook = lastWords;
    }
    QCoreApplication* app = QCoreApplication::instance();
    if (!app || QThread::currentThread() == app->thread()) {
        sayLastWords(hook);
        return;
    }
    // Another thread noticed: the application's thread runs the hook, either
    // from its event loop or on noticing the loss itself, and this thread
    // holds the process until it has (or a few seconds have gone).
    if (!lossRequested.exchange(true))
        QMetaObject::invokeMethod(
            app, [hook] { sayLastWords(hook); }, Qt::QueuedConnection);
    lossDone->tryAcquire(1, 5000);
}

void lossHandler(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (text.contains(QLatin1String("connection broke")) ||
        text.contains(QLatin1String("connection experienced a fatal error")))
        runLastWords();
    if (beforeLossHandler)
        beforeLossHandler(type, context, text);
    else
        std::fprintf(stderr, "%s\n", qPrintable(text));
}

} // namespace

DisplayLossHook::DisplayLossHook(std::function<void()> hook) {
    static const bool registered = std::atexit(runLastWords) == 0;
    (void)registered;
    {
        const std::lock_guard<std::mutex> lock(lossMutex);
        lastWords = std::move(hook);
    }
    beforeLossHandler = qInstallMessageHandler(lossHandler);
}

DisplayLossHook::~DisplayLossHook() {
    qInstallMessageHandler(beforeLossHandler);
    const std::lock_guard<std::mutex> lock(lossMutex);
    lastWords = nullptr;
}

} // namespace varnel
