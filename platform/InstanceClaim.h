#pragma once

#include <QByteArray>
#include <QDBusConnection>
#include <QDBusContext>
#include <QObject>
#include <QSet>
#include <QString>
#include <QVariantMap>
#include <functional>

namespace varnel {

// A second start's request to the open copy to show its window, with the
// tokens the desktop's launcher gave the second start.
struct ShowRequest {
    QByteArray activationToken; // Wayland's, "activation-token"
    QByteArray startupId;       // X11's startup notification, "desktop-startup-id"

    // The tokens this process was started with.
    static ShowRequest fromEnvironment();
};

// One open copy per settings file: a name on the user's session bus, owned by
// the copy whose window is open and let go by the bus when it ends, however
// it ends. The owner answers the desktop's org.freedesktop.Application. Made
// before the toolkit starts; it opens no display.
class InstanceClaim final : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Application")
public:
    enum class State {
        Mine,        // this copy owns the name and opens the window
        Shown,       // the open copy has shown its window for this start
        Silent,      // a copy owns the name but did not answer in time
        Refused,     // the copy that owns the name answered with an error
        Unavailable, // no session bus: every start opens a window
        Stopped,     // a stop signal came while a closing copy was waited for
    };

    // Takes the name for `settingsFile`, or asks its owner once to show its
    // window, waiting up to `patienceMs`; an owner that went while it was
    // asked is asked no more, one that took the name meanwhile is asked once.
    // A closing copy is waited for while it says so: once that wait has taken
    // `patienceMs`, `longWait` is told who it is (0: the bus will not say),
    // once. A stop signal the process heeds (StopSignals::Heeded) ends that
    // wait at once (Stopped); at any other moment it ends the process as it
    // would have anyway.
    explicit InstanceClaim(const QString& settingsFile, const ShowRequest& request = {},
                           int patienceMs = 3000,
                           const std::function<void(qint64 holder)>& longWait = {},
                           QObject* parent = nullptr);
    ~InstanceClaim() override;

    State state() const { return state_; }
    // The name's owner (this process when Mine); 0 when the bus will not say.
    qint64 holder() const { return holder_; }
    // Unavailable: why there is no bus. Refused: the owner's error.
    QString problem() const { return problem_; }

    // The application id for the user's usual settings file (under the home
    // the password database gives, whatever $HOME says); for any other, a
    // name from its path (however written, its folder made yet or not).
    static QString ServiceFor(const QString& settingsFile);

    // Mine: each Activate runs `show` (on the event loop), then is answered.
    void serve(std::function<void(const ShowRequest&)> show) { show_ = std::move(show); }
    // Mine: the window is closing, its name kept until the process ends;
    // Activate brings its box forward (once per caller), answering so.
    void closing() { closing_ = true; }
    // Mine: the window has gone and nothing here answers any more: the name
    // is let go at once, for a start that waits on it.
    void release();

public slots: // org.freedesktop.Application
    void Activate(const QVariantMap& platformData);
    void Open(const QStringList& uris, const QVariantMap& platformData);
    void ActivateAction(const QString& name, const QVariantList& parameter,
                        const QVariantMap& platformData);

private:
    State state_ = State::Unavailable;
    qint64 holder_ = 0;
    QString problem_;
    QString service_;
    QDBusConnection bus_;
    bool closing_ = false;
    QSet<QString> askedWhileClosing_; // callers whose box came forward
    std::function<void(const ShowRequest&)> show_;
};

} // namespace varnel
