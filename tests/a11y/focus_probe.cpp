// A small Qt program for varnel to start: it notes in "<its path>.focus"
// whether its window got the keyboard focus within ten seconds of showing.
#include <QApplication>
#include <QFile>
#include <QTimer>
#include <QWidget>
#include <QWindow>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QString record = QApplication::applicationFilePath() + QStringLiteral(".focus");
    const auto note = [&](const char* what) {
        QFile file(record);
        if (file.open(QIODevice::WriteOnly))
            file.write(what);
        app.quit();
    };
    QWidget window;
    window.setWindowTitle(QStringLiteral("focus probe"));
    window.resize(200, 100);
    QObject::connect(&app, &QGuiApplication::focusWindowChanged, [&](QWindow* focused) {
        if (focused && focused == window.windowHandle())
            note("focused\n");
    });
    QTimer::singleShot(10000, [&] { note("not focused\n"); });
    window.show();
    return app.exec();
}
