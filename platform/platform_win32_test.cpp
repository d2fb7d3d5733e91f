// The Win32 side of the platform layer under Wine: UDP on loopback against a
// plain Winsock socket, address parsing, and a hosted window that takes texts
// and notifications from another thread.
#include <winsock2.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>

#include "platform.h"

namespace {

const char LOOPBACK[] = "127.0.0.1";

// A plain Winsock socket bound to a free loopback port: the far end.
struct Peer {
    SOCKET socket;
    uint16_t port;  // host order
};

bool openPeer(Peer& peer) {
    peer.socket = socket(AF_INET, SOCK_DGRAM, 0);
    if (peer.socket == INVALID_SOCKET) {
        return false;
    }
    sockaddr_in address;
    std::memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    int length = sizeof address;
    if (bind(peer.socket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        getsockname(peer.socket, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        closesocket(peer.socket);
        return false;
    }
    peer.port = ntohs(address.sin_port);
    return true;
}

// Receives one datagram on the peer within two seconds; its length or -1.
int peerReceive(const Peer& peer, char* buffer, int capacity, sockaddr_in* from) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(peer.socket, &readable);
    timeval timeout = {2, 0};
    if (select(0, &readable, nullptr, nullptr, &timeout) != 1) {
        return -1;
    }
    int fromLength = sizeof *from;
    return recvfrom(peer.socket, buffer, capacity, 0, reinterpret_cast<sockaddr*>(from), &fromLength);
}

class UdpTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(socketLibraryStart());
        ASSERT_TRUE(openPeer(peer));
        s = udpOpen();
        ASSERT_NE(s, INVALID_UDP_SOCKET);
    }
    void TearDown() override {
        if (s != INVALID_UDP_SOCKET) {
            udpClose(s);
        }
        if (peer.socket != INVALID_SOCKET) {
            closesocket(peer.socket);
        }
        socketLibraryCleanup();
    }
    Peer peer = {INVALID_SOCKET, 0};
    UdpSocket s = INVALID_UDP_SOCKET;
};

TEST_F(UdpTest, RoundTripOnLoopbackWithTruncationAndNothingWaiting) {
    const uint8_t request[] = {0x06, 0x00, 0xFF, 0x07, 0x00, 0x11, 0x22, 0x33, 0x44, 0xC8};
    ASSERT_EQ(udpSendTo(s, request, sizeof request, parseIpv4Address(LOOPBACK), peer.port),
              static_cast<int>(sizeof request));

    char seen[64];
    sockaddr_in from;
    ASSERT_EQ(peerReceive(peer, seen, sizeof seen, &from), static_cast<int>(sizeof request));
    EXPECT_EQ(std::memcmp(seen, request, sizeof request), 0);
    EXPECT_EQ(from.sin_addr.s_addr, htonl(INADDR_LOOPBACK));

    ASSERT_TRUE(udpSetNonBlocking(s));

    // A whole reply, with the sender's address and port.
    char reply[100];
    for (int i = 0; i < static_cast<int>(sizeof reply); ++i) {
        reply[i] = static_cast<char>(0xA0 + i);
    }
    ASSERT_EQ(sendto(peer.socket, reply, 46, 0, reinterpret_cast<sockaddr*>(&from), sizeof from), 46);
    ASSERT_TRUE(udpWaitReadable(s, 2000));
    uint8_t buffer[1024];
    uint32_t fromAddress = 0;
    uint16_t fromPort = 0;
    ASSERT_EQ(udpReceiveFrom(s, buffer, sizeof buffer, &fromAddress, &fromPort), 46);
    EXPECT_EQ(std::memcmp(buffer, reply, 46), 0);
    EXPECT_EQ(fromAddress, htonl(INADDR_LOOPBACK));
    EXPECT_EQ(fromPort, peer.port);

    // A datagram longer than the buffer arrives cut to the buffer's size.
    ASSERT_EQ(sendto(peer.socket, reply, sizeof reply, 0, reinterpret_cast<sockaddr*>(&from), sizeof from),
              static_cast<int>(sizeof reply));
    ASSERT_TRUE(udpWaitReadable(s, 2000));
    std::memset(buffer, 0, sizeof buffer);
    fromPort = 0;
    ASSERT_EQ(udpReceiveFrom(s, buffer, 10, &fromAddress, &fromPort), 10);
    EXPECT_EQ(std::memcmp(buffer, reply, 10), 0);
    EXPECT_EQ(buffer[10], 0);
    EXPECT_EQ(fromPort, peer.port);

    // Drained: nothing is waiting, and the wait says so after its time.
    EXPECT_EQ(udpReceiveFrom(s, buffer, sizeof buffer, &fromAddress, &fromPort), UDP_NONE_WAITING);
    const uint64_t before = monotonicMilliseconds();
    EXPECT_FALSE(udpWaitReadable(s, 100));
    EXPECT_GE(monotonicMilliseconds() - before, 90u);
}

TEST_F(UdpTest, EmptyNonBlockingSocketHasNoneWaiting) {
    // The send binds the socket; nothing is ever sent back.
    const uint8_t probe[] = {1, 2, 3};
    ASSERT_EQ(udpSendTo(s, probe, sizeof probe, parseIpv4Address(LOOPBACK), peer.port), 3);
    ASSERT_TRUE(udpSetNonBlocking(s));
    uint8_t buffer[64];
    uint32_t fromAddress = 0;
    uint16_t fromPort = 0;
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(udpReceiveFrom(s, buffer, sizeof buffer, &fromAddress, &fromPort), UDP_NONE_WAITING);
    }
}

TEST(ParseIpv4Address, DottedTextsAndFailures) {
    struct Case {
        const char* text;
        uint32_t expected;  // network order
    };
    const Case cases[] = {
        {"127.0.0.1", htonl(0x7F000001)},
        {"127.12.34.56", htonl(0x7F0C2238)},
        {"192.168.0.120", htonl(0xC0A80078)},
        {"0.0.0.0", 0},
        {"255.255.255.255", 0xFFFFFFFFu},
        {"bmc.example", 0xFFFFFFFFu},
        {"1.2.3.256", 0xFFFFFFFFu},
        {"10.0.0.x", 0xFFFFFFFFu},
        {"", 0xFFFFFFFFu},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(parseIpv4Address(c.text), c.expected) << "text \"" << c.text << "\"";
    }
}

// ---- Hosted window ----

const int MAX_EVENTS = 16;

struct Event {
    bool isText;
    int id;                 // control id for a text
    uint32_t code;          // message code
    uintptr_t wParam;
    char text[64];
    DWORD thread;           // thread the handler ran on
    int senderStep;         // calls the sender had finished when the handler ran
};

struct Recorder {
    Event events[MAX_EVENTS];
    int count;
    std::atomic<int> senderStep;
    std::atomic<bool> senderDone;
    uint32_t window;
};

Event* nextEvent(Recorder& r) {
    if (r.count == MAX_EVENTS) {
        return nullptr;
    }
    Event* e = &r.events[r.count++];
    std::memset(e, 0, sizeof *e);
    e->thread = GetCurrentThreadId();
    e->senderStep = r.senderStep.load();
    return e;
}

void recordText(void* context, uint32_t /*window*/, int id, const char* text) {
    Event* e = nextEvent(*static_cast<Recorder*>(context));
    if (e != nullptr) {
        e->isText = true;
        e->id = id;
        std::strncpy(e->text, text != nullptr ? text : "(null)", sizeof e->text - 1);
    }
}

void recordMessage(void* context, uint32_t /*window*/, uint32_t code, uintptr_t wParam) {
    Event* e = nextEvent(*static_cast<Recorder*>(context));
    if (e != nullptr) {
        e->code = code;
        e->wParam = wParam;
    }
}

// Runs on its own thread, as the session worker does.
void sender(void* context) {
    Recorder& r = *static_cast<Recorder*>(context);
    dialogSetItemText(r.window, IDC_STATUS, "Get Session Challenge");
    r.senderStep.store(1);
    windowNotify(r.window, 0x400);
    r.senderStep.store(2);
    windowSendMessage(r.window, 0x405, 7);
    r.senderStep.store(3);
    windowNotify(r.window, 0x400 + 0x40);  // past the forwarded range
    r.senderStep.store(4);
    r.senderDone.store(true);
}

TEST(HostedWindow, TakesTextsAndNotificationsFromAnotherThreadInOrder) {
    // Static: the sender may still hold it if the wait below gives up.
    static Recorder r;
    std::memset(r.events, 0, sizeof r.events);
    r.count = 0;
    r.senderStep.store(0);
    r.senderDone.store(false);
    const WindowHandler handler = {&r, recordText, recordMessage, nullptr};
    r.window = hostedWindowCreate(&handler);
    ASSERT_NE(r.window, 0u);
    const DWORD windowThread = GetCurrentThreadId();

    ASSERT_TRUE(threadStart(sender, &r));
    const uint64_t start = monotonicMilliseconds();
    while (!r.senderDone.load() && monotonicMilliseconds() - start < 5000) {
        hostedWindowPump(r.window, 50);
    }
    ASSERT_TRUE(r.senderDone.load());

    ASSERT_EQ(r.count, 3);
    const Event& text = r.events[0];
    EXPECT_TRUE(text.isText);
    EXPECT_EQ(text.id, IDC_STATUS);
    EXPECT_STREQ(text.text, "Get Session Challenge");
    const uint32_t codes[] = {0x400, 0x405};
    const uintptr_t wParams[] = {0, 7};
    for (int i = 0; i < 2; ++i) {
        const Event& m = r.events[1 + i];
        EXPECT_FALSE(m.isText) << "event " << 1 + i;
        EXPECT_EQ(m.code, codes[i]) << "event " << 1 + i;
        EXPECT_EQ(m.wParam, wParams[i]) << "event " << 1 + i;
    }
    // Each call waited for its handling, which ran on the window's thread.
    for (int i = 0; i < r.count; ++i) {
        EXPECT_EQ(r.events[i].senderStep, i) << "event " << i;
        EXPECT_EQ(r.events[i].thread, windowThread) << "event " << i;
    }

    char read[64];
    EXPECT_EQ(dialogGetItemTextLength(r.window, IDC_STATUS), 21);
    EXPECT_EQ(dialogGetItemText(r.window, IDC_STATUS, read, sizeof read), 21);
    EXPECT_STREQ(read, "Get Session Challenge");
    EXPECT_EQ(dialogGetItemText(r.window, IDC_STATUS, read, 4), 3);
    EXPECT_STREQ(read, "Get");

    dialogEnableItem(r.window, IDC_STATUS, false);
    EXPECT_FALSE(dialogIsItemEnabled(r.window, IDC_STATUS));
    dialogEnableItem(r.window, IDC_STATUS, true);
    EXPECT_TRUE(dialogIsItemEnabled(r.window, IDC_STATUS));

    hostedWindowDestroy(r.window);
    windowNotify(r.window, 0x401);
    EXPECT_EQ(r.count, 3);
    EXPECT_EQ(dialogGetItemTextLength(r.window, IDC_STATUS), 0);
}

}  // namespace
