// Preloaded into the program to stand for a system that gives it no
// wall-clock timer: every timerfd on CLOCK_REALTIME fails to be made.
#include <cerrno>
#include <ctime>
#include <dlfcn.h>
#include <sys/timerfd.h>

extern "C" int timerfd_create(int clockid, int flags) noexcept {
    if (clockid == CLOCK_REALTIME) {
        errno = ENOSYS;
        return -1;
    }
    using Create = int (*)(int, int);
    static const auto real = reinterpret_cast<Create>(dlsym(RTLD_NEXT, "timerfd_create"));
    return real(clockid, flags);
}
