#include "fake_network.h"

#include <arpa/inet.h>

#include <cstring>

#include "platform.h"

FakeNetwork g_fakeNetwork;

void fakeNetworkReset() {
    g_fakeNetwork = FakeNetwork();
}

void fakeNetworkQueue(const Bytes& datagram, const char* fromAddress, uint16_t fromPort) {
    g_fakeNetwork.queue.push_back(
        FakeReceive{FakeReceive::DATAGRAM, datagram, parseIpv4Address(fromAddress), fromPort});
}

void fakeNetworkQueueError() {
    g_fakeNetwork.queue.push_back(FakeReceive{FakeReceive::ERROR, Bytes(), 0, 0});
}

// ---- The socket functions of platform.h ----

bool socketLibraryStart() {
    ++g_fakeNetwork.libraryStarts;
    return true;
}

void socketLibraryCleanup() {
    --g_fakeNetwork.libraryStarts;
}

uint32_t parseIpv4Address(const char* text) {
    in_addr parsed;
    return inet_pton(AF_INET, text, &parsed) == 1 ? parsed.s_addr : 0xFFFFFFFFu;
}

UdpSocket udpOpen() {
    if (g_fakeNetwork.failOpen) return INVALID_UDP_SOCKET;
    ++g_fakeNetwork.openSockets;
    return 7;
}

int udpSendTo(UdpSocket, const uint8_t* data, int length, uint32_t, uint16_t) {
    const Bytes datagram(data, data + length);
    g_fakeNetwork.sent.push_back(datagram);
    const int index = static_cast<int>(g_fakeNetwork.sent.size()) - 1;
    if (g_fakeNetwork.onSend && !g_fakeNetwork.onSend(datagram, index)) return -1;
    return length;
}

bool udpSetNonBlocking(UdpSocket) {
    return true;
}

int udpReceiveFrom(UdpSocket, uint8_t* buffer, int capacity, uint32_t* fromAddress, uint16_t* fromPort) {
    if (g_fakeNetwork.next >= g_fakeNetwork.queue.size()) return UDP_NONE_WAITING;
    const FakeReceive& r = g_fakeNetwork.queue[g_fakeNetwork.next++];
    if (r.kind == FakeReceive::ERROR) return -1;
    const int length = static_cast<int>(r.bytes.size()) < capacity ? static_cast<int>(r.bytes.size()) : capacity;
    if (length > 0) std::memcpy(buffer, r.bytes.data(), static_cast<size_t>(length));
    *fromAddress = r.fromAddress;
    *fromPort = r.fromPort;
    return length;
}

bool udpWaitReadable(UdpSocket, int) {
    if (g_fakeNetwork.next >= g_fakeNetwork.queue.size() && g_fakeNetwork.onIdle) g_fakeNetwork.onIdle();
    return g_fakeNetwork.next < g_fakeNetwork.queue.size();
}

void udpClose(UdpSocket) {
    --g_fakeNetwork.openSockets;
}
