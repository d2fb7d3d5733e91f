// The real worker against a scripted fake BMC on loopback: every request
// byte for byte, and the exact order of status texts and notifications.
#include <gtest/gtest.h>

#include <cstdio>
#include <atomic>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

#include "ipmi_lan.h"
#include "sel_report.h"
#include "session_test_support.h"

namespace {

typedef std::vector<std::string> Events;

const Bytes TEMP_ID = {0x11, 0x22, 0x33, 0x44};
const Bytes CHALLENGE = {0xC0, 0xC1, 0xC2, 0xC3, 0xC4, 0xC5, 0xC6, 0xC7,
                         0xC8, 0xC9, 0xCA, 0xCB, 0xCC, 0xCD, 0xCE, 0xCF};
const Bytes SESSION_ID = {0x5A, 0x6B, 0x7C, 0x8D};
const uint32_t INBOUND = 0x1F2E3D4C;
const int WAIT_MS = 5000;

const Events LOGON_TEXTS = {"Get Session Challenge", "Activate Session Request", "Set Privilege Level"};

Events concat(Events a, const Events& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

FakeReply reply(Bytes b) {
    return FakeReply{b, false};
}

std::vector<std::vector<FakeReply>> logonScript(uint32_t inbound = INBOUND) {
    return {{reply(challengeReply(TEMP_ID, CHALLENGE))},
            {reply(activateReply(SESSION_ID, inbound))},
            {reply(privilegeReply())}};
}

std::vector<std::vector<FakeReply>> withLogon(std::vector<std::vector<FakeReply>> rest) {
    std::vector<std::vector<FakeReply>> s = logonScript();
    s.insert(s.end(), rest.begin(), rest.end());
    return s;
}

SessionHeader headerFor(uint32_t sequence, const Bytes& id) {
    SessionHeader h;
    h.sequence = sequence;
    std::memcpy(h.sessionId, id.data(), 4);
    copyTextField16(h.authCode, "KEBRU7NY");
    return h;
}

template <typename Build>
Bytes built(Build build) {
    uint8_t tx[TX_BUFFER_SIZE];
    const int n = build(tx);
    return Bytes(tx, tx + n);
}

// The three logon requests for a BMC whose initial inbound number is inbound.
std::vector<Bytes> logonRequests(uint32_t inbound = INBOUND) {
    return {built([](uint8_t* t) { return buildGetSessionChallenge(t, "USERID"); }),
            built([](uint8_t* t) { return buildActivateSession(t, headerFor(0, TEMP_ID), CHALLENGE.data()); }),
            built([&](uint8_t* t) { return buildSetSessionPrivilege(t, headerFor(inbound, SESSION_ID)); })};
}

Bytes getSelRequest(uint32_t sequence, uint16_t id) {
    return built([&](uint8_t* t) { return buildGetSelEntry(t, headerFor(sequence, SESSION_ID), id); });
}

Bytes reserveRequest(uint32_t sequence) {
    return built([&](uint8_t* t) { return buildReserveSel(t, headerFor(sequence, SESSION_ID)); });
}

Bytes clearRequest(uint32_t sequence, const Bytes& reservation, uint8_t action) {
    return built([&](uint8_t* t) {
        return buildClearSel(t, headerFor(sequence, SESSION_ID), reservation.data(), action);
    });
}

Bytes refreshRequest(uint32_t sequence) {
    return built([&](uint8_t* t) {
        return buildActivateSession(t, headerFor(sequence, SESSION_ID), CHALLENGE.data());
    });
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string lineFor(const Bytes& record) {
    uint8_t rx[RX_BUFFER_SIZE] = {};
    std::memcpy(rx + SEL_RECORD_OFFSET, record.data(), 16);
    char line[SEL_LINE_CAPACITY];
    formatSelLine(rx, line);
    return line;
}

const Events DUMP_START = {"Opening file ...", "Requesting SEL data"};

class SessionTest : public ::testing::Test {
protected:
    void SetUp() override {
        static int next = 1;
        std::snprintf(address, sizeof address, "127.0.1.%d", next++);
        g_loopPaceMilliseconds = 20;
        char pattern[] = "/tmp/tavrel-session-XXXXXX";
        directory = mkdtemp(pattern);
        reportPath = directory + "/report.txt";
        std::memset(g_reportPath, 0, sizeof g_reportPath);
        std::strncpy(g_reportPath, reportPath.c_str(), sizeof g_reportPath - 1);
    }
    void TearDown() override {
        run.reset();
        bmc.stop();
        g_loopPaceMilliseconds = 200;
        std::remove(reportPath.c_str());
        rmdir(directory.c_str());
    }
    void startBmc(std::vector<std::vector<FakeReply>> script) {
        ASSERT_TRUE(bmc.start(address, scriptedResponder(script))) << "bind " << address;
    }
    void startWorker() {
        run.reset(new WorkerRun(window));
        run->start(address);
    }
    void stopAndWait() {
        run->control.stopRequested = 1;
        ASSERT_TRUE(run->waitEnded(WAIT_MS));
    }
    char address[32];
    std::string directory;
    std::string reportPath;
    FakeBmc bmc;
    RecordingWindow window;
    std::unique_ptr<WorkerRun> run;
};

TEST_F(SessionTest, LogonSendsTheThreeRequestsAndConnects) {
    startBmc(logonScript());
    startWorker();
    ASSERT_TRUE(window.waitFor("<CONNECTED>", WAIT_MS));
    stopAndWait();
    EXPECT_EQ(logonRequests(), bmc.requests());
    EXPECT_EQ(concat(LOGON_TEXTS, {"<CONNECTED>", "<DISCONNECTED>"}), window.events());
    // Set Session Privilege Level carries the BMC's initial inbound number.
    const Bytes priv = bmc.requests()[2];
    EXPECT_EQ((Bytes{0x4C, 0x3D, 0x2E, 0x1F}), Bytes(priv.begin() + 5, priv.begin() + 9));
    EXPECT_EQ(SESSION_ID, Bytes(priv.begin() + 9, priv.begin() + 13));
}

TEST_F(SessionTest, BmcStartingAtOneSeesSequenceOne) {
    startBmc(logonScript(1));
    startWorker();
    ASSERT_TRUE(window.waitFor("<CONNECTED>", WAIT_MS));
    stopAndWait();
    const Bytes priv = bmc.requests().at(2);
    EXPECT_EQ((Bytes{0x01, 0x00, 0x00, 0x00}), Bytes(priv.begin() + 5, priv.begin() + 9));
}

TEST_F(SessionTest, EachLogonStepFailing) {
    struct Case {
        const char* name;
        std::vector<std::vector<FakeReply>> script;
        size_t requests;
        Events texts;
    } cases[] = {
        {"activate: wrong checksum",
         {{reply(challengeReply(TEMP_ID, CHALLENGE))}, {reply(activateReply(SESSION_ID, INBOUND, 0, true))}},
         2, {"Get Session Challenge", "Activate Session Request"}},
        {"activate: error code",
         {{reply(challengeReply(TEMP_ID, CHALLENGE))}, {reply(errorReply(0x18, 0x3A, 0x86))}},
         2, {"Get Session Challenge", "Activate Session Request"}},
        {"privilege: wrong checksum",
         {{reply(challengeReply(TEMP_ID, CHALLENGE))}, {reply(activateReply(SESSION_ID, INBOUND))},
          {reply(privilegeReply(0, true))}},
         3, LOGON_TEXTS},
        {"privilege: error code",
         {{reply(challengeReply(TEMP_ID, CHALLENGE))}, {reply(activateReply(SESSION_ID, INBOUND))},
          {reply(privilegeReply(0x80))}},
         3, LOGON_TEXTS},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeBmc fake;
        RecordingWindow w;
        ASSERT_TRUE(fake.start(address, scriptedResponder(c.script)));
        WorkerRun r(w);
        r.start(address);
        ASSERT_TRUE(r.waitEnded(WAIT_MS));
        EXPECT_EQ(concat(c.texts, {"<LOGON_ABORTED>"}), w.events());
        std::vector<Bytes> expected = logonRequests();
        expected.resize(c.requests);
        EXPECT_EQ(expected, fake.requests());
        fake.stop();
    }
}

TEST_F(SessionTest, UnparsableAddressSendsNothing) {
    startBmc({});
    run.reset(new WorkerRun(window));
    run->start("bmc.example");
    ASSERT_TRUE(run->waitEnded(WAIT_MS));
    EXPECT_EQ((Events{"Get Session Challenge", "<LOGON_ABORTED>"}), window.events());
    EXPECT_TRUE(bmc.requests().empty());
}

TEST_F(SessionTest, AbortDuringASilentWait) {
    startBmc({});  // never answers
    startWorker();
    ASSERT_TRUE(bmc.waitForRequests(1, WAIT_MS));
    usleep(100 * 1000);
    EXPECT_EQ((Events{"Get Session Challenge"}), window.events());
    run->control.stopRequested = 1;
    ASSERT_TRUE(window.waitFor("<LOGON_ABORTED>", 500));  // seen within a few wait slices
    ASSERT_TRUE(run->waitEnded(WAIT_MS));
    EXPECT_EQ((Events{"Get Session Challenge", "<LOGON_ABORTED>"}), window.events());
    EXPECT_EQ(1u, bmc.requests().size());
}

TEST_F(SessionTest, AbortAfterTheLastLogonReplyConnectsThenDisconnects) {
    // The privilege reply is already waiting when its wait begins: the BMC
    // sends it together with the Activate Session reply.
    startBmc({{reply(challengeReply(TEMP_ID, CHALLENGE))},
              {reply(activateReply(SESSION_ID, INBOUND)), reply(privilegeReply())}});
    run.reset(new WorkerRun(window));
    SessionControl& control = run->control;
    window.onEvent = [&](const std::string& e) {
        if (e == "Set Privilege Level") control.stopRequested = 1;
    };
    usleep(0);
    run->start(address);
    ASSERT_TRUE(run->waitEnded(WAIT_MS));
    EXPECT_EQ(concat(LOGON_TEXTS, {"<CONNECTED>", "<DISCONNECTED>"}), window.events());
    EXPECT_EQ(logonRequests(), bmc.requests());  // nothing sent after the logon
}

TEST_F(SessionTest, RefreshEveryPassCountWithTheLogonChallengeAndNewInboundNumber) {
    g_loopPaceMilliseconds = 1;
    const uint32_t second = 0x00000100, third = 0x00000900;
    startBmc(withLogon({{reply(activateReply({9, 9, 9, 9}, second))}, {reply(activateReply({9, 9, 9, 9}, third))}}));
    int connectedTexts = 0;
    std::atomic<uint64_t> connectedAt{0}, firstRefreshAt{0};
    run.reset(new WorkerRun(window));
    SessionControl& control = run->control;
    window.onEvent = [&](const std::string& e) {
        if (e == "<CONNECTED>") connectedAt = monotonicMilliseconds();
        if (e == "Session Timed Out" && firstRefreshAt == 0) firstRefreshAt = monotonicMilliseconds();
        // Stop right after the second refresh: the third is 150 passes away.
        if (e == "Connected" && ++connectedTexts == 2) control.stopRequested = 1;
    };
    run->start(address);
    ASSERT_TRUE(run->waitEnded(WAIT_MS));
    const std::vector<Bytes> requests = bmc.requests();
    ASSERT_EQ(5u, requests.size());
    EXPECT_EQ(refreshRequest(INBOUND + 1), requests[3]);
    // The next refresh carries exactly the number the first one was given,
    // and still the logon's session ID.
    EXPECT_EQ(refreshRequest(second), requests[4]);
    EXPECT_EQ(concat(LOGON_TEXTS, {"<CONNECTED>", "Session Timed Out", "Connected", "Session Timed Out", "Connected",
                                   "<DISCONNECTED>"}),
              window.events());
    // 150 passes of at least 1 ms each come before the first refresh.
    EXPECT_GE(firstRefreshAt - connectedAt, 150u);
}

TEST_F(SessionTest, RefreshFailing) {
    g_loopPaceMilliseconds = 1;
    struct Case {
        const char* name;
        Bytes reply;
    } cases[] = {{"error code", errorReply(0x18, 0x3A, 0x81)},
                 {"wrong checksum", activateReply(SESSION_ID, 5, 0, true)}};
    for (Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeBmc fake;
        RecordingWindow w;
        std::vector<std::vector<FakeReply>> script = logonScript();
        script.push_back({reply(c.reply)});
        ASSERT_TRUE(fake.start(address, scriptedResponder(script)));
        WorkerRun r(w);
        r.start(address);
        ASSERT_TRUE(r.waitEnded(WAIT_MS));
        EXPECT_EQ(concat(LOGON_TEXTS, {"<CONNECTED>", "Session Timed Out", "<DISCONNECTED>"}), w.events());
        EXPECT_EQ(4u, fake.requests().size());
        fake.stop();
    }
}

// One dump scenario: the BMC's replies to the Get SEL Entry requests, the
// record IDs the worker must ask for, the entries the report must hold.
struct DumpCase {
    const char* name;
    std::vector<Bytes> replies;
    std::vector<uint16_t> askedIds;
    std::vector<Bytes> reported;
    const char* outcome;
};

TEST_F(SessionTest, DumpWalks) {
    const Bytes e1 = systemEventRecord(1, 0x43F38A60, 0x07, 5);
    const Bytes e2 = systemEventRecord(2, 0x43F38A61, 0x01, 12);
    const Bytes e3 = systemEventRecord(3, 0x43F38A62, 0x04, 200);
    const Bytes e4 = systemEventRecord(4, 0x50000000, 0x07, 5);
    const Bytes e5 = systemEventRecord(5, 0x50000001, 0x07, 5);
    const Bytes e6 = systemEventRecord(6, 0x50000002, 0x07, 5);
    const Bytes e9 = systemEventRecord(9, 0x50000003, 0x07, 5);
    const Bytes error = errorReply(0x28, 0x43, 0xCB);
    const DumpCase cases[] = {
        {"three entries",
         {selEntryReply(2, e1), selEntryReply(3, e2), selEntryReply(0xFFFF, e3)},
         {0, 2, 3}, {e1, e2, e3}, "<SEL_SAVED>"},
        {"empty log", {error}, {0}, {}, "<SEL_EMPTY>"},
        {"later entry answered with an error: no line, next ID one above",
         {selEntryReply(2, e1), error, selEntryReply(0xFFFF, e3)},
         {0, 2, 3}, {e1, e3}, "<SEL_SAVED>"},
        {"sparse IDs followed without gaps",
         {selEntryReply(5, e1), selEntryReply(9, e5), selEntryReply(0xFFFF, e9)},
         {0, 5, 9}, {e1, e5, e9}, "<SEL_SAVED>"},
        {"walk starting after a clear (first entry 4)",
         {selEntryReply(5, e4), selEntryReply(6, e5), selEntryReply(0xFFFF, e6)},
         {0, 5, 6}, {e4, e5, e6}, "<SEL_SAVED>"},
        {"cycle in next IDs: every entry once",
         {selEntryReply(2, e1), selEntryReply(3, e2), selEntryReply(1, e3), selEntryReply(2, e1)},
         {0, 2, 3, 1}, {e1, e2, e3}, "<SEL_SAVED>"},
        {"next ID pointing back to an ID already asked for",
         {selEntryReply(2, e1), selEntryReply(2, e2)},
         {0, 2}, {e1, e2}, "<SEL_SAVED>"},
        {"single entry whose next ID is the last",
         {selEntryReply(0xFFFF, e1)}, {0}, {e1}, "<SEL_SAVED>"},
    };
    for (const DumpCase& c : cases) {
        SCOPED_TRACE(c.name);
        FakeBmc fake;
        RecordingWindow w;
        std::vector<std::vector<FakeReply>> script = logonScript();
        for (const Bytes& b : c.replies) script.push_back({reply(b)});
        ASSERT_TRUE(fake.start(address, scriptedResponder(script)));
        WorkerRun r(w);
        r.control.dumpRequested = 1;  // pending before logon: taken in the first pass
        r.start(address);
        ASSERT_TRUE(w.waitFor(c.outcome, WAIT_MS));
        r.control.stopRequested = 1;
        ASSERT_TRUE(r.waitEnded(WAIT_MS));
        fake.stop();

        EXPECT_EQ(concat(concat(LOGON_TEXTS, {"<CONNECTED>"}), concat(DUMP_START, {c.outcome, "<DISCONNECTED>"})),
                  w.events());
        std::vector<Bytes> expected = logonRequests();
        for (size_t i = 0; i < c.askedIds.size(); ++i)
            expected.push_back(getSelRequest(INBOUND + 1 + static_cast<uint32_t>(i), c.askedIds[i]));
        EXPECT_EQ(expected, fake.requests());
        std::string lines;
        for (const Bytes& e : c.reported) lines += lineFor(e);
        EXPECT_EQ(lines, readFile(reportPath));
        EXPECT_EQ(0u, r.control.dumpRequested.load());
    }
}

TEST_F(SessionTest, DumpEndsTheSessionOnAWrongChecksumAndKeepsTheLinesRead) {
    const Bytes e1 = systemEventRecord(1, 100, 0x07, 5);
    startBmc(withLogon({{reply(selEntryReply(2, e1))}, {reply(selEntryReply(3, e1, 0, true))}}));
    run.reset(new WorkerRun(window));
    run->control.dumpRequested = 1;
    run->start(address);
    ASSERT_TRUE(run->waitEnded(WAIT_MS));
    EXPECT_EQ(concat(concat(LOGON_TEXTS, {"<CONNECTED>"}), concat(DUMP_START, {"<DISCONNECTED>"})),
              window.events());
    EXPECT_EQ(lineFor(e1), readFile(reportPath));
}

TEST_F(SessionTest, ReportFileThatCannotBeOpenedKeepsTheSession) {
    std::strcpy(g_reportPath, "/nonexistent-tavrel-dir/report.txt");
    startBmc(logonScript());
    run.reset(new WorkerRun(window));
    run->control.dumpRequested = 1;
    run->start(address);
    ASSERT_TRUE(window.waitFor("<REPORT_FILE_ERROR>", WAIT_MS));
    usleep(100 * 1000);  // the session goes on in its loop
    EXPECT_FALSE(run->waitEnded(0));
    stopAndWait();
    EXPECT_EQ(concat(LOGON_TEXTS, {"<CONNECTED>", "Opening file ...", "Error, Unable to open file",
                                   "<REPORT_FILE_ERROR>", "<DISCONNECTED>"}),
              window.events());
    EXPECT_EQ(logonRequests(), bmc.requests());
    EXPECT_EQ(0u, run->control.dumpRequested.load());
}

TEST_F(SessionTest, ClearCompletingAtOnceAndAfterTwoPolls) {
    const Bytes reservation = {0x3C, 0xA5};
    struct Case {
        const char* name;
        std::vector<uint8_t> progress;
    } cases[] = {{"at once", {0x01}}, {"after two polls", {0x00, 0x00, 0x01}}};
    for (Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeBmc fake;
        RecordingWindow w;
        std::vector<std::vector<FakeReply>> script = logonScript();
        script.push_back({reply(reserveReply(reservation))});
        for (uint8_t p : c.progress) script.push_back({reply(clearReply(p))});
        ASSERT_TRUE(fake.start(address, scriptedResponder(script)));
        WorkerRun r(w);
        r.start(address);
        ASSERT_TRUE(w.waitFor("<CONNECTED>", WAIT_MS));
        r.control.clearRequested = 1;
        ASSERT_TRUE(w.waitFor("<SEL_CLEARED>", WAIT_MS));
        r.control.stopRequested = 1;
        ASSERT_TRUE(r.waitEnded(WAIT_MS));
        fake.stop();
        EXPECT_EQ(concat(LOGON_TEXTS, {"<CONNECTED>", "Sending Clear SEL Request", "<SEL_CLEARED>", "<DISCONNECTED>"}),
                  w.events());
        std::vector<Bytes> expected = logonRequests();
        expected.push_back(reserveRequest(INBOUND + 1));
        for (size_t i = 0; i < c.progress.size(); ++i)
            expected.push_back(clearRequest(INBOUND + 2 + static_cast<uint32_t>(i), reservation,
                                            i == 0 ? ERASE_START : ERASE_GET_STATUS));
        EXPECT_EQ(expected, fake.requests());
        EXPECT_EQ(0u, r.control.clearRequested.load());
    }
}

TEST_F(SessionTest, DisconnectDuringAnEraseEndsThePolling) {
    // The erase never completes.
    Responder responder = [](const Bytes& request, int index) {
        std::vector<std::vector<FakeReply>> logon = logonScript();
        if (index < 3) return logon[static_cast<size_t>(index)];
        if (request[35] == 0x42) return std::vector<FakeReply>{reply(reserveReply({1, 2}))};
        return std::vector<FakeReply>{reply(clearReply(0x00))};
    };
    ASSERT_TRUE(bmc.start(address, responder));
    startWorker();
    ASSERT_TRUE(window.waitFor("<CONNECTED>", WAIT_MS));
    run->control.clearRequested = 1;
    ASSERT_TRUE(bmc.waitForRequests(6, WAIT_MS));  // reserve and two polls
    stopAndWait();
    EXPECT_EQ(concat(LOGON_TEXTS, {"<CONNECTED>", "Sending Clear SEL Request", "<DISCONNECTED>"}), window.events());
}

TEST_F(SessionTest, DatagramFromAnotherSenderIsDropped) {
    const Bytes e1 = systemEventRecord(1, 100, 0x07, 5);
    const Bytes fake1 = systemEventRecord(0x666, 0, 0x01, 1);
    // Before each true reply, a forged one from another port of the BMC's
    // address: a forged challenge, a forged entry, a forged erase completion.
    startBmc({{FakeReply{challengeReply({9, 9, 9, 9}, Bytes(16, 0x99)), true},
               reply(challengeReply(TEMP_ID, CHALLENGE))},
              {reply(activateReply(SESSION_ID, INBOUND))},
              {reply(privilegeReply())},
              {FakeReply{selEntryReply(0xFFFF, fake1), true}, reply(selEntryReply(0xFFFF, e1))},
              {reply(reserveReply({7, 7}))},
              {FakeReply{clearReply(0x01), true}, reply(clearReply(0x00))},
              {reply(clearReply(0x01))}});
    run.reset(new WorkerRun(window));
    run->control.dumpRequested = 1;
    run->start(address);
    ASSERT_TRUE(window.waitFor("<SEL_SAVED>", WAIT_MS));
    run->control.clearRequested = 1;
    ASSERT_TRUE(window.waitFor("<SEL_CLEARED>", WAIT_MS));
    stopAndWait();
    std::vector<Bytes> expected = logonRequests();  // the true challenge was used
    expected.push_back(getSelRequest(INBOUND + 1, 0));
    expected.push_back(reserveRequest(INBOUND + 2));
    expected.push_back(clearRequest(INBOUND + 3, {7, 7}, ERASE_START));
    expected.push_back(clearRequest(INBOUND + 4, {7, 7}, ERASE_GET_STATUS));  // the forged completion was ignored
    EXPECT_EQ(expected, bmc.requests());
    EXPECT_EQ(lineFor(e1), readFile(reportPath));
}

TEST_F(SessionTest, LeftoverRequests) {
    // A Clear SEL pressed during an earlier session is dropped; a pending
    // dump is carried out right after logon.
    const Bytes e1 = systemEventRecord(1, 100, 0x07, 5);
    startBmc(withLogon({{reply(selEntryReply(0xFFFF, e1))}}));
    run.reset(new WorkerRun(window));
    run->control.clearRequested = 1;
    run->control.dumpRequested = 1;
    run->start(address);
    ASSERT_TRUE(window.waitFor("<SEL_SAVED>", WAIT_MS));
    usleep(100 * 1000);
    stopAndWait();
    std::vector<Bytes> expected = logonRequests();
    expected.push_back(getSelRequest(INBOUND + 1, 0));
    EXPECT_EQ(expected, bmc.requests());  // no Reserve SEL, no Clear SEL
    EXPECT_EQ(concat(concat(LOGON_TEXTS, {"<CONNECTED>"}), concat(DUMP_START, {"<SEL_SAVED>", "<DISCONNECTED>"})),
              window.events());
}

TEST_F(SessionTest, StopBetweenPassesSendsNothingMore) {
    startBmc(logonScript());
    startWorker();
    ASSERT_TRUE(window.waitFor("<CONNECTED>", WAIT_MS));
    usleep(60 * 1000);
    stopAndWait();
    EXPECT_EQ(3u, bmc.requests().size());
    EXPECT_EQ(concat(LOGON_TEXTS, {"<CONNECTED>", "<DISCONNECTED>"}), window.events());
}

}  // namespace
