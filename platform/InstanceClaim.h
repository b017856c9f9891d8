#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <functional>
#include <optional>
#include <sys/un.h>

class QSocketNotifier;

namespace varnel {

// What a second start asks of the copy that is open: to show its window,
// passing on the token the desktop's launcher gave the second start.
struct ShowRequest {
    QByteArray activationToken; // XDG_ACTIVATION_TOKEN, Wayland's
    QByteArray startupId;       // DESKTOP_STARTUP_ID, X11's startup notification

    // The request as it travels, and back; nothing for bytes that are not
    // exactly such a request (no more than kMaxBytes).
    QByteArray encode() const;
    static std::optional<ShowRequest> decode(const QByteArray& bytes);
    static constexpr qsizetype kMaxBytes = 1024;

    // The tokens this process was started with.
    static ShowRequest fromEnvironment();
};

// One open copy per settings file on this machine. The claim lives in the
// user's runtime folder: a lock, which the kernel lets go of however the
// copy ends, and beside it a socket on which the copy holding the lock hears
// of later starts. Made before the toolkit starts; it opens no display.
class InstanceClaim final : public QObject {
    Q_OBJECT
public:
    enum class State {
        Mine,          // this copy holds the claim and opens the window
        HeldElsewhere, // a running copy holds it
        Unavailable,   // no claim can be made (no private runtime folder, ...)
    };

    // Claims `settingsFile` in `runtimeFolder`. A copy that holds the lock
    // but has not begun to listen yet is waited for, briefly.
    InstanceClaim(const QString& runtimeFolder, const QString& settingsFile,
                  QObject* parent = nullptr);
    ~InstanceClaim() override;

    State state() const { return state_; }
    // The process that holds the claim: this one when it is Mine.
    qint64 holder() const { return holder_; }

    // The name the claim's files share in the runtime folder: the same for
    // one settings file however its path is written, another for another.
    static QString NameFor(const QString& settingsFile);

    // HeldElsewhere: passes `request` to the holder; false when it could not
    // be delivered.
    bool handOver(const ShowRequest& request);

    // Mine: from now on each request that arrives, from this user only, runs
    // `show` on the event loop; anything else is dropped.
    void serve(std::function<void(const ShowRequest&)> show);

private:
    void listen();
    bool connectToHolder();
    void accept();

    State state_ = State::Unavailable;
    qint64 holder_ = 0;
    sockaddr_un address_ = {}; // of the socket beside the lock
    int lockFd_ = -1;
    int socketFd_ = -1; // listening when Mine, connected when HeldElsewhere
    QSocketNotifier* notifier_ = nullptr;
    std::function<void(const ShowRequest&)> show_;
};

} // namespace varnel
