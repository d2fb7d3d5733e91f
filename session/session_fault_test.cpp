// Faults injected through a scripted network: lost, truncated, oversized,
// corrupted and forged replies, socket errors at every step, and report
// files that cannot be written. The worker runs on the test's own thread.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>

#include "fake_bmc.h"
#include "fake_network.h"
#include "ipmi_lan.h"
#include "sel_report.h"
#include "session_test_support.h"

namespace {

typedef std::vector<std::string> Events;

const char BMC[] = "127.0.2.1";
const Bytes SESSION_ID = {0x5A, 0x6B, 0x7C, 0x8D};

enum Fault { NONE, LOST, RECEIVE_ERROR, SEND_ERROR, TRUNCATED, OVERSIZED, BAD_CHECKSUM, ERROR_CODE, FOREIGN_FIRST };

// A BMC with a SEL of entries, answering by command byte.
struct ModelBmc {
    std::vector<Bytes> entries;
    std::map<int, Fault> faults;  // by request index
    int clearPollsBeforeDone = 0;
    int clearPolls = 0;
    bool errorsFromIndex = false;  // "restarted": every Get SEL Entry from errorIndex on fails
    int errorIndex = 0;
    int stopAfterRequests = 1 << 30;
    bool circular = false;                 // the last entry's next ID is the first entry's
    std::function<void(int)> beforeReply;  // runs before request index is answered
    SessionControl* control = nullptr;

    Bytes answer(const Bytes& request, int index) {
        const bool unauthenticated = request[4] == 0x00;
        const uint8_t command = unauthenticated ? request[19] : request[35];
        switch (command) {
        case 0x39: return challengeReply({1, 2, 3, 4}, Bytes(16, 0x42));
        case 0x3A: return activateReply(SESSION_ID, 100);
        case 0x3B: return privilegeReply();
        case 0x42: return reserveReply({0x12, 0x34});
        case 0x47: return clearReply(clearPolls++ >= clearPollsBeforeDone ? 0x01 : 0x00);
        case 0x43: {
            if (errorsFromIndex && index >= errorIndex) return errorReply(0x28, 0x43, 0xC0);
            const uint16_t id = static_cast<uint16_t>(request[38] | (request[39] << 8));
            for (size_t i = 0; i < entries.size(); ++i) {
                const uint16_t entryId = static_cast<uint16_t>(entries[i][0] | (entries[i][1] << 8));
                if (id == entryId || (id == 0 && i == 0)) {
                    const Bytes* following = i + 1 < entries.size() ? &entries[i + 1]
                                             : circular               ? &entries[0]
                                                                      : nullptr;
                    const uint16_t next = following != nullptr
                                              ? static_cast<uint16_t>((*following)[0] | ((*following)[1] << 8))
                                              : 0xFFFF;
                    return selEntryReply(next, entries[i]);
                }
            }
            return errorReply(0x28, 0x43, 0xCB);
        }
        }
        return errorReply(0x18, command, 0xC1);
    }

    // The network's send hook: queue the reply, altered by the fault.
    bool onSend(const Bytes& request, int index) {
        if (beforeReply) beforeReply(index);
        if (index + 1 >= stopAfterRequests && control != nullptr) control->stopRequested = 1;
        const auto found = faults.find(index);
        const Fault fault = found == faults.end() ? NONE : found->second;
        Bytes reply = answer(request, index);
        switch (fault) {
        case NONE: break;
        case LOST: return true;
        case RECEIVE_ERROR: fakeNetworkQueueError(); return true;
        case SEND_ERROR: return false;
        case TRUNCATED: reply.resize(31); break;
        case OVERSIZED: reply.resize(2000, 0x5A); break;
        case BAD_CHECKSUM: reply.back() ^= 0x01; break;
        case ERROR_CODE:
            reply = errorReply(request[4] == 0 ? 0x18 : request[31], request[4] == 0 ? request[19] : request[35], 0xD4);
            break;
        case FOREIGN_FIRST: fakeNetworkQueue(selEntryReply(0xFFFF, Bytes(16, 0x66)), "127.0.2.99", 623); break;
        }
        fakeNetworkQueue(reply, BMC, 623);
        return true;
    }
};

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string linesFor(const std::vector<Bytes>& entries, size_t count) {
    std::string out;
    for (size_t i = 0; i < count && i < entries.size(); ++i) {
        uint8_t rx[RX_BUFFER_SIZE] = {};
        std::memcpy(rx + SEL_RECORD_OFFSET, entries[i].data(), 16);
        char line[SEL_LINE_CAPACITY];
        formatSelLine(rx, line);
        out += line;
    }
    return out;
}

std::vector<Bytes> entriesNumbered(int count) {
    std::vector<Bytes> entries;
    for (int i = 1; i <= count; ++i) entries.push_back(systemEventRecord(static_cast<uint16_t>(i), 1000u + static_cast<uint32_t>(i), 0x07, 5));
    return entries;
}

enum Action { LOGON_ONLY, DUMP, CLEAR };

// Runs one worker to its end on this thread. The window reacts as the real
// one would: after the outcome of the action it asks to disconnect.
Events runWorker(ModelBmc& bmc, Action action, const std::string& reportPath) {
    fakeNetworkReset();
    RecordingWindow window;
    SessionControl control;
    control.window = window.handle();
    control.stopRequested = 0;
    control.dumpRequested = action == DUMP ? 1 : 0;
    control.clearRequested = 0;
    bmc.control = &control;
    g_fakeNetwork.onSend = [&](const Bytes& sent, int index) { return bmc.onSend(sent, index); };
    // Nothing more will come: the user gives up and presses the button.
    g_fakeNetwork.onIdle = [&] { control.stopRequested = 1; };
    window.onEvent = [&](const std::string& e) {
        if (e == "<CONNECTED>" && action == CLEAR) control.clearRequested = 1;
        if (e == "<SEL_SAVED>" || e == "<SEL_EMPTY>" || e == "<SEL_CLEARED>" || e == "<REPORT_FILE_ERROR>" ||
            (e == "<CONNECTED>" && action == LOGON_ONLY))
            control.stopRequested = 1;
    };
    std::memset(g_address, 0, sizeof g_address);
    std::strcpy(g_address, BMC);
    std::strcpy(g_userName, "USERID");
    std::strcpy(g_password, "KEBRU7NY");
    std::memset(g_reportPath, 0, sizeof g_reportPath);
    std::strncpy(g_reportPath, reportPath.c_str(), sizeof g_reportPath - 1);
    sessionWorker(&control);
    EXPECT_EQ(0, g_fakeNetwork.openSockets) << "socket left open";
    EXPECT_EQ(0, g_fakeNetwork.libraryStarts) << "socket library left started";
    return window.events();
}

const Events LOGON = {"Get Session Challenge", "Activate Session Request", "Set Privilege Level", "<CONNECTED>"};

Events concat(Events a, const Events& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

class FaultTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_loopPaceMilliseconds = 0;
        char pattern[] = "/tmp/tavrel-fault-XXXXXX";
        directory = mkdtemp(pattern);
        reportPath = directory + "/report.txt";
    }
    void TearDown() override {
        g_loopPaceMilliseconds = 200;
        std::remove(reportPath.c_str());
        rmdir(directory.c_str());
        fakeNetworkReset();
    }
    std::string directory;
    std::string reportPath;
};

TEST_F(FaultTest, LogonFaultsAtEveryStep) {
    const Events aborted1 = {"Get Session Challenge", "<LOGON_ABORTED>"};
    const Events aborted2 = {"Get Session Challenge", "Activate Session Request", "<LOGON_ABORTED>"};
    const Events aborted3 = {"Get Session Challenge", "Activate Session Request", "Set Privilege Level",
                             "<LOGON_ABORTED>"};
    struct Case {
        const char* name;
        int index;
        Fault fault;
        Events expected;
        size_t sent;
    } cases[] = {
        {"challenge: receive error", 0, RECEIVE_ERROR, aborted1, 1},
        {"challenge: send error", 0, SEND_ERROR, aborted1, 1},
        {"challenge: reply lost, then Abort", 0, LOST, aborted1, 1},
        {"activate: receive error", 1, RECEIVE_ERROR, aborted2, 2},
        {"activate: send error", 1, SEND_ERROR, aborted2, 2},
        {"activate: truncated", 1, TRUNCATED, aborted2, 2},
        {"activate: wrong checksum", 1, BAD_CHECKSUM, aborted2, 2},
        {"activate: error code", 1, ERROR_CODE, aborted2, 2},
        {"activate: longer than the receive buffer, read as its first bytes", 1, OVERSIZED, concat(LOGON, {"<DISCONNECTED>"}), 3},
        {"privilege: receive error", 2, RECEIVE_ERROR, aborted3, 3},
        {"privilege: send error", 2, SEND_ERROR, aborted3, 3},
        {"privilege: wrong checksum", 2, BAD_CHECKSUM, aborted3, 3},
        {"privilege: error code", 2, ERROR_CODE, aborted3, 3},
        {"privilege: reply lost, then Abort", 2, LOST, aborted3, 3},
        {"a forged reply first is dropped", 1, FOREIGN_FIRST, concat(LOGON, {"<DISCONNECTED>"}), 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ModelBmc bmc;
        bmc.faults[c.index] = c.fault;
        EXPECT_EQ(c.expected, runWorker(bmc, LOGON_ONLY, reportPath));
        EXPECT_EQ(c.sent, g_fakeNetwork.sent.size());
    }
}

TEST_F(FaultTest, SocketThatCannotBeCreated) {
    fakeNetworkReset();
    RecordingWindow window;
    SessionControl control;
    control.window = window.handle();
    control.stopRequested = 0;
    control.dumpRequested = 0;
    control.clearRequested = 0;
    g_fakeNetwork.failOpen = true;
    std::strcpy(g_address, BMC);
    sessionWorker(&control);
    EXPECT_EQ((Events{"<LOGON_ABORTED>"}), window.events());
    EXPECT_EQ(0, g_fakeNetwork.libraryStarts);
    EXPECT_TRUE(g_fakeNetwork.sent.empty());
}

TEST_F(FaultTest, DumpFaultsKeepEveryLineReadWhole) {
    const Events start = concat(LOGON, {"Opening file ...", "Requesting SEL data"});
    const Events disconnected = concat(start, {"<DISCONNECTED>"});
    const Events saved = concat(start, {"<SEL_SAVED>", "<DISCONNECTED>"});
    // Requests 3, 4, 5, ... ask for the entries 1, 2, 3, ...
    struct Case {
        const char* name;
        int index;
        Fault fault;
        Events expected;
        size_t lines;
    } cases[] = {
        {"reply lost: Disconnect ends the wait", 5, LOST, disconnected, 2},
        {"receive error", 5, RECEIVE_ERROR, disconnected, 2},
        {"send error", 4, SEND_ERROR, disconnected, 1},
        {"wrong checksum", 6, BAD_CHECKSUM, disconnected, 3},
        {"truncated reply is not read from stale bytes", 4, TRUNCATED, disconnected, 1},
        {"reply longer than the receive buffer, read as its first bytes", 4, OVERSIZED, saved, 5},
        {"error code for a later entry: skipped", 4, ERROR_CODE, saved, 4},
        {"forged entry from another sender", 4, FOREIGN_FIRST, saved, 5},
    };
    const std::vector<Bytes> entries = entriesNumbered(5);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ModelBmc bmc;
        bmc.entries = entries;
        bmc.faults[c.index] = c.fault;
        EXPECT_EQ(c.expected, runWorker(bmc, DUMP, reportPath));
        std::vector<Bytes> expectedEntries = entries;
        if (c.fault == ERROR_CODE) expectedEntries.erase(expectedEntries.begin() + (c.index - 3));
        EXPECT_EQ(linesFor(expectedEntries, c.lines), readFile(reportPath));
    }
}

TEST_F(FaultTest, BmcRestartingMidDumpAnswersErrorsAndTheWalkStillEnds) {
    ModelBmc bmc;
    bmc.entries = entriesNumbered(5);
    bmc.errorsFromIndex = true;
    bmc.errorIndex = 5;  // entries 1 and 2 read, then errors for every ID
    const Events events = runWorker(bmc, DUMP, reportPath);
    EXPECT_EQ(concat(LOGON, {"Opening file ...", "Requesting SEL data", "<SEL_SAVED>", "<DISCONNECTED>"}), events);
    EXPECT_EQ(linesFor(bmc.entries, 2), readFile(reportPath));
    // Every ID asked at most once: 65536 requests at most, plus the logon.
    EXPECT_LE(g_fakeNetwork.sent.size(), 3u + 65536u);
}

TEST_F(FaultTest, BmcThatNeverReportsTheLastEntry) {
    // Next IDs run 1, 2, ..., 40 and back to 1.
    ModelBmc bmc;
    bmc.entries = entriesNumbered(40);
    bmc.circular = true;
    EXPECT_EQ(concat(LOGON, {"Opening file ...", "Requesting SEL data", "<SEL_SAVED>", "<DISCONNECTED>"}),
              runWorker(bmc, DUMP, reportPath));
    EXPECT_EQ(linesFor(bmc.entries, 40), readFile(reportPath));  // each entry once
}

TEST_F(FaultTest, ClearFaults) {
    const Events start = concat(LOGON, {"Sending Clear SEL Request"});
    struct Case {
        const char* name;
        int index;
        Fault fault;
        int pollsBeforeDone;
        int stopAfter;
        Events expected;
    } cases[] = {
        {"reserve: error code", 3, ERROR_CODE, 0, 1 << 30, concat(start, {"<DISCONNECTED>"})},
        {"reserve: reply lost", 3, LOST, 0, 1 << 30, concat(start, {"<DISCONNECTED>"})},
        {"clear: wrong checksum", 4, BAD_CHECKSUM, 0, 1 << 30, concat(start, {"<DISCONNECTED>"})},
        {"clear: receive error", 5, RECEIVE_ERROR, 3, 1 << 30, concat(start, {"<DISCONNECTED>"})},
        {"forged completion from another sender", 4, FOREIGN_FIRST, 1, 1 << 30,
         concat(start, {"<SEL_CLEARED>", "<DISCONNECTED>"})},
        {"erase never completing: Disconnect ends it", -1, NONE, 1 << 30, 12, concat(start, {"<DISCONNECTED>"})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ModelBmc bmc;
        bmc.faults[c.index] = c.fault;
        bmc.clearPollsBeforeDone = c.pollsBeforeDone;
        bmc.stopAfterRequests = c.stopAfter;
        EXPECT_EQ(c.expected, runWorker(bmc, CLEAR, reportPath));
    }
}

TEST_F(FaultTest, ReportThatCannotBeWritten) {
    // /dev/full opens but takes no byte: the error shows at the first flush
    // or at the close, and the session goes on.
    const Events expected = concat(LOGON, {"Opening file ...", "Requesting SEL data", "Error, Unable to write file",
                                           "<REPORT_FILE_ERROR>", "<DISCONNECTED>"});
    for (int count : {3, 300}) {
        SCOPED_TRACE(count);
        ModelBmc bmc;
        bmc.entries = entriesNumbered(count);
        EXPECT_EQ(expected, runWorker(bmc, DUMP, "/dev/full"));
    }
}

TEST_F(FaultTest, DiskFillingUpMidDumpLeavesOnlyWholeLines) {
    // A file size limit of 1000 bytes stands in for a disk that fills up:
    // the write that crosses it is cut short, the next one fails.
    const std::vector<Bytes> entries = entriesNumbered(30);  // lines of 96 characters and CR LF
    ModelBmc bmc;
    bmc.entries = entries;
    signal(SIGXFSZ, SIG_IGN);
    rlimit saved;
    getrlimit(RLIMIT_FSIZE, &saved);
    rlimit limit = saved;
    limit.rlim_cur = 1000;
    setrlimit(RLIMIT_FSIZE, &limit);
    const Events events = runWorker(bmc, DUMP, reportPath);
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, SIG_DFL);
    EXPECT_EQ(concat(LOGON, {"Opening file ...", "Requesting SEL data", "Error, Unable to write file",
                             "<REPORT_FILE_ERROR>", "<DISCONNECTED>"}),
              events);
    const std::string expected = linesFor(entries, 1000 / 98);
    EXPECT_EQ(expected, readFile(reportPath));
}

TEST_F(FaultTest, ReportRemovedMidDumpDoesNotDisturbTheSession) {
    ModelBmc bmc;
    bmc.entries = entriesNumbered(5);
    const std::string path = reportPath;
    bmc.beforeReply = [&](int index) {
        if (index == 4) std::remove(path.c_str());  // while the walk is under way
    };
    EXPECT_EQ(concat(LOGON, {"Opening file ...", "Requesting SEL data", "<SEL_SAVED>", "<DISCONNECTED>"}),
              runWorker(bmc, DUMP, reportPath));
}

}  // namespace
