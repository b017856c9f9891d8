#include "platform/gui/QtMessageBox.h"

#include <QMessageBox>

namespace varnel {

void QtMessageBox::show(const QString& text) {
    if (muted_)
        return;
    QMessageBox box(QMessageBox::NoIcon, title_, text, QMessageBox::Ok, parent_);
    box.setWindowModality(Qt::ApplicationModal);
    box.exec();
}

} // namespace varnel
