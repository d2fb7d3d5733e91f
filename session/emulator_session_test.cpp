// The real worker against OpenIPMI's BMC emulator, started by the test
// fixture on the address in TAVREL_EMULATOR_ADDRESS: logon, refreshes with
// a shortened pass, and a dump afterwards, so the session is shown to stay
// usable across the refresh on a BMC that picks its own sequence numbers.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "session_test_support.h"

namespace {

const int WAIT_MS = 20000;

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST(EmulatorSession, RefreshKeepsTheSessionUsable) {
    const char* address = std::getenv("TAVREL_EMULATOR_ADDRESS");
    const char* expectedText = std::getenv("TAVREL_EMULATOR_ENTRIES");
    ASSERT_TRUE(address != nullptr && expectedText != nullptr) << "run by CTest with the emulator fixture";
    const long expectedEntries = std::strtol(expectedText, nullptr, 10);

    char pattern[] = "/tmp/tavrel-emulator-XXXXXX";
    const std::string directory = mkdtemp(pattern);
    const std::string report = directory + "/report.txt";
    std::memset(g_reportPath, 0, sizeof g_reportPath);
    std::strncpy(g_reportPath, report.c_str(), sizeof g_reportPath - 1);

    g_loopPaceMilliseconds = 2;  // 150 passes in well under a second
    RecordingWindow window;
    WorkerRun run(window);
    int refreshes = 0;
    window.onEvent = [&](const std::string& e) {
        // After the second refresh, dump within the refreshed session.
        if (e == "Connected" && ++refreshes == 2) run.control.dumpRequested = 1;
        if (e == "<SEL_SAVED>") run.control.stopRequested = 1;
    };
    run.start(address);
    ASSERT_TRUE(window.waitFor("<SEL_SAVED>", WAIT_MS));
    ASSERT_TRUE(run.waitEnded(WAIT_MS));
    g_loopPaceMilliseconds = 200;

    const std::vector<std::string> expected = {
        "Get Session Challenge", "Activate Session Request", "Set Privilege Level", "<CONNECTED>",
        "Session Timed Out",     "Connected",                "Session Timed Out",   "Connected",
        "Opening file ...",      "Requesting SEL data",      "<SEL_SAVED>",         "<DISCONNECTED>"};
    EXPECT_EQ(expected, window.events());
    const std::string text = readFile(report);
    long lines = 0;
    for (size_t at = 0; (at = text.find("\r\n", at)) != std::string::npos; at += 2) ++lines;
    EXPECT_EQ(expectedEntries, lines);
    std::remove(report.c_str());
    rmdir(directory.c_str());
}

}  // namespace
