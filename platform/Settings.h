#pragma once

#include <QSet>
#include <QString>
#include <optional>

namespace varnel {

// Per-user text settings keyed by application, section and key.
class ISettingsBackend {
public:
    virtual ~ISettingsBackend() = default;
    // The stored text (also when it is empty), `fallback` when the key is
    // absent, or nothing when the store cannot be read (its file is then
    // copied aside, so that the next save loses nothing).
    virtual std::optional<QString> get(const QString& application, const QString& section,
                                       const QString& key, const QString& fallback) = 0;
    // Stores `value`, creating whatever is absent; false when it failed.
    virtual bool save(const QString& application, const QString& section, const QString& key,
                      const QString& value) = 0;
};

// Keeps each application's settings in an INI file,
// $XDG_CONFIG_HOME/<application>/<application>.conf (~/.config by default).
class IniSettingsBackend final : public ISettingsBackend {
public:
    // `configHome` empty: the user's XDG configuration folder, looked up on
    // every call.
    explicit IniSettingsBackend(QString configHome = QString());

    QString fileFor(const QString& application) const;

    std::optional<QString> get(const QString& application, const QString& section,
                               const QString& key, const QString& fallback) override;
    bool save(const QString& application, const QString& section, const QString& key,
              const QString& value) override;

private:
    QString configHome_;
    QSet<QString> startAfresh_; // unreadable files whose bytes were kept aside
};

} // namespace varnel
