// An owner of a settings file's name on the session bus, for the tests: a
// process of its own, started by fork and exec, that ends with the process
// that started it. Says "m" on standard output once it owns the name (or "x"),
// then, by MODE:
//   silent   never answers
//   refuse   answers every call with an error (it serves no object)
//   serve    answers Activate as the open window does, saying "shown" each time
//   handover lets the name go when asked, says "released", and ends without
//            an answer once another owner has the name
#include "platform/InstanceClaim.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDeadlineTimer>
#include <QThread>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <optional>
#include <sys/prctl.h>
#include <unistd.h>

namespace {

void say(const char* what) {
    std::printf("%s\n", what);
    std::fflush(stdout);
}

// Asked to show its window, it gives the name up instead.
class Handover final : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Application")
public:
    Handover(QDBusConnection bus, QString name) : bus_(bus), name_(std::move(name)) {}
public slots:
    void Activate(const QVariantMap&) {
        bus_.interface()->unregisterService(name_);
        say("released");
        for (QDeadlineTimer patience(10000); !patience.hasExpired(); QThread::msleep(10)) {
            if (bus_.interface()->isServiceRegistered(name_).value())
                break;
        }
        std::_Exit(0); // never answers
    }

private:
    QDBusConnection bus_;
    QString name_;
};

} // namespace

int main(int argc, char** argv) {
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (argc != 3)
        return 2;
    const QString mode = QString::fromLocal8Bit(argv[1]);
    const QString file = QString::fromLocal8Bit(argv[2]);
    int qtArgc = 1;
    QCoreApplication app(qtArgc, argv);
    if (mode == "silent" || mode == "serve") {
        varnel::InstanceClaim claim(file);
        claim.serve([](const varnel::ShowRequest&) { say("shown"); });
        say(claim.state() == varnel::InstanceClaim::State::Mine ? "m" : "x");
        if (mode == "silent")
            ::pause();
        return app.exec();
    }
    QDBusConnection bus = QDBusConnection::sessionBus();
    const QString name = varnel::InstanceClaim::ServiceFor(file);
    std::optional<Handover> handover;
    if (mode == "handover")
        bus.registerObject(QStringLiteral("/org/varnel/Varnel"), &handover.emplace(bus, name),
                           QDBusConnection::ExportAllSlots);
    say(bus.registerService(name) ? "m" : "x");
    return app.exec();
}

#include "claim_owner.moc"
