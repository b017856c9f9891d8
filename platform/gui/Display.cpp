#include "platform/gui/Display.h"

#include <QList>
#include <QString>
#include <QtGlobal>

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace varnel {

namespace {

struct Held {
    QtMsgType type;
    QString text;
};

QtMessageHandler previous = nullptr;
QList<Held>* held = nullptr;

void guardHandler(QtMsgType type, const QMessageLogContext&, const QString& text) {
    if (type == QtFatalMsg) {
        const char* display = std::getenv("DISPLAY");
        std::fprintf(stderr,
                     "varnel: cannot open a display (DISPLAY=%s); start it from a desktop "
                     "session\n",
                     display && *display ? display : "not set");
        std::fflush(stderr);
        ::_exit(1);
    }
    if (held)
        held->append({type, text});
}

} // namespace

void BeginDisplayGuard() {
    held = new QList<Held>;
    previous = qInstallMessageHandler(guardHandler);
}

void EndDisplayGuard() {
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

} // namespace varnel
