// A scripted BMC for tests: a UDP socket on a loopback address, port 623,
// that records every request datagram and answers each with the replies a
// responder picks. Plus builders for well-formed reply datagrams.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>
#include <atomic>

typedef std::vector<uint8_t> Bytes;

struct FakeReply {
    Bytes bytes;
    bool fromOtherSender;  // sent from another socket (another port) of the same address
};

// Returns the replies for request number index (0-based); none = silent.
typedef std::function<std::vector<FakeReply>(const Bytes& request, int index)> Responder;

// Answers request i with the replies of script[i]; silent past its end.
Responder scriptedResponder(std::vector<std::vector<FakeReply>> script);

class FakeBmc {
public:
    FakeBmc() = default;
    FakeBmc(const FakeBmc&) = delete;
    FakeBmc& operator=(const FakeBmc&) = delete;
    ~FakeBmc();

    // Binds address:623 and starts answering; false when the socket fails.
    bool start(const char* address, Responder responder);
    // Stops answering and closes the sockets; safe to call twice.
    void stop();
    // Every request received so far, in order.
    std::vector<Bytes> requests();
    // Waits up to timeoutMs until at least count requests have come.
    bool waitForRequests(size_t count, int timeoutMs);
    // Sends bytes to the client of the last request.
    void sendToClient(const Bytes& bytes, bool fromOtherSender);

private:
    void run();
    int socket_ = -1;
    int otherSocket_ = -1;
    Responder responder_;
    std::thread thread_;
    std::atomic<bool> stopping_{false};
    std::mutex lock_;
    std::vector<Bytes> requests_;
    bool haveClient_ = false;
    uint32_t clientAddress_ = 0;
    uint16_t clientPort_ = 0;
};

// ---- Reply datagrams, with correct checksums unless badChecksum ----

// Get Session Challenge reply: temporary session ID at 21..24, challenge at 25..40.
Bytes challengeReply(const Bytes& temporaryId, const Bytes& challenge, uint8_t code = 0);
// Authenticated reply: completion code at 36, data from 37.
Bytes authenticatedReply(uint8_t netFn, uint8_t command, uint8_t code, const Bytes& data,
                         bool badChecksum = false);
// Activate Session reply: session ID at 38..41, initial inbound sequence at 42..45.
Bytes activateReply(const Bytes& sessionId, uint32_t inboundSequence, uint8_t code = 0,
                    bool badChecksum = false);
Bytes privilegeReply(uint8_t code = 0, bool badChecksum = false);
// Get SEL Entry reply: next record ID at 37..38, record at 39..54.
Bytes selEntryReply(uint16_t nextId, const Bytes& record, uint8_t code = 0, bool badChecksum = false);
// A short error reply: completion code only.
Bytes errorReply(uint8_t netFn, uint8_t command, uint8_t code);
Bytes reserveReply(const Bytes& reservationId, uint8_t code = 0);
Bytes clearReply(uint8_t progress, uint8_t code = 0);

// A 16-byte system event record with the given ID.
Bytes systemEventRecord(uint16_t id, uint32_t stamp, uint8_t sensorType, uint8_t sensorNumber);
