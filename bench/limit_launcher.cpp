// The least a launcher can do: sleep on the wall clock until a given second,
// then start a program with posix_spawn. What it achieves is the limit of
// the machine that bench/launch_latency holds varnel's launches against.
//
//   limit_launcher EPOCH_SECOND PROGRAM
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s EPOCH_SECOND PROGRAM\n", argv[0]);
        return 2;
    }
    const timespec at = {static_cast<time_t>(std::atoll(argv[1])), 0};
    while (clock_nanosleep(CLOCK_REALTIME, TIMER_ABSTIME, &at, nullptr) != 0) {
    }
    char* child[] = {argv[2], nullptr};
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[2], nullptr, nullptr, child, environ) != 0)
        return 1;
    int status = 0;
    waitpid(pid, &status, 0);
    return 0;
}
