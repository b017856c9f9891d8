#include "platform/ClockWatch.h"

#include "platform/Clock.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QSocketNotifier>

#include <cstdint>
#include <ctime>
#include <sys/stat.h>
#include <sys/timerfd.h>
#include <unistd.h>

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

TimerFdClockWatch::TimerFdClockWatch(QStringList zoneFiles, QObject* parent)
    : QObject(parent), zoneFiles_(std::move(zoneFiles)) {
    auto* zoneWatcher = new QFileSystemWatcher(this);
    for (const QString& file : std::as_const(zoneFiles_)) {
        const QString folder = QFileInfo(file).absolutePath();
        if (!zoneWatcher->directories().contains(folder))
            zoneWatcher->addPath(folder);
        zoneIdentity_ += Identity(file);
    }
    connect(zoneWatcher, &QFileSystemWatcher::directoryChanged, this,
            &TimerFdClockWatch::zoneFolderChanged);

    fd_ = ::timerfd_create(CLOCK_REALTIME, TFD_NONBLOCK | TFD_CLOEXEC);
    if (fd_ < 0)
        return;
    if (!arm()) {
        ::close(fd_);
        fd_ = -1;
        return;
    }
    notifier_ = new QSocketNotifier(fd_, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &TimerFdClockWatch::readable);
}

TimerFdClockWatch::~TimerFdClockWatch() {
    delete notifier_;
    if (fd_ >= 0)
        ::close(fd_);
}

void TimerFdClockWatch::setCallback(std::function<void()> changed) {
    changed_ = std::move(changed);
}

bool TimerFdClockWatch::arm() {
    // A year ahead: the timer is only there to be cancelled.
    timespec now = {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    itimerspec expiry = {};
    expiry.it_value.tv_sec = now.tv_sec + 366 * 86400;
    return ::timerfd_settime(fd_, TFD_TIMER_ABSTIME | TFD_TIMER_CANCEL_ON_SET, &expiry, nullptr) ==
           0;
}

void TimerFdClockWatch::readable() {
    // ECANCELED when the clock was set; the expiry count should the year
    // ever pass. Either way the timer is set again.
    std::uint64_t expiries = 0;
    [[maybe_unused]] const ssize_t n = ::read(fd_, &expiries, sizeof expiries);
    if (!arm())
        notifier_->setEnabled(false);
    changed();
}

void TimerFdClockWatch::zoneFolderChanged() {
    // The folders hold other files too; only a change of a zone file counts.
    QByteArray identity;
    for (const QString& file : std::as_const(zoneFiles_))
        identity += Identity(file);
    if (identity == zoneIdentity_)
        return;
    zoneIdentity_ = identity;
    ReloadLocalZone();
    changed();
}

void TimerFdClockWatch::changed() {
    if (changed_)
        changed_();
}

} // namespace varnel
