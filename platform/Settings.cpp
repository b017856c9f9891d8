#include "platform/Settings.h"

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
// cannot be copied, and Qt does not replace it either.
void KeepUnreadable(const QString& file) {
    if (!QFileInfo(file).isFile())
        return;
    const QString base = file + QStringLiteral(".unreadable-") +
                         QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    for (int n = 1; n <= 100; ++n) {
        const QString copy = n == 1 ? base : base + QLatin1Char('-') + QString::number(n);
        if (QFileInfo::exists(copy))
            continue;
        QFile::copy(file, copy);
        return;
    }
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
    QSettings settings(fileFor(application), QSettings::IniFormat);
    if (settings.status() != QSettings::NoError) {
        KeepUnreadable(fileFor(application));
        return std::nullopt;
    }
    settings.beginGroup(section);
    if (!settings.contains(key))
        return fallback;
    return settings.value(key).toString();
}

bool IniSettingsBackend::save(const QString& application, const QString& section,
                              const QString& key, const QString& value) {
    QSettings settings(fileFor(application), QSettings::IniFormat);
    settings.beginGroup(section);
    settings.setValue(key, value);
    settings.endGroup();
    settings.sync();
    // A format error is left over from reading a broken file, which the
    // write has just replaced; only an access error means nothing was written.
    return settings.status() != QSettings::AccessError;
}

} // namespace varnel
