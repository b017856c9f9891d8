#include "platform/ZoneWatch.h"

#include "platform/Clock.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>

#include <sys/stat.h>

namespace varnel {

namespace {

// What tells one state of a zone file from another: where the link points
// and which file, of what age, it ends at.
QByteArray Identity(const QString& file) {
    const QByteArray path = QFile::encodeName(file);
    QByteArray id = QFile::encodeName(QFileInfo(file).symLinkTarget());
    struct stat st = {};
    if (::stat(path.constData(), &st) == 0)
        id += QByteArray::number(qulonglong(st.st_dev)) + ':' +
              QByteArray::number(qulonglong(st.st_ino)) + ':' +
              QByteArray::number(qlonglong(st.st_mtim.tv_sec)) + '.' +
              QByteArray::number(qlonglong(st.st_mtim.tv_nsec)) + ':' +
              QByteArray::number(qlonglong(st.st_size));
    return id + '\n';
}

} // namespace

QStringList LocalZoneFiles() {
    QStringList files{QStringLiteral("/etc/localtime")};
    QString tz = qEnvironmentVariable("TZ");
    if (tz.startsWith(QLatin1Char(':')))
        tz.remove(0, 1);
    if (tz.isEmpty())
        return files;
    if (QDir::isAbsolutePath(tz)) {
        files.append(tz);
    } else if (!tz.contains(QLatin1String(".."))) {
        const QString zoneDir = qEnvironmentVariableIsEmpty("TZDIR")
                                    ? QStringLiteral("/usr/share/zoneinfo")
                                    : qEnvironmentVariable("TZDIR");
        if (QFileInfo(zoneDir + QLatin1Char('/') + tz).isFile())
            files.append(zoneDir + QLatin1Char('/') + tz);
    }
    return files;
}

ZoneWatch::ZoneWatch(QStringList zoneFiles, QObject* parent)
    : QObject(parent), zoneFiles_(std::move(zoneFiles)) {
    auto* watcher = new QFileSystemWatcher(this);
    for (const QString& file : std::as_const(zoneFiles_)) {
        const QString folder = QFileInfo(file).absolutePath();
        if (!watcher->directories().contains(folder))
            watcher->addPath(folder);
        zoneIdentity_ += Identity(file);
    }
    connect(watcher, &QFileSystemWatcher::directoryChanged, this, &ZoneWatch::zoneFolderChanged);
}

void ZoneWatch::setCallback(std::function<void()> changed) {
    changed_ = std::move(changed);
}

void ZoneWatch::zoneFolderChanged() {
    // The folders hold other files too; only a change of a zone file counts.
    QByteArray identity;
    for (const QString& file : std::as_const(zoneFiles_))
        identity += Identity(file);
    if (identity == zoneIdentity_)
        return;
    zoneIdentity_ = identity;
    ReloadLocalZone();
    if (changed_)
        changed_();
}

} // namespace varnel
