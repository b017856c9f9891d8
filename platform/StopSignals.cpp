#include "platform/StopSignals.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace varnel {

namespace {

int pipeFds[2] = {-1, -1};
constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

void onSignal(int signalNumber) {
    const int savedErrno = errno;
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    [[maybe_unused]] const ssize_t n = ::write(pipeFds[1], &byte, 1);
    errno = savedErrno;
}

} // namespace

sigset_t StopSignals::Heeded() {
    sigset_t heeded;
    sigemptyset(&heeded);
    struct sigaction now = {};
    for (const int s : kSignals)
        if (::sigaction(s, nullptr, &now) == 0 && now.sa_handler != SIG_IGN)
            sigaddset(&heeded, s);
    return heeded;
}

StopSignals::StopSignals(QObject* parent) : QObject(parent), caught_(Heeded()) {
    if (pipeFds[0] < 0 && ::pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    notifier_ = new QSocketNotifier(pipeFds[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &StopSignals::drain);
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int s : kSignals)
        if (sigismember(&caught_, s))
            ::sigaction(s, &action, nullptr);
    // A closed stdout or stderr (a pipe whose reader went) must not end the
    // program before it has saved and logged its close: writes fail instead.
    ::signal(SIGPIPE, SIG_IGN);
}

StopSignals::~StopSignals() {
    for (const int s : kSignals)
        if (sigismember(&caught_, s))
            ::signal(s, SIG_DFL);
}

void StopSignals::drain() {
    unsigned char byte = 0;
    while (::read(pipeFds[0], &byte, 1) == 1)
        emit stopRequested(byte);
}

} // namespace varnel
