#include "platform/gui/Keyboard.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QWidget>

namespace varnel {

void QueueTabKey(QWidget* target) {
    QCoreApplication::postEvent(target,
                                new QKeyEvent(QEvent::KeyPress, Qt::Key_Tab, Qt::NoModifier));
    QCoreApplication::postEvent(target,
                                new QKeyEvent(QEvent::KeyRelease, Qt::Key_Tab, Qt::NoModifier));
}

} // namespace varnel
