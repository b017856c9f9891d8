#include "platform/InstanceClaim.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace varnel {

namespace {

const QByteArray kHead = "varnel-show\n";
const QByteArray kTokenKey = "XDG_ACTIVATION_TOKEN=";
const QByteArray kStartupKey = "DESKTOP_STARTUP_ID=";
// What the holder says once its window (or the box it holds open) is shown.
const QByteArray kAnswer = "varnel-shown\n";

// A few second starts at once are served; more wait in the kernel's queue.
constexpr int kMaxOpen = 4;
// Out of descriptors: the holder rests this long before it accepts again.
constexpr int kRestMs = 100;

// A token as launchers make them: printable ASCII, no blanks.
bool ValidToken(const QByteArray& token) {
    if (token.isEmpty() || token.size() > ShowRequest::kMaxToken)
        return false;
    return std::all_of(token.begin(), token.end(), [](char c) { return c > 0x20 && c < 0x7F; });
}

// The user's runtime folder as the XDG base-directory rules have it: a
// folder of the user's alone.
bool PrivateFolder(const QString& folder) {
    struct stat st = {};
    return QDir::isAbsolutePath(folder) &&
           ::stat(QFile::encodeName(folder).constData(), &st) == 0 && S_ISDIR(st.st_mode) &&
           st.st_uid == ::geteuid() && (st.st_mode & 077) == 0;
}

bool SocketAddress(const QString& path, sockaddr_un& address) {
    const QByteArray name = QFile::encodeName(path);
    address = {};
    address.sun_family = AF_UNIX;
    if (name.size() >= qsizetype(sizeof address.sun_path))
        return false;
    std::memcpy(address.sun_path, name.constData(), name.size());
    return true;
}

QString Failed(const char* call) {
    return QStringLiteral("%1: %2").arg(QLatin1String(call),
                                        QString::fromLocal8Bit(std::strerror(errno)));
}

// Reads one request from a connection that was just accepted, within two
// seconds; shows, answers, and closes. Anything else is closed unanswered.
class Connection final : public QObject {
public:
    Connection(int fd, const std::function<void(const ShowRequest&)>& show, QObject* parent)
        : QObject(parent), fd_(fd), show_(show),
          notifier_(new QSocketNotifier(fd, QSocketNotifier::Read, this)) {
        connect(notifier_, &QSocketNotifier::activated, this, &Connection::readable);
        QTimer::singleShot(2000, this, &Connection::done);
    }
    ~Connection() override { ::close(fd_); }

    // Closed unanswered, at once: the caller sees the end and tries again.
    void drop() {
        ::shutdown(fd_, SHUT_RDWR);
        done();
    }

private:
    void readable() {
        char chunk[512];
        const ssize_t n = ::read(fd_, chunk, sizeof chunk);
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            return;
        if (n > 0) {
            bytes_.append(chunk, n);
            if (bytes_.size() <= ShowRequest::kMaxBytes)
                return;
        } else if (n == 0) { // all of it has come
            if (const std::optional<ShowRequest> request = ShowRequest::decode(bytes_)) {
                show_(*request);
                (void)!::send(fd_, kAnswer.constData(), kAnswer.size(), MSG_NOSIGNAL);
            }
        }
        done();
    }
    void done() {
        notifier_->setEnabled(false);
        deleteLater();
    }

    int fd_;
    const std::function<void(const ShowRequest&)>& show_;
    QSocketNotifier* notifier_;
    QByteArray bytes_;
};

// A socket listening at `address`, marked sticky; -1 and `problem` said when
// a step fails.
int BoundSocket(const sockaddr_un& address, struct stat& made, QString& problem) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        problem = Failed("socket");
    else if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        problem = Failed("bind");
    else if (::chmod(address.sun_path, S_ISVTX | 0600) != 0 || ::stat(address.sun_path, &made) != 0)
        problem = Failed("chmod");
    else if (::listen(fd, 8) != 0)
        problem = Failed("listen");
    if (problem.isEmpty())
        return fd;
    if (made.st_ino != 0)
        ::unlink(address.sun_path);
    if (fd >= 0)
        ::close(fd);
    return -1;
}

} // namespace

QByteArray ShowRequest::encode() const {
    QByteArray out = kHead;
    if (!activationToken.isEmpty())
        out += kTokenKey + activationToken + '\n';
    if (!startupId.isEmpty())
        out += kStartupKey + startupId + '\n';
    return out;
}

std::optional<ShowRequest> ShowRequest::decode(const QByteArray& bytes) {
    if (bytes.size() > kMaxBytes || !bytes.startsWith(kHead))
        return std::nullopt;
    ShowRequest request;
    QByteArray rest = bytes.mid(kHead.size());
    while (!rest.isEmpty()) {
        const qsizetype end = rest.indexOf('\n');
        if (end < 0)
            return std::nullopt;
        const QByteArray line = rest.left(end);
        rest.remove(0, end + 1);
        QByteArray* field = line.startsWith(kTokenKey)     ? &request.activationToken
                            : line.startsWith(kStartupKey) ? &request.startupId
                                                           : nullptr;
        if (!field || !field->isEmpty())
            return std::nullopt; // unknown, or said twice
        *field = line.mid(line.indexOf('=') + 1);
        if (!ValidToken(*field))
            return std::nullopt;
    }
    return request;
}

ShowRequest ShowRequest::fromEnvironment() {
    ShowRequest request{qgetenv("XDG_ACTIVATION_TOKEN"), qgetenv("DESKTOP_STARTUP_ID")};
    if (!ValidToken(request.activationToken))
        request.activationToken.clear();
    if (!ValidToken(request.startupId))
        request.startupId.clear();
    return request;
}

QString InstanceClaim::NameFor(const QString& settingsFile) {
    // The nearest folder that exists is resolved (links and all), and the
    // parts still to be made are added as written: the name stays the same
    // once they are made.
    const QString path = QDir::cleanPath(QFileInfo(settingsFile).absoluteFilePath());
    QString resolved;
    qsizetype cut = path.size();
    while (resolved.isEmpty() && cut > 0) {
        cut = path.lastIndexOf(QLatin1Char('/'), cut - 1);
        resolved = QFileInfo(cut == 0 ? QStringLiteral("/") : path.left(cut)).canonicalFilePath();
    }
    if (resolved.endsWith(QLatin1Char('/')))
        resolved.chop(1);
    const QByteArray hash = QCryptographicHash::hash(QFile::encodeName(resolved + path.mid(cut)),
                                                     QCryptographicHash::Sha256)
                                .toHex();
    return QStringLiteral("varnel-") + QString::fromLatin1(hash.left(16));
}

InstanceClaim::InstanceClaim(const QString& runtimeFolder, const QString& settingsFile,
                             const ShowRequest& request, int patienceMs, QObject* parent)
    : QObject(parent) {
    if (!PrivateFolder(runtimeFolder))
        return;
    const QString base = runtimeFolder + QLatin1Char('/') + NameFor(settingsFile);
    lockPath_ = base + QStringLiteral(".lock");
    if (!SocketAddress(base + QStringLiteral(".socket"), address_)) {
        problem_ = QStringLiteral("the runtime folder's path is too long for a socket");
        return;
    }
    for (QDeadlineTimer deadline(patienceMs);;) {
        // A live holder answers on the socket, whatever became of the lock.
        Reply reply = tryHolder(request, int(deadline.remainingTime()));
        if (reply == Reply::Absent) {
            const int taken = takeLock();
            if (taken < 0) {
                problem_ = Failed("lock");
                return;
            }
            if (taken > 0) {
                // Ours now, unless a live copy whose lock file was removed
                // still listens on the socket.
                reply = tryHolder(request, int(deadline.remainingTime()));
                if (reply == Reply::Absent) {
                    listen(runtimeFolder);
                    return;
                }
                ::close(lockFd_);
                lockFd_ = -1;
            }
        }
        if (reply == Reply::Answered || reply == Reply::Silent) {
            state_ = reply == Reply::Answered ? State::Shown : State::Silent;
            return;
        }
        if (deadline.hasExpired()) {
            // Held all along by a copy that never listened.
            state_ = State::Silent;
            return;
        }
        // A copy that left (or is leaving) lets go of the lock at once; one
        // that has just taken it listens a moment later.
        QThread::msleep(reply == Reply::Left ? 50 : 10);
    }
}

InstanceClaim::~InstanceClaim() {
    release();
}

InstanceClaim::Reply InstanceClaim::tryHolder(const ShowRequest& request, int patienceMs) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return Reply::Absent;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address_), sizeof address_) != 0) {
        // A full queue: a holder is there but does not take its calls.
        const bool busy = errno == EAGAIN;
        ::close(fd);
        return busy ? Reply::Left : Reply::Absent;
    }
    // Who answers is the kernel's word, not a file's.
    ucred peer = {};
    socklen_t size = sizeof peer;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0)
        holder_ = peer.pid;
    const QByteArray bytes = request.encode();
    Reply reply = Reply::Left;
    if (::send(fd, bytes.constData(), bytes.size(), MSG_NOSIGNAL) == ssize_t(bytes.size()) &&
        ::shutdown(fd, SHUT_WR) == 0) {
        QByteArray answer;
        reply = Reply::Silent;
        for (QDeadlineTimer deadline(std::max(patienceMs, 0));;) {
            pollfd p = {fd, POLLIN, 0};
            const int ready = ::poll(&p, 1, int(deadline.remainingTime()));
            if (ready < 0 && errno == EINTR)
                continue;
            if (ready <= 0)
                break;
            char chunk[64];
            const ssize_t n = ::read(fd, chunk, sizeof chunk);
            if (n < 0 && (errno == EAGAIN || errno == EINTR))
                continue;
            if (n > 0 && answer.size() < kAnswer.size()) {
                answer.append(chunk, n);
                continue;
            }
            // Closed (or reset): answered, or dropped by a copy that closes.
            reply = answer == kAnswer ? Reply::Answered : Reply::Left;
            break;
        }
    }
    ::close(fd);
    return reply;
}

// 1 when the lock is taken, 0 when another copy holds it, -1 on a failure.
int InstanceClaim::takeLock() {
    const QByteArray path = QFile::encodeName(lockPath_);
    if (lockFd_ < 0) {
        lockFd_ = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (lockFd_ < 0)
            return -1;
        // Sticky: the runtime folder's clean-up leaves it alone.
        ::fchmod(lockFd_, S_ISVTX | 0600);
    }
    if (::flock(lockFd_, LOCK_EX | LOCK_NB) != 0)
        return errno == EWOULDBLOCK ? 0 : -1;
    // The file may have been removed, and another made, since it was opened.
    struct stat held = {};
    struct stat named = {};
    if (::fstat(lockFd_, &held) == 0 && ::stat(path.constData(), &named) == 0 &&
        held.st_dev == named.st_dev && held.st_ino == named.st_ino)
        return 1;
    ::close(lockFd_);
    lockFd_ = -1;
    return 0;
}

void InstanceClaim::listen(const QString& runtimeFolder) {
    // Nobody answered on a socket left there: a copy that was killed made it.
    ::unlink(address_.sun_path);
    struct stat made = {};
    socketFd_ = BoundSocket(address_, made, problem_);
    if (socketFd_ < 0) {
        // Held but deaf: no use to anyone, so let go and open as if unclaimed.
        ::close(lockFd_);
        lockFd_ = -1;
        return;
    }
    socketDev_ = made.st_dev;
    socketIno_ = made.st_ino;
    state_ = State::Mine;
    holder_ = ::getpid();
    runtimeFolder_ = runtimeFolder;
}

void InstanceClaim::mend() {
    if (socketFd_ < 0)
        return;
    struct stat named = {};
    struct stat held = {};
    if (::stat(QFile::encodeName(lockPath_).constData(), &named) != 0 ||
        ::fstat(lockFd_, &held) != 0 || named.st_ino != held.st_ino ||
        named.st_dev != held.st_dev) {
        const int old = lockFd_;
        lockFd_ = -1;
        if (takeLock() > 0) {
            ::close(old);
        } else {
            if (lockFd_ >= 0)
                ::close(lockFd_);
            lockFd_ = old;
        }
    }
    if (::lstat(address_.sun_path, &named) == 0 || errno != ENOENT)
        return;
    struct stat made = {};
    QString problem;
    const int fd = BoundSocket(address_, made, problem);
    if (fd < 0)
        return;
    const bool serving = notifier_ != nullptr;
    delete notifier_;
    notifier_ = nullptr;
    ::close(socketFd_);
    socketFd_ = fd;
    socketDev_ = made.st_dev;
    socketIno_ = made.st_ino;
    if (serving) {
        notifier_ = new QSocketNotifier(socketFd_, QSocketNotifier::Read, this);
        notifier_->setEnabled(!resting_ && open_ < kMaxOpen);
        connect(notifier_, &QSocketNotifier::activated, this, &InstanceClaim::accept);
    }
}

void InstanceClaim::serve(std::function<void(const ShowRequest&)> show) {
    if (state_ != State::Mine || socketFd_ < 0 || notifier_)
        return;
    show_ = std::move(show);
    notifier_ = new QSocketNotifier(socketFd_, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &InstanceClaim::accept);
    // A clean-up (or a hand) that removes the claim's files has them made
    // again at once, so that later starts still find this copy.
    watcher_ = new QFileSystemWatcher({runtimeFolder_}, this);
    connect(watcher_, &QFileSystemWatcher::directoryChanged, this, &InstanceClaim::mend);
}

void InstanceClaim::release() {
    delete watcher_;
    watcher_ = nullptr;
    delete notifier_;
    notifier_ = nullptr;
    const QObjectList children = this->children();
    for (QObject* child : children)
        if (auto* connection = dynamic_cast<Connection*>(child))
            connection->drop();
    if (socketFd_ >= 0) {
        ::close(socketFd_);
        socketFd_ = -1;
        // Only the socket this copy made: a later holder's stays.
        struct stat named = {};
        if (::stat(address_.sun_path, &named) == 0 && named.st_dev == socketDev_ &&
            named.st_ino == socketIno_)
            ::unlink(address_.sun_path);
    }
    if (lockFd_ >= 0) {
        ::close(lockFd_); // lets go of the lock
        lockFd_ = -1;
    }
}

void InstanceClaim::accept() {
    // A bounded number of calls per wake-up, and a few at once: the event
    // loop (and the tick) never waits on a crowd of second starts.
    for (int n = 0; n < kMaxOpen && open_ < kMaxOpen; ++n) {
        const int fd = ::accept4(socketFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            // Out of descriptors or memory, the call stays queued and the
            // socket ready: rest rather than spin, then serve again.
            if (errno != EAGAIN && errno != EINTR && errno != ECONNABORTED)
                rest();
            return;
        }
        // The folder is the user's alone; the kernel's word on who is
        // calling makes sure of it.
        ucred peer = {};
        socklen_t size = sizeof peer;
        if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 ||
            peer.uid != ::geteuid()) {
            ::close(fd);
            continue;
        }
        ++open_;
        auto* connection = new Connection(fd, show_, this);
        connect(connection, &QObject::destroyed, this, &InstanceClaim::connectionClosed);
    }
    if (open_ >= kMaxOpen)
        notifier_->setEnabled(false);
}

void InstanceClaim::rest() {
    resting_ = true;
    notifier_->setEnabled(false);
    QTimer::singleShot(kRestMs, this, [this] {
        resting_ = false;
        if (notifier_ && open_ < kMaxOpen)
            notifier_->setEnabled(true);
    });
}

void InstanceClaim::connectionClosed() {
    --open_;
    if (notifier_ && !resting_ && open_ < kMaxOpen)
        notifier_->setEnabled(true);
}

} // namespace varnel
