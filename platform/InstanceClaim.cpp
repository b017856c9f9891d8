#include "platform/InstanceClaim.h"

#include <QCryptographicHash>
#include <QDBusConnectionInterface>
#include <QDBusReply>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <algorithm>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace varnel {

namespace {

const QString kAppId = QStringLiteral(VARNEL_APP_ID);
const QString kPath = QStringLiteral("/org/varnel/Varnel");
const QString kInterface = QStringLiteral("org.freedesktop.Application");
const QString kClosing = kAppId + QStringLiteral(".Error.Closing");
const QString kTokenKey = QStringLiteral("activation-token");
const QString kStartupKey = QStringLiteral("desktop-startup-id");
// How often a start waiting for a closing copy looks at the name again.
constexpr int kPollMs = 100;

// The path with its longest existing part resolved (links and all) and the
// rest, still to be made, added as written.
QString Resolved(const QString& file) {
    const QString path = QDir::cleanPath(QFileInfo(file).absoluteFilePath());
    std::error_code error;
    const std::filesystem::path resolved =
        std::filesystem::weakly_canonical(QFile::encodeName(path).toStdString(), error);
    return error ? path : QFile::decodeName(resolved.c_str());
}

// Whether the user has a session bus: its address given, or the user's bus in
// the runtime folder, where libdbus looks for it. Without either libdbus would
// launch a bus for this process alone.
bool HasSessionBus() {
    struct stat st = {};
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    return !qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS") ||
           (QDir::isAbsolutePath(runtime) &&
            ::stat(QFile::encodeName(runtime + QStringLiteral("/bus")).constData(), &st) == 0 &&
            S_ISSOCK(st.st_mode));
}

} // namespace

ShowRequest ShowRequest::fromEnvironment() {
    return {qgetenv("XDG_ACTIVATION_TOKEN"), qgetenv("DESKTOP_STARTUP_ID")};
}

QString InstanceClaim::ServiceFor(const QString& settingsFile) {
    const QString path = Resolved(settingsFile);
    if (path == Resolved(QDir::homePath() + QStringLiteral("/.config/Varnel/Varnel.conf")))
        return kAppId;
    const QByteArray hash =
        QCryptographicHash::hash(QFile::encodeName(path), QCryptographicHash::Sha256).toHex();
    return kAppId + QStringLiteral(".Settings_") + QString::fromLatin1(hash.left(16));
}

InstanceClaim::InstanceClaim(const QString& settingsFile, const ShowRequest& request,
                             int patienceMs, QObject* parent)
    : QObject(parent), service_(ServiceFor(settingsFile)), bus_(QString()) {
    if (!HasSessionBus()) {
        problem_ = QStringLiteral("no session bus (no DBUS_SESSION_BUS_ADDRESS, no "
                                  "$XDG_RUNTIME_DIR/bus)");
        return;
    }
    // A connection of its own, which the bus drops with the name when it ends.
    bus_ = QDBusConnection::connectToBus(QDBusConnection::SessionBus,
                                         QStringLiteral("varnel-claim-%1").arg(quintptr(this)));
    if (!bus_.isConnected()) {
        problem_ = QStringLiteral("the session bus: ") + bus_.lastError().message();
        return;
    }
    // Served from the moment the name is ours (once the event loop runs).
    if (!bus_.registerObject(kPath, this, QDBusConnection::ExportAllSlots)) {
        problem_ = QStringLiteral("the session bus: cannot serve ") + kPath;
        return;
    }
    QDBusConnectionInterface* names = bus_.interface();
    for (QDeadlineTimer deadline(patienceMs);;) {
        const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> taken =
            names->registerService(service_, QDBusConnectionInterface::DontQueueService,
                                   QDBusConnectionInterface::DontAllowReplacement);
        if (!taken.isValid()) {
            problem_ = QStringLiteral("the session bus: ") + taken.error().message();
            return;
        }
        if (taken.value() == QDBusConnectionInterface::ServiceRegistered) {
            state_ = State::Mine;
            holder_ = ::getpid();
            return;
        }
        const QDBusReply<uint> owner = names->servicePid(service_);
        if (!owner.isValid()) { // it has just ended, or the bus will not say who owns it
            if (deadline.hasExpired()) {
                problem_ = QStringLiteral("the session bus: ") + owner.error().message();
                return;
            }
            continue;
        }
        holder_ = owner.value();
        QDBusMessage call =
            QDBusMessage::createMethodCall(service_, kPath, kInterface, QStringLiteral("Activate"));
        QVariantMap platformData;
        if (!request.activationToken.isEmpty())
            platformData.insert(kTokenKey, QString::fromUtf8(request.activationToken));
        if (!request.startupId.isEmpty())
            platformData.insert(kStartupKey, QString::fromUtf8(request.startupId));
        call << platformData;
        const QDBusMessage reply =
            bus_.call(call, QDBus::Block, int(std::max<qint64>(deadline.remainingTime(), 1)));
        if (reply.type() == QDBusMessage::ReplyMessage) {
            state_ = State::Shown;
            return;
        }
        if (reply.errorName() == kClosing) {
            deadline.setRemainingTime(patienceMs); // it answers: wait on
        } else {
            // A copy that ended while it was asked gives no reply either;
            // then its name is free, or another copy's.
            const QDBusReply<uint> now = names->servicePid(service_);
            const bool same = now.isValid() && now.value() == owner.value();
            if (same &&
                (deadline.hasExpired() || QDBusError(reply).type() == QDBusError::NoReply)) {
                state_ = State::Silent;
                return;
            }
            if (!same)
                continue;
        }
        QThread::msleep(kPollMs);
    }
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
