// A BMC with few session slots: the worker never closes its session (the
// BMC lets it expire), so repeated logons within the expiry time use the
// slots up. This shows what a user meets then; the idle expiry stands in
// scaled down (real BMCs: about 60 s).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>

#include "ipmi_lan.h"
#include "session_test_support.h"

namespace {

const int SLOTS = 4;
const int EXPIRY_MS = 1500;
const int WAIT_MS = 5000;

// Session table of the fake BMC: one slot per activated session, freed
// when the session has been idle for EXPIRY_MS.
struct SlotBmc {
    std::mutex lock;
    std::chrono::steady_clock::time_point lastUse[SLOTS];
    bool used[SLOTS] = {};
    uint32_t nextSessionId = 0x100;
    std::atomic<int> refused{0};

    void expire() {
        const auto now = std::chrono::steady_clock::now();
        for (int i = 0; i < SLOTS; ++i)
            if (used[i] && now - lastUse[i] > std::chrono::milliseconds(EXPIRY_MS)) used[i] = false;
    }

    std::vector<FakeReply> answer(const Bytes& request) {
        std::lock_guard<std::mutex> guard(lock);
        expire();
        if (request[4] == 0x00) return {FakeReply{challengeReply({1, 2, 3, 4}, Bytes(16, 0x42)), false}};
        const uint8_t command = request[35];
        const uint32_t sessionId = readLe32(request.data() + 9);
        if (command == 0x3A && sessionId == 0x04030201) {  // a new session
            for (int i = 0; i < SLOTS; ++i) {
                if (!used[i]) {
                    used[i] = true;
                    lastUse[i] = std::chrono::steady_clock::now();
                    const uint32_t id = nextSessionId + static_cast<uint32_t>(i);
                    return {FakeReply{activateReply({static_cast<uint8_t>(id), static_cast<uint8_t>(id >> 8), 0, 0}, 1), false}};
                }
            }
            ++refused;
            return {FakeReply{errorReply(0x18, 0x3A, 0x81), false}};  // no session slot available
        }
        const int slot = static_cast<int>(sessionId - nextSessionId);
        if (slot >= 0 && slot < SLOTS && used[slot]) lastUse[slot] = std::chrono::steady_clock::now();
        return {FakeReply{privilegeReply(), false}};
    }
};

// One Logon then Disconnect, as the window or one tavrel-cli run does it.
std::vector<std::string> logonAndDisconnect(const char* address) {
    RecordingWindow window;
    WorkerRun run(window);
    window.onEvent = [&](const std::string& e) {
        if (e == "<CONNECTED>") run.control.stopRequested = 1;
    };
    run.start(address);
    EXPECT_TRUE(run.waitEnded(WAIT_MS));
    return window.events();
}

TEST(SessionSlots, RepeatedLogonsUseUpTheSlotsUntilTheyExpire) {
    SlotBmc model;
    FakeBmc bmc;
    ASSERT_TRUE(bmc.start("127.0.4.1", [&](const Bytes& r, int) { return model.answer(r); }));
    const std::vector<std::string> connected = {"Get Session Challenge", "Activate Session Request",
                                                "Set Privilege Level", "<CONNECTED>", "<DISCONNECTED>"};
    const std::vector<std::string> refused = {"Get Session Challenge", "Activate Session Request", "<LOGON_ABORTED>"};
    for (int i = 0; i < SLOTS; ++i) EXPECT_EQ(connected, logonAndDisconnect("127.0.4.1")) << "logon " << i + 1;
    // The next logons within the expiry time find every slot taken.
    EXPECT_EQ(refused, logonAndDisconnect("127.0.4.1"));
    EXPECT_EQ(refused, logonAndDisconnect("127.0.4.1"));
    EXPECT_EQ(2, model.refused.load());
    // Once the idle sessions have expired, Logon works again.
    std::this_thread::sleep_for(std::chrono::milliseconds(EXPIRY_MS + 300));
    EXPECT_EQ(connected, logonAndDisconnect("127.0.4.1"));
    bmc.stop();
}

}  // namespace
