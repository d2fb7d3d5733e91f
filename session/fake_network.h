// A scripted network in place of the platform's UDP sockets, for fault
// injection and fuzzing: every datagram the worker sends goes to a
// responder, which queues what the worker's receives will return (a
// datagram from a sender, or an error) and may make the send itself fail.
// When nothing is queued a receive finds nothing waiting and the idle hook
// runs (it may raise a stop request). Single-threaded use only.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

typedef std::vector<uint8_t> Bytes;

struct FakeReceive {
    enum Kind { DATAGRAM, ERROR } kind;
    Bytes bytes;
    uint32_t fromAddress;  // network order
    uint16_t fromPort;
};

struct FakeNetwork {
    // Called for every datagram sent; returns false to make the send fail.
    std::function<bool(const Bytes& sent, int index)> onSend;
    // Called when a receive finds nothing queued.
    std::function<void()> onIdle;
    std::vector<Bytes> sent;
    std::vector<FakeReceive> queue;
    size_t next = 0;
    int openSockets = 0;
    int libraryStarts = 0;
    bool failOpen = false;
};

extern FakeNetwork g_fakeNetwork;

// Clears the network and its hooks.
void fakeNetworkReset();
// Queues a datagram from the given sender (dotted address, port).
void fakeNetworkQueue(const Bytes& datagram, const char* fromAddress = "127.0.0.1", uint16_t fromPort = 623);
// Queues a receive error.
void fakeNetworkQueueError();
