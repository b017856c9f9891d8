#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <functional>
#include <optional>
#include <sys/types.h>
#include <sys/un.h>

class QFileSystemWatcher;
class QSocketNotifier;

namespace varnel {

// What a second start asks of the copy that is open: to show its window,
// passing on the token the desktop's launcher gave the second start.
struct ShowRequest {
    QByteArray activationToken; // XDG_ACTIVATION_TOKEN, Wayland's
    QByteArray startupId;       // DESKTOP_STARTUP_ID, X11's startup notification

    // The request as it travels, and back; nothing for bytes that are not
    // exactly such a request. Any request encode() makes fits in kMaxBytes.
    QByteArray encode() const;
    static std::optional<ShowRequest> decode(const QByteArray& bytes);
    static constexpr qsizetype kMaxToken = 512;
    static constexpr qsizetype kMaxBytes = 2048;

    // The tokens this process was started with.
    static ShowRequest fromEnvironment();
};

// One open copy per settings file on this machine. The claim lives in the
// user's runtime folder: a lock, which the kernel lets go of however the
// copy ends, and beside it a socket on which the copy that holds the claim
// hears of later starts and answers them once it has shown its window. The
// socket is the proof of a live holder: a start tries it before anything
// else, so a lock file that a clean-up removed takes nothing away. Made
// before the toolkit starts; it opens no display.
class InstanceClaim final : public QObject {
    Q_OBJECT
public:
    enum class State {
        Mine,        // this copy holds the claim and opens the window
        Shown,       // the open copy has shown its window for this start
        Silent,      // a copy holds the claim but did not answer in time
        Unavailable, // no claim can be made (no private runtime folder, ...)
    };

    // Claims `settingsFile` in `runtimeFolder`, or hands `request` to the copy
    // that holds it and waits up to `patienceMs` for its answer. A copy that
    // is closing, or has taken the lock but not begun to listen yet, is
    // waited for within the same time.
    InstanceClaim(const QString& runtimeFolder, const QString& settingsFile,
                  const ShowRequest& request = {}, int patienceMs = 3000,
                  QObject* parent = nullptr);
    ~InstanceClaim() override;

    State state() const { return state_; }
    // Mine: this process. Shown and Silent: the open copy, as the kernel
    // names the other end of the socket; 0 when no connection was made.
    qint64 holder() const { return holder_; }
    // Unavailable: the call that failed and why; empty when there is simply
    // no private runtime folder.
    QString problem() const { return problem_; }

    // The name the claim's files share in the runtime folder: the same for
    // one settings file however its path is written, and whether or not its
    // folder exists yet; another for another file.
    static QString NameFor(const QString& settingsFile);

    // Mine: from now on each request that arrives, from this user only, runs
    // `show` on the event loop and is then answered; anything else is dropped.
    // The claim's files are watched too, and made again when removed. Needs
    // the event loop's application object.
    void serve(std::function<void(const ShowRequest&)> show);

    // Mine: stops answering and gives the claim up: open connections are
    // closed unanswered, the socket is closed and removed, the lock let go.
    // A start waiting on it then takes the claim itself.
    void release();

private:
    enum class Reply { Answered, Left, Silent, Absent };
    Reply tryHolder(const ShowRequest& request, int patienceMs);
    int takeLock();
    void listen(const QString& runtimeFolder);
    void mend();
    void accept();
    void rest();
    void connectionClosed();

    State state_ = State::Unavailable;
    qint64 holder_ = 0;
    QString problem_;
    QString lockPath_;
    QString runtimeFolder_;
    sockaddr_un address_ = {}; // of the socket beside the lock
    int lockFd_ = -1;
    int socketFd_ = -1;   // listening when Mine
    dev_t socketDev_ = 0; // the socket this copy made, to remove only that one
    ino_t socketIno_ = 0;
    int open_ = 0; // connections being served
    bool resting_ = false;
    QSocketNotifier* notifier_ = nullptr;
    QFileSystemWatcher* watcher_ = nullptr;
    std::function<void(const ShowRequest&)> show_;
};

} // namespace varnel
