#pragma once

#include <QByteArray>
#include <QObject>
#include <QStringList>
#include <functional>

class QSocketNotifier;

namespace varnel {

// The files the local time zone is read from: /etc/localtime, and the file
// TZ names when it names one (":Europe/Berlin", "/path/to/zone").
QStringList LocalZoneFiles();

// Tells when the wall clock jumps: it was set, the machine woke from suspend,
// or the local time zone changed. Timers know nothing of any of these.
class IClockWatch {
public:
    virtual ~IClockWatch() = default;
    // `changed` runs on the event loop after each jump.
    virtual void setCallback(std::function<void()> changed) = 0;
};

// The kernel's word for it: a timer on the real-time clock, set far ahead with
// TFD_TIMER_CANCEL_ON_SET, is cancelled whenever that clock is set, which also
// happens on resume. Without timerfd that part stays silent. The zone files
// are watched through their folders, since a desktop's date settings replace
// the /etc/localtime link rather than write to it.
class TimerFdClockWatch final : public QObject, public IClockWatch {
    Q_OBJECT
public:
    explicit TimerFdClockWatch(QStringList zoneFiles = LocalZoneFiles(), QObject* parent = nullptr);
    ~TimerFdClockWatch() override;

    void setCallback(std::function<void()> changed) override;
    bool watching() const { return fd_ >= 0; }

private:
    bool arm();
    void readable();
    void zoneFolderChanged();
    void changed();

    int fd_ = -1;
    QSocketNotifier* notifier_ = nullptr;
    std::function<void()> changed_;
    QStringList zoneFiles_;
    QByteArray zoneIdentity_; // of all zone files, to tell a change of theirs
};

} // namespace varnel
