#include "platform/Process.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <csignal>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace varnel {

namespace {

// Waits for the child in the background so that it never stays a zombie;
// the thread sleeps in the kernel until the child ends.
void reapWhenDone(pid_t pid) {
    std::thread([pid] {
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }).detach();
}

} // namespace

bool DetachedProcessStarter::start(const QString& command) {
    if (command.isEmpty())
        return false;
    // A relative path is taken from the current folder, never looked up in
    // PATH, so that it names the very file that was checked when arming.
    const QFileInfo info(command);
    if (!info.isFile() || !info.isExecutable())
        return false;
    const QByteArray path = QFile::encodeName(info.absoluteFilePath());

    // posix_spawn rather than fork: no copy of this whole process is made,
    // and a failed exec (no interpreter, not a program) is reported here.
    // The child gets a session of its own, default signal handling and an
    // empty signal mask, and this process's environment.
    posix_spawnattr_t attributes;
    if (::posix_spawnattr_init(&attributes) != 0)
        return false;
    sigset_t all;
    sigset_t none;
    ::sigfillset(&all);
    ::sigemptyset(&none);
    ::posix_spawnattr_setsigdefault(&attributes, &all);
    ::posix_spawnattr_setsigmask(&attributes, &none);
    ::posix_spawnattr_setflags(&attributes,
                               POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    char* argv[] = {const_cast<char*>(path.constData()), nullptr};
    pid_t pid = 0;
    const int error = ::posix_spawn(&pid, path.constData(), nullptr, &attributes, argv, environ);
    ::posix_spawnattr_destroy(&attributes);
    if (error != 0)
        return false;
    reapWhenDone(pid);
    return true;
}

} // namespace varnel
