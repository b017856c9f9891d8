#include <QApplication>
#include <QLabel>
#include <QWidget>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("Bare"));
    window.setFixedSize(278, 59);
    // Japanese text, so that the same fonts are loaded as for the real window.
    QLabel label(QStringLiteral("起動時刻"), &window);
    label.move(6, 10);
    window.show();
    return app.exec();
}
