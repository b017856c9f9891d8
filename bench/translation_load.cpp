// How long the program's loading of the toolkit's texts takes, from a cold
// start of a process, under the caller's locale: prints the microseconds.
#include "platform/gui/Translation.h"

#include <QApplication>
#include <QElapsedTimer>

#include <cstdio>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QElapsedTimer timer;
    timer.start();
    varnel::LoadToolkitTranslation(app);
    std::printf("%lld\n", timer.nsecsElapsed() / 1000);
    return 0;
}
