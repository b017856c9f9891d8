#include "platform/Process.h"

#include <QFileInfo>
#include <QProcess>

namespace varnel {

bool DetachedProcessStarter::start(const QString& command) {
    if (command.isEmpty())
        return false;
    // A relative path is taken from the current folder, never looked up in
    // PATH, so that it names the very file that was checked when arming.
    const QFileInfo info(command);
    if (!info.isFile() || !info.isExecutable())
        return false;
    return QProcess::startDetached(info.absoluteFilePath(), {});
}

} // namespace varnel
