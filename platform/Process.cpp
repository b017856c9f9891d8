#include "platform/Process.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

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

// This process's environment less the launcher's tokens, which were made
// for Varnel's own window: a program started from here is no launch of the
// desktop's, as every launcher does for a program the tokens were not made for.
std::vector<char*> StartedEnvironment() {
    std::vector<char*> out;
    for (char** entry = environ; *entry; ++entry)
        if (std::strncmp(*entry, "XDG_ACTIVATION_TOKEN=", 21) != 0 &&
            std::strncmp(*entry, "DESKTOP_STARTUP_ID=", 19) != 0)
            out.push_back(*entry);
    out.push_back(nullptr);
    return out;
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
    // empty signal mask, and this process's environment less the tokens.
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
    std::vector<char*> environment = StartedEnvironment();
    const int error =
        ::posix_spawn(&pid, path.constData(), nullptr, &attributes, argv, environment.data());
    ::posix_spawnattr_destroy(&attributes);
    if (error != 0)
        return false;
    reapWhenDone(pid);
    return true;
}

} // namespace varnel
