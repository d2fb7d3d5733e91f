// sel_walk_loop: the shortest possible SEL walk, to measure what the BMC
// itself costs per entry. Logs on (Get Session Challenge, Activate Session,
// Set Session Privilege Level with the BMC's initial inbound sequence
// number), then sends Get SEL Entry from record ID 0 along the next-record
// IDs, one request at a time, and waits for each reply with a blocking
// receive. It writes no report; it prints one line of timings.
//
// usage: sel_walk_loop ADDRESS USER [--wait block|poll] [--timeout-ms MS]
//                      [--report FILE [--report-mode buffered|unbuffered]]
// The password comes from TAVREL_PASSWORD. The options add, one at a time,
// what the session worker does besides the exchange, to tell their costs
// apart: --wait poll waits as the worker does (non-blocking receive, then a
// readiness wait of at most 20 ms); --report writes each entry's report
// line to FILE, with stdio's buffer or, with unbuffered, as the worker does
// (no buffer, the file position read before each line).
//
// Output: entries=N logon_us=T walk_us=T us_per_entry=T
// Exit codes: 0 walked to the last entry, 1 exchange failed, 2 usage.
#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "ipmi_lan.h"
#include "sel_report.h"

namespace {

const int EXIT_WALKED = 0;
const int EXIT_FAILED = 1;
const int EXIT_USAGE = 2;

const int POLL_SLICE_MILLISECONDS = 20;
const int DEFAULT_TIMEOUT_MILLISECONDS = 5000;
// Record IDs are 16 bits: a walk longer than this runs in a circle.
const long MAX_REQUESTS = 65536;

enum WaitMode { WAIT_BLOCK, WAIT_POLL };
enum ReportMode { REPORT_BUFFERED, REPORT_UNBUFFERED };

int g_socket = -1;
WaitMode g_waitMode = WAIT_BLOCK;
int g_timeoutMilliseconds = DEFAULT_TIMEOUT_MILLISECONDS;
const char* g_reportPath = nullptr;
ReportMode g_reportMode = REPORT_BUFFERED;
FILE* g_report = nullptr;
uint8_t g_txBuf[TX_BUFFER_SIZE];
uint8_t g_rxBuf[RX_BUFFER_SIZE];

long long microsecondsNow() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// A UDP socket connected to address:623, so that it receives only the
// BMC's datagrams; blocking receives give up after the timeout.
bool openSocket(const char* address) {
    sockaddr_in bmc;
    std::memset(&bmc, 0, sizeof bmc);
    bmc.sin_family = AF_INET;
    bmc.sin_port = htons(IPMI_LAN_PORT);
    if (inet_pton(AF_INET, address, &bmc.sin_addr) != 1) {
        return false;
    }
    g_socket = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (g_socket < 0) {
        return false;
    }
    timeval timeout;
    timeout.tv_sec = g_timeoutMilliseconds / 1000;
    timeout.tv_usec = (g_timeoutMilliseconds % 1000) * 1000;
    if (setsockopt(g_socket, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout) != 0) {
        return false;
    }
    if (g_waitMode == WAIT_POLL) {
        const int flags = fcntl(g_socket, F_GETFL, 0);
        if (flags < 0 || fcntl(g_socket, F_SETFL, flags | O_NONBLOCK) != 0) {
            return false;
        }
    }
    return connect(g_socket, reinterpret_cast<const sockaddr*>(&bmc), sizeof bmc) == 0;
}

// Receives one datagram into g_rxBuf; its length, or -1 on error or timeout.
int receiveReply() {
    if (g_waitMode == WAIT_BLOCK) {
        ssize_t received;
        do {
            received = recv(g_socket, g_rxBuf, sizeof g_rxBuf, 0);
        } while (received < 0 && errno == EINTR);
        return static_cast<int>(received);
    }
    const long long deadline = microsecondsNow() + 1000LL * g_timeoutMilliseconds;
    for (;;) {
        const ssize_t received = recv(g_socket, g_rxBuf, sizeof g_rxBuf, 0);
        if (received >= 0) {
            return static_cast<int>(received);
        }
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
            return -1;
        }
        if (microsecondsNow() > deadline) {
            return -1;
        }
        pollfd entry;
        entry.fd = g_socket;
        entry.events = POLLIN;
        entry.revents = 0;
        poll(&entry, 1, POLL_SLICE_MILLISECONDS);
    }
}

// Sends length bytes of g_txBuf and waits for the reply; true when a reply
// came whose length, checksum and (with mode CHECK_FULL) completion code hold.
bool exchange(int length, int mode) {
    if (send(g_socket, g_txBuf, static_cast<size_t>(length), MSG_NOSIGNAL) != length) {
        return false;
    }
    const int received = receiveReply();
    return received >= 0 && replyLengthHolds(g_rxBuf, received) &&
           checkReply(g_rxBuf, REPLY_LENGTH_OFFSET, mode);
}

bool logOn(const char* user, const char* password, SessionHeader& header) {
    int length = buildGetSessionChallenge(g_txBuf, user);
    if (send(g_socket, g_txBuf, static_cast<size_t>(length), MSG_NOSIGNAL) != length) {
        return false;
    }
    const int received = receiveReply();
    if (received < CHALLENGE_STRING_OFFSET + CHALLENGE_LENGTH) {
        return false;
    }
    uint8_t challenge[CHALLENGE_LENGTH];
    std::memcpy(challenge, g_rxBuf + CHALLENGE_STRING_OFFSET, CHALLENGE_LENGTH);
    header.sequence = 0;
    std::memcpy(header.sessionId, g_rxBuf + CHALLENGE_SESSION_ID_OFFSET, SESSION_ID_LENGTH);
    copyTextField16(header.authCode, password);

    length = buildActivateSession(g_txBuf, header, challenge);
    if (!exchange(length, CHECK_FULL)) {
        return false;
    }
    std::memcpy(header.sessionId, g_rxBuf + ACTIVATE_SESSION_ID_OFFSET, SESSION_ID_LENGTH);
    header.sequence = readLe32(g_rxBuf + ACTIVATE_INBOUND_SEQUENCE_OFFSET);

    length = buildSetSessionPrivilege(g_txBuf, header);
    return exchange(length, CHECK_FULL);
}

// Walks the SEL; entries receives the count of entries read. False when an
// exchange failed or the walk did not reach the last entry (FFFFh).
bool walkSel(SessionHeader& header, long& entries) {
    entries = 0;
    uint16_t recordId = SEL_FIRST_RECORD_ID;
    for (long request = 0; request < MAX_REQUESTS; ++request) {
        ++header.sequence;
        const int length = buildGetSelEntry(g_txBuf, header, recordId);
        if (!exchange(length, CHECK_FULL)) {
            return false;
        }
        ++entries;
        if (g_report != nullptr) {
            if (g_reportMode == REPORT_UNBUFFERED && std::ftell(g_report) < 0) {
                return false;
            }
            writeSelLine(g_rxBuf, g_report);
            if (std::ferror(g_report) != 0) {
                return false;
            }
        }
        if (isLastSelEntry(g_rxBuf)) {
            return true;
        }
        recordId = nextSelRecordId(g_rxBuf);
        if (recordId == SEL_FIRST_RECORD_ID) {
            // ID 0 names no entry: the chain runs back to the start.
            std::fprintf(stderr, "sel_walk_loop: entry %ld gives next record ID 0\n", entries);
            return false;
        }
    }
    return false;
}

bool parseArguments(int argc, char** argv) {
    if (argc < 3) {
        return false;
    }
    for (int i = 3; i < argc; i += 2) {
        if (i + 1 >= argc) {
            return false;
        }
        if (std::strcmp(argv[i], "--wait") == 0) {
            if (std::strcmp(argv[i + 1], "block") == 0) {
                g_waitMode = WAIT_BLOCK;
            } else if (std::strcmp(argv[i + 1], "poll") == 0) {
                g_waitMode = WAIT_POLL;
            } else {
                return false;
            }
        } else if (std::strcmp(argv[i], "--report") == 0) {
            g_reportPath = argv[i + 1];
        } else if (std::strcmp(argv[i], "--report-mode") == 0) {
            if (std::strcmp(argv[i + 1], "buffered") == 0) {
                g_reportMode = REPORT_BUFFERED;
            } else if (std::strcmp(argv[i + 1], "unbuffered") == 0) {
                g_reportMode = REPORT_UNBUFFERED;
            } else {
                return false;
            }
        } else if (std::strcmp(argv[i], "--timeout-ms") == 0) {
            char* end = nullptr;
            const long value = std::strtol(argv[i + 1], &end, 10);
            if (*end != '\0' || value <= 0 || value > 600000) {
                return false;
            }
            g_timeoutMilliseconds = static_cast<int>(value);
        } else {
            return false;
        }
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    const char* password = std::getenv("TAVREL_PASSWORD");
    if (!parseArguments(argc, argv) || password == nullptr) {
        std::fputs("usage: TAVREL_PASSWORD=P sel_walk_loop ADDRESS USER [--wait block|poll] [--timeout-ms MS]\n"
                   "       [--report FILE [--report-mode buffered|unbuffered]]\n",
                   stderr);
        return EXIT_USAGE;
    }
    if (g_reportPath != nullptr) {
        g_report = std::fopen(g_reportPath, "wb");
        if (g_report == nullptr) {
            std::fprintf(stderr, "sel_walk_loop: cannot open %s\n", g_reportPath);
            return EXIT_FAILED;
        }
        if (g_reportMode == REPORT_UNBUFFERED) {
            std::setvbuf(g_report, nullptr, _IONBF, 0);
        }
    }
    if (!openSocket(argv[1])) {
        std::fprintf(stderr, "sel_walk_loop: cannot open a socket to %s\n", argv[1]);
        return EXIT_FAILED;
    }
    SessionHeader header;
    std::memset(&header, 0, sizeof header);
    const long long began = microsecondsNow();
    if (!logOn(argv[2], password, header)) {
        std::fprintf(stderr, "sel_walk_loop: logon to %s failed\n", argv[1]);
        close(g_socket);
        return EXIT_FAILED;
    }
    const long long loggedOn = microsecondsNow();
    long entries = 0;
    const bool walked = walkSel(header, entries);
    if (g_report != nullptr && std::fclose(g_report) != 0) {
        std::fprintf(stderr, "sel_walk_loop: cannot write %s\n", g_reportPath);
        return EXIT_FAILED;
    }
    const long long ended = microsecondsNow();
    close(g_socket);
    if (!walked) {
        std::fprintf(stderr, "sel_walk_loop: walk failed after %ld entries\n", entries);
        return EXIT_FAILED;
    }
    std::printf("entries=%ld logon_us=%lld walk_us=%lld us_per_entry=%.3f\n", entries, loggedOn - began,
                ended - loggedOn, static_cast<double>(ended - loggedOn) / static_cast<double>(entries));
    return EXIT_WALKED;
}
