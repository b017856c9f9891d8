#include <QtTest>
class UiTest : public QObject { Q_OBJECT };
QTEST_MAIN(UiTest)
#include "ui_test.moc"
