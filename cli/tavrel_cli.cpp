// tavrel-cli: dumps or clears a BMC's System Event Log from the command
// line, through the same session worker as the window. Status texts go to
// stderr as they happen; the exit code tells the outcome.
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform.h"
#include "session.h"

namespace {

const int EXIT_DONE = 0;          // "SEL Save Complete", "SEL is Empty", "SEL Cleared"
const int EXIT_SESSION_FAILED = 1;  // "Logon Aborted", "Disconnected"
const int EXIT_USAGE = 2;
const int EXIT_FILE_ERROR = 3;    // the report file could not be opened or written
const int NO_OUTCOME = -1;

const char USAGE[] =
    "usage: tavrel-cli dump --address A --user U --output FILE [--timeout SECONDS]\n"
    "       tavrel-cli clear --address A --user U [--timeout SECONDS]\n"
    "The password is read from TAVREL_PASSWORD, or asked for without echo.\n"
    "--timeout is the longest wait for any one reply (default 10 s).\n"
    "Exit codes: 0 done, 1 logon aborted or disconnected, 2 usage, 3 report file error.\n";

enum Command { COMMAND_DUMP, COMMAND_CLEAR };

struct Cli {
    Command command;
    const char* address;
    const char* user;
    const char* output;
    long timeoutSeconds;
    char password[64];
    SessionControl control;
    std::atomic<int> outcome{NO_OUTCOME};
    std::atomic<bool> sessionEnded{false};  // terminal notification seen
    std::atomic<bool> workerEnded{false};
};

Cli g_cli;

void finish(int code) {
    int expected = NO_OUTCOME;
    g_cli.outcome.compare_exchange_strong(expected, code);
    g_cli.control.stopRequested.store(1);
}

void itemTextChanged(void*, uint32_t, int id, const char* text) {
    if (id == IDC_STATUS) std::fprintf(stderr, "%s\n", text);
}

// The window's reactions, in a form a script can use.
void message(void*, uint32_t, uint32_t code, uintptr_t) {
    switch (code) {
    case NOTIFY_CONNECTED:
        std::fprintf(stderr, "Connected\n");
        if (g_cli.command == COMMAND_DUMP) {
            std::memset(g_reportPath, 0, sizeof g_reportPath);
            std::memcpy(g_reportPath, g_cli.output, std::strlen(g_cli.output));  // checked to fit
            g_cli.control.dumpRequested.store(1);
        } else {
            g_cli.control.clearRequested.store(1);
        }
        break;
    case NOTIFY_SEL_SAVED:
        std::fprintf(stderr, "SEL Save Complete\n");
        finish(EXIT_DONE);
        break;
    case NOTIFY_SEL_EMPTY:
        std::fprintf(stderr, "SEL is Empty\n");
        finish(EXIT_DONE);
        break;
    case NOTIFY_SEL_CLEARED:
        std::fprintf(stderr, "SEL Cleared\n");
        finish(EXIT_DONE);
        break;
    case NOTIFY_REPORT_FILE_ERROR:
        finish(EXIT_FILE_ERROR);  // the status text said why
        break;
    case NOTIFY_LOGON_ABORTED:
        std::fprintf(stderr, "Logon Aborted\n");
        finish(EXIT_SESSION_FAILED);
        g_cli.sessionEnded.store(true);
        break;
    case NOTIFY_DISCONNECTED:
        if (g_cli.outcome.load() == NO_OUTCOME) std::fprintf(stderr, "Disconnected\n");
        finish(EXIT_SESSION_FAILED);
        g_cli.sessionEnded.store(true);
        break;
    default:
        break;
    }
}

void workerEntry(void* control) {
    sessionWorker(control);
    g_cli.workerEnded.store(true);
}

bool parseArguments(int argc, char** argv) {
    if (argc < 2) return false;
    if (std::strcmp(argv[1], "dump") == 0) {
        g_cli.command = COMMAND_DUMP;
    } else if (std::strcmp(argv[1], "clear") == 0) {
        g_cli.command = COMMAND_CLEAR;
    } else {
        return false;
    }
    g_cli.timeoutSeconds = 10;
    for (int i = 2; i < argc; i += 2) {
        if (i + 1 >= argc) return false;
        const char* value = argv[i + 1];
        if (std::strcmp(argv[i], "--address") == 0) {
            g_cli.address = value;
        } else if (std::strcmp(argv[i], "--user") == 0) {
            g_cli.user = value;
        } else if (std::strcmp(argv[i], "--output") == 0 && g_cli.command == COMMAND_DUMP) {
            g_cli.output = value;
        } else if (std::strcmp(argv[i], "--timeout") == 0) {
            char* end = nullptr;
            g_cli.timeoutSeconds = std::strtol(value, &end, 10);
            if (*end != '\0' || g_cli.timeoutSeconds <= 0 || g_cli.timeoutSeconds > 86400) return false;
        } else {
            return false;
        }
    }
    if (g_cli.address == nullptr || g_cli.user == nullptr) return false;
    if (g_cli.command == COMMAND_DUMP &&
        (g_cli.output == nullptr || std::strlen(g_cli.output) >= sizeof g_reportPath)) {
        return false;
    }
    return true;
}

// The same length checks as the window's fields.
bool fieldsValid() {
    const size_t address = std::strlen(g_cli.address);
    const size_t user = std::strlen(g_cli.user);
    const size_t password = std::strlen(g_cli.password);
    return address >= 1 && address <= 15 && user >= 1 && user <= 16 && password >= 1 && password <= 16;
}

bool readPassword() {
    const char* fromEnvironment = std::getenv("TAVREL_PASSWORD");
    if (fromEnvironment != nullptr) {
        if (std::strlen(fromEnvironment) >= sizeof g_cli.password) return false;
        std::strcpy(g_cli.password, fromEnvironment);
        return true;
    }
    return readSecretLine("Password: ", g_cli.password, sizeof g_cli.password);
}

}  // namespace

int main(int argc, char** argv) {
    if (!parseArguments(argc, argv)) {
        std::fputs(USAGE, stderr);
        return EXIT_USAGE;
    }
    if (!readPassword()) {
        std::fputs("tavrel-cli: no password (set TAVREL_PASSWORD or run on a terminal)\n", stderr);
        return EXIT_USAGE;
    }
    if (!fieldsValid()) {
        std::fputs("Invalid IP, User Name, or Password\n", stderr);
        return EXIT_USAGE;
    }

    WindowHandler handler = {nullptr, itemTextChanged, message, nullptr};
    const uint32_t window = hostedWindowCreate(&handler);
    if (window == 0) {
        std::fputs("tavrel-cli: cannot create its window\n", stderr);
        return EXIT_SESSION_FAILED;
    }
    // Lengths are checked above: each text fits its 17-byte field.
    std::memcpy(g_address, g_cli.address, std::strlen(g_cli.address) + 1);
    std::memcpy(g_userName, g_cli.user, std::strlen(g_cli.user) + 1);
    std::memcpy(g_password, g_cli.password, std::strlen(g_cli.password) + 1);
    std::memset(g_cli.password, 0, sizeof g_cli.password);
    g_cli.control.window.store(window);
    g_cli.control.stopRequested.store(0);
    if (!threadStart(workerEntry, &g_cli.control)) {
        std::fputs("Logon Aborted\n", stderr);
        return EXIT_SESSION_FAILED;
    }

    // Pump the window until the worker has ended. A BMC that sends nothing
    // for the timeout is given up on as Abort or Disconnect would.
    const uint64_t timeoutMs = static_cast<uint64_t>(g_cli.timeoutSeconds) * 1000u;
    uint32_t repliesSeen = g_repliesReceived.load();
    uint64_t lastProgress = monotonicMilliseconds();
    bool timedOut = false;
    while (!g_cli.workerEnded.load()) {
        hostedWindowPump(window, 20);
        const uint64_t now = monotonicMilliseconds();
        const uint32_t replies = g_repliesReceived.load();
        if (replies != repliesSeen) {
            repliesSeen = replies;
            lastProgress = now;
        } else if (!timedOut && !g_cli.sessionEnded.load() && now - lastProgress > timeoutMs) {
            std::fprintf(stderr, "No reply from %s for %ld s\n", g_cli.address, g_cli.timeoutSeconds);
            timedOut = true;
            g_cli.control.stopRequested.store(1);
        }
    }
    hostedWindowDestroy(window);
    const int outcome = g_cli.outcome.load();
    return outcome == NO_OUTCOME ? EXIT_SESSION_FAILED : outcome;
}
