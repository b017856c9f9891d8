#include <QApplication>
#include <QLabel>
#include <QTimer>
#include <QWidget>

// The smallest comparable window. With --tick it also wakes once a second,
// as an armed schedule does, so that the cost of the event loop itself shows.
int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("Bare"));
    window.setFixedSize(278, 59);
    // Japanese text, so that the same fonts are loaded as for the real window.
    QLabel label(QStringLiteral("起動時刻"), &window);
    label.move(6, 10);
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    tick.setInterval(1000);
    if (QApplication::arguments().contains(QStringLiteral("--tick")))
        tick.start();
    window.show();
    return app.exec();
}
