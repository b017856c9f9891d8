#pragma once

#include <QByteArray>
#include <QObject>
#include <QStringList>
#include <functional>

namespace varnel {

// The files the local time zone is read from: /etc/localtime, and the file
// TZ names when it names one (":Europe/Berlin", "/path/to/zone").
QStringList LocalZoneFiles();

// Tells when the local time zone changes (a laptop that travels): the wall
// clock then shows another time while no timer hears of it.
class IZoneWatch {
public:
    virtual ~IZoneWatch() = default;
    // `changed` runs on the event loop after each change.
    virtual void setCallback(std::function<void()> changed) = 0;
};

// Watches the zone files through their folders, since a desktop's date
// settings replace the /etc/localtime link rather than write to it.
class ZoneWatch final : public QObject, public IZoneWatch {
    Q_OBJECT
public:
    explicit ZoneWatch(QStringList zoneFiles = LocalZoneFiles(), QObject* parent = nullptr);

    void setCallback(std::function<void()> changed) override;

private:
    void zoneFolderChanged();

    std::function<void()> changed_;
    QStringList zoneFiles_;
    QByteArray zoneIdentity_; // of all zone files, to tell a change of theirs
};

} // namespace varnel
