#include "platform/Settings.h"

#include <QDir>
#include <QSettings>
#include <QStandardPaths>

namespace varnel {

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
    if (settings.status() != QSettings::NoError)
        return std::nullopt;
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
    return settings.status() == QSettings::NoError;
}

} // namespace varnel
