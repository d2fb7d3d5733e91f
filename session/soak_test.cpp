// Soak: repeated Logon, Dump SEL, Clear SEL, Disconnect cycles of the real
// worker in one process against the BMC emulator named by
// TAVREL_EMULATOR_ADDRESS, as a user working in one window all day would.
// Each cycle adds entries with ipmitool first and checks the report holds
// exactly those; open descriptors, threads and memory must not grow.
#include <gtest/gtest.h>

#include <dirent.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "ipmi_lan.h"
#include "session_test_support.h"

namespace {

const int WAIT_MS = 30000;
const int ENTRIES_PER_CYCLE = 3;
const int WARM_UP_CYCLES = 3;

int countEntries(const char* directory) {
    DIR* d = opendir(directory);
    if (d == nullptr) return -1;
    int count = 0;
    while (readdir(d) != nullptr) ++count;
    closedir(d);
    return count;
}

long residentKilobytes() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
    return -1;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

long envNumber(const char* name, long fallback) {
    const char* text = std::getenv(name);
    return text != nullptr ? std::strtol(text, nullptr, 10) : fallback;
}

// An OEM record without time stamp: the emulator keeps its bytes as given
// (but the record ID, which it assigns).
std::string oemRecordHex(int cycle, int n) {
    char hex[80];
    std::snprintf(hex, sizeof hex, "0x00 0x00 0xE1 0x%02X 0x%02X 0x54 0x41 0x56 0x52 0x45 0x4C 0x00 0x01 0x02 0x03 0x04",
                  cycle & 0xFF, n & 0xFF);
    return hex;
}

// The line tail (record type onwards) that record n of a cycle gives.
std::string expectedTail(int cycle, int n) {
    char tail[80];
    std::snprintf(tail, sizeof tail, " E1 %02X %02X 54 41 56 52 45 4C 00 01 02 03 04\r\n", cycle & 0xFF, n & 0xFF);
    return tail;
}

bool addEntry(const char* address, const std::string& recordHex) {
    const std::string command = std::string("timeout 30 ipmitool -I lan -H ") + address +
                                " -U USERID -P KEBRU7NY -A PASSWORD -L ADMINISTRATOR raw 0x0a 0x44 " + recordHex +
                                " >/dev/null 2>&1";
    return std::system(command.c_str()) == 0;
}

struct Usage {
    int descriptors;
    int threads;
    long rssKb;
};

Usage usageNow() {
    return Usage{countEntries("/proc/self/fd"), countEntries("/proc/self/task"), residentKilobytes()};
}

TEST(Soak, RepeatedCyclesLeakNothingAndEveryReportIsRight) {
    const char* address = std::getenv("TAVREL_EMULATOR_ADDRESS");
    ASSERT_TRUE(address != nullptr) << "run by CTest with the emulator fixture";
    const long seconds = envNumber("TAVREL_SOAK_SECONDS", 60);
    const long maxCycles = envNumber("TAVREL_SOAK_CYCLES", 500);
    // The emulator holds 63 sessions and frees an idle one after about 60 s;
    // one cycle per 1.1 s stays within that.
    const auto cycleSpacing = std::chrono::milliseconds(1100);

    char pattern[] = "/tmp/tavrel-soak-XXXXXX";
    const std::string directory = mkdtemp(pattern);
    const std::string report = directory + "/report.txt";
    std::memset(g_reportPath, 0, sizeof g_reportPath);
    std::strncpy(g_reportPath, report.c_str(), sizeof g_reportPath - 1);

    RecordingWindow window;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    Usage first = {0, 0, 0};
    Usage last = first;
    int cycles = 0;
    for (; cycles < maxCycles && std::chrono::steady_clock::now() < end; ++cycles) {
        const auto began = std::chrono::steady_clock::now();
        for (int n = 0; n < ENTRIES_PER_CYCLE; ++n) ASSERT_TRUE(addEntry(address, oemRecordHex(cycles, n)));

        WorkerRun run(window);
        SessionControl& control = run.control;
        std::atomic<int> phase{0};
        window.onEvent = [&](const std::string& e) {
            if (e == "<CONNECTED>") control.dumpRequested = 1;
            if (e == "<SEL_SAVED>") control.clearRequested = 1;
            if (e == "<SEL_CLEARED>") control.stopRequested = 1;
            if (e == "<DISCONNECTED>" || e == "<LOGON_ABORTED>") phase = 1;
        };
        run.start(address);
        ASSERT_TRUE(window.waitFor("<SEL_CLEARED>", WAIT_MS)) << "cycle " << cycles;
        ASSERT_TRUE(run.waitEnded(WAIT_MS)) << "cycle " << cycles;
        window.onEvent = nullptr;

        const std::string text = readFile(report);
        std::string tails;
        for (size_t at = 0, next; (next = text.find("\r\n", at)) != std::string::npos; at = next + 2)
            tails += text.substr(next - 42, 44);  // record bytes 2..15 and the line end
        std::string expected;
        for (int n = 0; n < ENTRIES_PER_CYCLE; ++n) expected += expectedTail(cycles, n);
        ASSERT_EQ(expected, tails) << "cycle " << cycles;

        if (cycles == WARM_UP_CYCLES) first = usageNow();  // after the first thread stacks and caches
        last = usageNow();
        std::this_thread::sleep_until(began + cycleSpacing);
    }
    std::printf("%d cycles: descriptors %d -> %d, threads %d -> %d, RSS %ld -> %ld kB\n", cycles, first.descriptors,
                last.descriptors, first.threads, last.threads, first.rssKb, last.rssKb);
    EXPECT_GE(cycles, WARM_UP_CYCLES + 5);
    EXPECT_EQ(first.descriptors, last.descriptors);
    EXPECT_EQ(first.threads, last.threads);
    // ThreadSanitizer keeps state for every thread that ever ran, so memory
    // is judged in the other builds only (the test run sets the limit).
    const long rssLimitKb = envNumber("TAVREL_SOAK_RSS_GROWTH_KB", -1);
    if (rssLimitKb >= 0) {
        EXPECT_LT(last.rssKb - first.rssKb, rssLimitKb);
    }
    std::remove(report.c_str());
    rmdir(directory.c_str());
}

}  // namespace
