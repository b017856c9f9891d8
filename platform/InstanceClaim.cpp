#include "platform/InstanceClaim.h"

#include "platform/StopSignals.h"

#include <QCryptographicHash>
#include <QDBusConnectionInterface>
#include <QDBusReply>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <csignal>
#include <ctime>
#include <filesystem>
#include <optional>
#include <pwd.h>
#include <unistd.h>

namespace varnel {

namespace {

constexpr QLatin1StringView kAppId(VARNEL_APP_ID);
constexpr QLatin1StringView kPath("/org/varnel/Varnel");
constexpr QLatin1StringView kInterface("org.freedesktop.Application");
constexpr QLatin1StringView kClosing(VARNEL_APP_ID ".Error.Closing");
constexpr QLatin1StringView kTokenKey("activation-token");
constexpr QLatin1StringView kStartupKey("desktop-startup-id");

// The path with its longest existing part resolved (links and all) and the
// rest, still to be made, added as written.
QString Resolved(const QString& file) {
    const QString path = QDir::cleanPath(QFileInfo(file).absoluteFilePath());
    std::error_code error;
    const std::filesystem::path resolved =
        std::filesystem::weakly_canonical(QFile::encodeName(path).toStdString(), error);
    return error ? path : QFile::decodeName(resolved.c_str());
}

// The address of the user's session bus: the environment's, or the user's bus
// in the runtime folder. Exactly that bus is used, so that the bus library
// never launches one for this process alone.
QString SessionBusAddress() {
    const QString given = qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS");
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!given.isEmpty() || !QDir::isAbsolutePath(runtime))
        return given;
    // Bytes other than [-0-9A-Za-z_/.*] are escaped in an address.
    return QStringLiteral("unix:path=") +
           QString::fromLatin1(
               QFile::encodeName(runtime + QStringLiteral("/bus")).toPercentEncoding("/*", "~"));
}

// The stop signals held back in this thread for as long as it lives: a stop
// that comes meanwhile waits to be taken (cameWithin), or is taken as usual
// once they are let go.
class HeldStops {
public:
    HeldStops() : stops_(StopSignals::Heeded()) { pthread_sigmask(SIG_BLOCK, &stops_, &before_); }
    ~HeldStops() { pthread_sigmask(SIG_SETMASK, &before_, nullptr); }
    // Whether a stop signal comes within `ms`; it is taken if so.
    bool cameWithin(int ms) const {
        const timespec wait = {ms / 1000, (ms % 1000) * 1'000'000L};
        return sigtimedwait(&stops_, nullptr, &wait) > 0;
    }

private:
    sigset_t stops_;
    sigset_t before_;
};

} // namespace

ShowRequest ShowRequest::fromEnvironment() {
    return {qgetenv("XDG_ACTIVATION_TOKEN"), qgetenv("DESKTOP_STARTUP_ID")};
}

QString InstanceClaim::ServiceFor(const QString& settingsFile) {
    const QString path = Resolved(settingsFile);
    // The user's home as the password database gives it, whatever $HOME says.
    const passwd* user = ::getpwuid(::geteuid());
    if (user && path == Resolved(QFile::decodeName(user->pw_dir) + "/.config/Varnel/Varnel.conf"))
        return QString(kAppId);
    const QByteArray hash =
        QCryptographicHash::hash(QFile::encodeName(path), QCryptographicHash::Sha256).toHex();
    return QString(kAppId) + QStringLiteral(".Settings_") + QString::fromLatin1(hash.left(16));
}

InstanceClaim::InstanceClaim(const QString& settingsFile, const ShowRequest& request,
                             int patienceMs, const std::function<void(qint64)>& longWait,
                             QObject* parent)
    : QObject(parent), service_(ServiceFor(settingsFile)), bus_(QString()) {
    {
        // The bus library's own thread, which a lookup starts, holds the stop
        // signals back for good; so a stop comes to this thread, which ends
        // by it at once, or takes it while it waits on a closing copy.
        const HeldStops starting;
        QDBusConnection(QStringLiteral("varnel-none"));
    }
    // A connection of its own, which the bus drops with the name when it ends;
    // served from the moment the name is ours (once the event loop runs).
    const QString address = SessionBusAddress();
    if (!address.isEmpty())
        bus_ = QDBusConnection::connectToBus(address,
                                             QStringLiteral("varnel-claim-%1").arg(quintptr(this)));
    if (!bus_.isConnected() || !bus_.registerObject(kPath, this, QDBusConnection::ExportAllSlots)) {
        problem_ = address.isEmpty()
                       ? QStringLiteral("no DBUS_SESSION_BUS_ADDRESS, no XDG_RUNTIME_DIR")
                       : QStringLiteral("the session bus at %1: %2")
                             .arg(address, bus_.lastError().message());
        return;
    }
    const QDBusMessage activate =
        QDBusMessage::createMethodCall(service_, kPath, kInterface, QStringLiteral("Activate"))
        << QVariantMap{{kTokenKey, QString::fromUtf8(request.activationToken)},
                       {kStartupKey, QString::fromUtf8(request.startupId)}};

    // Take the name, or ask its owner once; while the owner answers that it
    // is closing, pause and try again.
    using Names = QDBusConnectionInterface;
    Names* names = bus_.interface();
    QElapsedTimer closingFor;
    std::optional<HeldStops> stops; // while a closing copy is waited on
    bool saidLong = false;
    bool askedAnother = false;
    const auto holder = [&] {
        const QDBusReply<uint> owner = names->servicePid(service_);
        return owner.isValid() ? qint64(owner.value()) : 0;
    };
    for (QDeadlineTimer patience(patienceMs);;) {
        const QDBusReply<Names::RegisterServiceReply> taken =
            names->registerService(service_, Names::DontQueueService, Names::DontAllowReplacement);
        if (!taken.isValid()) {
            problem_ = QStringLiteral("the session bus: ") + taken.error().message();
            return;
        }
        if (taken.value() == Names::ServiceRegistered) {
            state_ = State::Mine;
            holder_ = ::getpid();
            return;
        }
        const QString asked = names->serviceOwner(service_);
        const QDBusMessage reply =
            bus_.call(activate, QDBus::Block, int(std::max<qint64>(patience.remainingTime(), 1)));
        if (reply.errorName() == kClosing) {
            patience.setRemainingTime(patienceMs); // it answers: look again shortly
            if (!closingFor.isValid()) {
                closingFor.start();
                stops.emplace();
            }
            if (!saidLong && closingFor.hasExpired(patienceMs) && longWait) {
                saidLong = true;
                longWait(holder());
            }
            if (stops->cameWithin(100)) {
                state_ = State::Stopped;
                return;
            }
            continue;
        }
        // An owner that ended while it was asked (no reply, or no such name
        // any more) leaves the name free: take it. Another copy that took
        // the name meanwhile is asked in turn, once.
        const bool answered = reply.type() == QDBusMessage::ReplyMessage;
        if (!answered && !patience.hasExpired()) {
            const QDBusReply<bool> owned = names->isServiceRegistered(service_);
            if (owned.isValid() && !owned.value())
                continue;
            if (names->serviceOwner(service_).value() != asked && !askedAnother) {
                askedAnother = true;
                continue;
            }
        }
        const bool noReply = QDBusError(reply).type() == QDBusError::NoReply;
        state_ = answered ? State::Shown : noReply ? State::Silent : State::Refused;
        if (state_ == State::Refused)
            problem_ = reply.errorName() + QStringLiteral(": ") + reply.errorMessage();
        break;
    }
    // Who the owner is, for the message alone; the bus may not say.
    holder_ = holder();
}

void InstanceClaim::release() {
    if (state_ == State::Mine)
        bus_.interface()->unregisterService(service_);
}

InstanceClaim::~InstanceClaim() {
    QDBusConnection::disconnectFromBus(bus_.name());
}

void InstanceClaim::Activate(const QVariantMap& platformData) {
    const QString caller = message().service();
    if (show_ && !(closing_ && askedWhileClosing_.contains(caller)))
        show_({platformData.value(kTokenKey).toString().toUtf8(),
               platformData.value(kStartupKey).toString().toUtf8()});
    if (closing_) {
        askedWhileClosing_.insert(caller);
        sendErrorReply(kClosing, QStringLiteral("Varnel is closing; its name is free once its "
                                                "window is gone"));
    }
}

void InstanceClaim::Open(const QStringList&, const QVariantMap&) {
    sendErrorReply(QDBusError::NotSupported, QStringLiteral("Varnel opens no files"));
}

void InstanceClaim::ActivateAction(const QString&, const QVariantList&, const QVariantMap&) {
    sendErrorReply(QDBusError::NotSupported, QStringLiteral("Varnel has no actions"));
}

} // namespace varnel
