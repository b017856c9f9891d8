#include "platform/Settings.h"

#include "platform/Files.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

namespace varnel {

namespace {

// A settings file that cannot be read would be replaced at the next save and
// the values in it lost for good. A copy of its bytes is kept beside it first,
// under a name of its own ("<file>.unreadable-YYYYMMDD-HHMMSS", then "-2",
// "-3", ... should that name be taken). A file that cannot even be opened
// cannot be copied, and Qt does not replace it either. Returns whether the
// copy was made.
bool KeepUnreadable(const QString& file) {
    if (!QFileInfo(file).isFile())
        return false;
    const QString base = file + QStringLiteral(".unreadable-") +
                         QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    for (int n = 1; n <= 100; ++n) {
        const QString copy = n == 1 ? base : base + QLatin1Char('-') + QString::number(n);
        if (QFileInfo::exists(copy))
            continue;
        return QFile::copy(file, copy);
    }
    return false;
}

} // namespace

IniSettingsBackend::IniSettingsBackend(QString configHome) : configHome_(std::move(configHome)) {}

QString IniSettingsBackend::fileFor(const QString& application) const {
    const QString home =
        configHome_.isEmpty()
            ? QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
            : configHome_;
    return home + QLatin1Char('/') + application + QLatin1Char('/') + application +
           QStringLiteral(".conf");
}

std::optional<QString> IniSettingsBackend::get(const QString& application, const QString& section,
                                               const QString& key, const QString& fallback) {
    // Only a regular file (or none) is read: a named pipe would block.
    const QString file = fileFor(application);
    if (!RegularFileOrAbsent(file))
        return std::nullopt;
    QSettings settings(file, QSettings::IniFormat);
    if (settings.status() != QSettings::NoError) {
        // With its bytes kept aside, the next save starts a clean file
        // rather than writing back what the toolkit made of them.
        if (KeepUnreadable(file))
            startAfresh_.insert(file);
        return std::nullopt;
    }
    settings.beginGroup(section);
    if (!settings.contains(key))
        return fallback;
    return settings.value(key).toString();
}

bool IniSettingsBackend::save(const QString& application, const QString& section,
                              const QString& key, const QString& value) {
    const QString file = fileFor(application);
    if (!RegularFileOrAbsent(file))
        return false;
    if (startAfresh_.remove(file) && !QFile::remove(file))
        return false;
    QSettings settings(file, QSettings::IniFormat);
    settings.beginGroup(section);
    settings.setValue(key, value);
    settings.endGroup();
    settings.sync();
    // A format error is left over from reading a broken file, which the
    // write has just replaced; only an access error means nothing was written.
    return settings.status() != QSettings::AccessError;
}

} // namespace varnel
