// run_measured: runs one command and reports its wall time and its own
// resource usage (wait4). A child's peak RSS counts the memory of the
// process it was forked from, so a command started straight from a large
// interpreter reports the interpreter's size; started from this small
// program it reports its own (or this program's few hundred KB, if less).
//
// usage: run_measured --report FILE [--timeout SECONDS] -- COMMAND [ARGS...]
// FILE receives: wall_us=T user_us=T sys_us=T maxrss_kb=K status=S timed_out=0|1
// The command inherits stdin, stdout and stderr. After the timeout it is
// killed (SIGKILL). Exit code: the command's, 128 + signal when it was
// killed by one, 125 when this program could not run it.
#include <errno.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

const int EXIT_CANNOT_RUN = 125;
const int EXIT_EXEC_FAILED = 127;
const long DEFAULT_TIMEOUT_SECONDS = 300;

volatile sig_atomic_t g_child = 0;
volatile sig_atomic_t g_timedOut = 0;

void onAlarm(int) {
    g_timedOut = 1;
    if (g_child > 0) {
        kill(static_cast<pid_t>(g_child), SIGKILL);  // not yet reaped, so still ours
    }
}

long long microsecondsNow() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000000LL + now.tv_nsec / 1000;
}

long long microseconds(const timeval& t) {
    return static_cast<long long>(t.tv_sec) * 1000000LL + t.tv_usec;
}

}  // namespace

int main(int argc, char** argv) {
    const char* reportPath = nullptr;
    long timeoutSeconds = DEFAULT_TIMEOUT_SECONDS;
    int first = 1;
    for (; first + 1 < argc && std::strcmp(argv[first], "--") != 0; first += 2) {
        if (std::strcmp(argv[first], "--report") == 0) {
            reportPath = argv[first + 1];
        } else if (std::strcmp(argv[first], "--timeout") == 0) {
            timeoutSeconds = std::strtol(argv[first + 1], nullptr, 10);
        } else {
            break;
        }
    }
    if (reportPath == nullptr || first >= argc || std::strcmp(argv[first], "--") != 0 || first + 1 >= argc ||
        timeoutSeconds <= 0 || timeoutSeconds > 86400) {
        std::fputs("usage: run_measured --report FILE [--timeout SECONDS] -- COMMAND [ARGS...]\n", stderr);
        return EXIT_CANNOT_RUN;
    }
    char** command = argv + first + 1;

    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = onAlarm;
    sigemptyset(&action.sa_mask);
    sigaction(SIGALRM, &action, nullptr);

    const long long began = microsecondsNow();
    const pid_t child = fork();
    if (child < 0) {
        std::perror("run_measured: fork");
        return EXIT_CANNOT_RUN;
    }
    if (child == 0) {
        execvp(command[0], command);
        std::perror("run_measured: exec");
        _exit(EXIT_EXEC_FAILED);
    }
    g_child = child;
    alarm(static_cast<unsigned>(timeoutSeconds));
    int status = 0;
    rusage usage;
    std::memset(&usage, 0, sizeof usage);
    pid_t reaped;
    do {
        reaped = wait4(child, &status, 0, &usage);
    } while (reaped < 0 && errno == EINTR);
    const long long ended = microsecondsNow();
    alarm(0);
    g_child = 0;
    if (reaped != child) {
        std::perror("run_measured: wait4");
        return EXIT_CANNOT_RUN;
    }

    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    FILE* report = std::fopen(reportPath, "w");
    if (report == nullptr) {
        std::perror("run_measured: report file");
        return EXIT_CANNOT_RUN;
    }
    std::fprintf(report, "wall_us=%lld user_us=%lld sys_us=%lld maxrss_kb=%ld status=%d timed_out=%d\n",
                 ended - began, microseconds(usage.ru_utime), microseconds(usage.ru_stime), usage.ru_maxrss, code,
                 g_timedOut ? 1 : 0);
    if (std::fclose(report) != 0) {
        return EXIT_CANNOT_RUN;
    }
    return code;
}
