#include "platform/InstanceClaim.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
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
constexpr qsizetype kMaxToken = 512;

// A token as launchers make them: printable ASCII, no blanks.
bool ValidToken(const QByteArray& token) {
    if (token.isEmpty() || token.size() > kMaxToken)
        return false;
    return std::all_of(token.begin(), token.end(), [](char c) { return c > 0x20 && c < 0x7F; });
}

// The user's runtime folder as the base directory specification has it: a
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

// Reads one request from a connection that was just accepted, within two
// seconds; then the connection is closed, whatever came.
class Connection final : public QObject {
public:
    Connection(int fd, std::function<void(const ShowRequest&)> show, QObject* parent)
        : QObject(parent), fd_(fd), show_(std::move(show)),
          notifier_(new QSocketNotifier(fd, QSocketNotifier::Read, this)) {
        connect(notifier_, &QSocketNotifier::activated, this, &Connection::readable);
        QTimer::singleShot(2000, this, &Connection::done);
    }
    ~Connection() override { ::close(fd_); }

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
            if (const std::optional<ShowRequest> request = ShowRequest::decode(bytes_))
                show_(*request);
        }
        done();
    }
    void done() {
        notifier_->setEnabled(false);
        deleteLater();
    }

    int fd_;
    std::function<void(const ShowRequest&)> show_;
    QSocketNotifier* notifier_;
    QByteArray bytes_;
};

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
    const QFileInfo info(settingsFile);
    const QString folder = QFileInfo(info.absolutePath()).canonicalFilePath();
    const QString path = folder.isEmpty() ? QDir::cleanPath(info.absoluteFilePath())
                                          : folder + QLatin1Char('/') + info.fileName();
    const QByteArray hash =
        QCryptographicHash::hash(QFile::encodeName(path), QCryptographicHash::Sha256).toHex();
    return QStringLiteral("varnel-") + QString::fromLatin1(hash.left(16));
}

InstanceClaim::InstanceClaim(const QString& runtimeFolder, const QString& settingsFile,
                             QObject* parent)
    : QObject(parent) {
    if (!PrivateFolder(runtimeFolder))
        return;
    const QString base = runtimeFolder + QLatin1Char('/') + NameFor(settingsFile);
    if (!SocketAddress(base + QStringLiteral(".socket"), address_))
        return;
    lockFd_ = ::open(QFile::encodeName(base + QStringLiteral(".lock")).constData(),
                     O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (lockFd_ < 0)
        return;
    // A copy that has just taken the lock listens a moment later; one that
    // was killed has let go of the lock, whatever it left behind.
    for (QDeadlineTimer deadline(800);; QThread::msleep(10)) {
        if (::flock(lockFd_, LOCK_EX | LOCK_NB) == 0) {
            listen();
            return;
        }
        if (errno != EWOULDBLOCK)
            break;
        if (connectToHolder() || deadline.hasExpired()) {
            state_ = State::HeldElsewhere;
            char pid[32] = {};
            if (::pread(lockFd_, pid, sizeof pid - 1, 0) > 0)
                holder_ = QByteArray(pid).trimmed().toLongLong();
            return;
        }
    }
    ::close(lockFd_);
    lockFd_ = -1;
}

InstanceClaim::~InstanceClaim() {
    delete notifier_;
    if (socketFd_ >= 0)
        ::close(socketFd_);
    if (state_ == State::Mine)
        ::unlink(address_.sun_path);
    if (lockFd_ >= 0)
        ::close(lockFd_); // lets go of the lock
}

void InstanceClaim::listen() {
    // Whoever finds the claim held reads who holds it here.
    const QByteArray pid = QByteArray::number(qint64(::getpid())) + '\n';
    if (::ftruncate(lockFd_, 0) == 0)
        (void)!::pwrite(lockFd_, pid.constData(), pid.size(), 0);
    ::unlink(address_.sun_path); // left by a copy that was killed
    socketFd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (socketFd_ >= 0 &&
        ::bind(socketFd_, reinterpret_cast<const sockaddr*>(&address_), sizeof address_) == 0 &&
        ::chmod(address_.sun_path, 0600) == 0 && ::listen(socketFd_, 8) == 0) {
        state_ = State::Mine;
        holder_ = ::getpid();
        return;
    }
    // Held but deaf: no use to anyone, so let go and open as if unclaimed.
    if (socketFd_ >= 0)
        ::close(socketFd_);
    socketFd_ = -1;
    ::close(lockFd_);
    lockFd_ = -1;
}

bool InstanceClaim::connectToHolder() {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd >= 0 &&
        ::connect(fd, reinterpret_cast<const sockaddr*>(&address_), sizeof address_) == 0) {
        socketFd_ = fd;
        return true;
    }
    if (fd >= 0)
        ::close(fd);
    return false;
}

bool InstanceClaim::handOver(const ShowRequest& request) {
    if (state_ != State::HeldElsewhere || socketFd_ < 0)
        return false;
    const QByteArray bytes = request.encode();
    const bool sent =
        ::send(socketFd_, bytes.constData(), bytes.size(), MSG_NOSIGNAL) == ssize_t(bytes.size());
    ::shutdown(socketFd_, SHUT_WR);
    return sent;
}

void InstanceClaim::serve(std::function<void(const ShowRequest&)> show) {
    if (state_ != State::Mine || notifier_)
        return;
    show_ = std::move(show);
    notifier_ = new QSocketNotifier(socketFd_, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &InstanceClaim::accept);
}

void InstanceClaim::accept() {
    for (;;) {
        const int fd = ::accept4(socketFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0)
            return;
        // The folder is the user's alone; the kernel's word on who is
        // calling makes sure of it.
        ucred peer = {};
        socklen_t size = sizeof peer;
        if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 ||
            peer.uid != ::geteuid()) {
            ::close(fd);
            continue;
        }
        new Connection(fd, show_, this);
    }
}

} // namespace varnel
