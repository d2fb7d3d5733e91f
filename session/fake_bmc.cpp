#include "fake_bmc.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>

namespace {

const uint16_t BMC_PORT = 623;

uint8_t checksumOf(const Bytes& b, size_t first, size_t last) {
    unsigned sum = 0;
    for (size_t i = first; i <= last; ++i) sum += b[i];
    return static_cast<uint8_t>(0x100 - (sum & 0xFF));
}

void putLe32(Bytes& b, uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

int openBound(const char* address, uint16_t port) {
    const int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (s < 0) return -1;
    const int one = 1;
    setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a;
    std::memset(&a, 0, sizeof a);
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    inet_pton(AF_INET, address, &a.sin_addr);
    if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        close(s);
        return -1;
    }
    return s;
}

}  // namespace

Responder scriptedResponder(std::vector<std::vector<FakeReply>> script) {
    return [script](const Bytes&, int index) {
        return index < static_cast<int>(script.size()) ? script[static_cast<size_t>(index)]
                                                       : std::vector<FakeReply>();
    };
}

FakeBmc::~FakeBmc() {
    stop();
}

bool FakeBmc::start(const char* address, Responder responder) {
    socket_ = openBound(address, BMC_PORT);
    otherSocket_ = openBound(address, 0);
    if (socket_ < 0 || otherSocket_ < 0) {
        stop();
        return false;
    }
    responder_ = std::move(responder);
    stopping_ = false;
    thread_ = std::thread([this] { run(); });
    return true;
}

void FakeBmc::stop() {
    stopping_ = true;
    if (thread_.joinable()) thread_.join();
    if (socket_ >= 0) close(socket_);
    if (otherSocket_ >= 0) close(otherSocket_);
    socket_ = otherSocket_ = -1;
}

std::vector<Bytes> FakeBmc::requests() {
    std::lock_guard<std::mutex> guard(lock_);
    return requests_;
}

bool FakeBmc::waitForRequests(size_t count, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
        {
            std::lock_guard<std::mutex> guard(lock_);
            if (requests_.size() >= count) return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return false;
}

void FakeBmc::sendToClient(const Bytes& bytes, bool fromOtherSender) {
    std::lock_guard<std::mutex> guard(lock_);
    if (!haveClient_) return;
    sockaddr_in to;
    std::memset(&to, 0, sizeof to);
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = clientAddress_;
    to.sin_port = htons(clientPort_);
    sendto(fromOtherSender ? otherSocket_ : socket_, bytes.data(), bytes.size(), 0,
           reinterpret_cast<sockaddr*>(&to), sizeof to);
}

void FakeBmc::run() {
    // Bounded by stop(): polls in 10 ms slices.
    while (!stopping_) {
        pollfd entry = {socket_, POLLIN, 0};
        if (poll(&entry, 1, 10) <= 0) continue;
        uint8_t buffer[2048];
        sockaddr_in from;
        socklen_t fromLength = sizeof from;
        const ssize_t n = recvfrom(socket_, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (n < 0) continue;
        Bytes request(buffer, buffer + n);
        int index;
        {
            std::lock_guard<std::mutex> guard(lock_);
            index = static_cast<int>(requests_.size());
            requests_.push_back(request);
            haveClient_ = true;
            clientAddress_ = from.sin_addr.s_addr;
            clientPort_ = ntohs(from.sin_port);
        }
        for (const FakeReply& reply : responder_(request, index)) {
            sendToClient(reply.bytes, reply.fromOtherSender);
        }
    }
}

Bytes challengeReply(const Bytes& temporaryId, const Bytes& challenge, uint8_t code) {
    Bytes b = {0x06, 0x00, 0xFF, 0x07, 0x00, 0, 0, 0, 0, 0, 0, 0, 0};
    b.push_back(0);  // length, set below
    b.insert(b.end(), {0x81, 0x1C});
    b.push_back(checksumOf(b, 14, 15));
    b.insert(b.end(), {0x20, 0x00, 0x39, code});
    b.insert(b.end(), temporaryId.begin(), temporaryId.end());
    b.insert(b.end(), challenge.begin(), challenge.end());
    b.push_back(checksumOf(b, 17, b.size() - 1));
    b[13] = static_cast<uint8_t>(b.size() - 14);
    return b;
}

Bytes authenticatedReply(uint8_t netFn, uint8_t command, uint8_t code, const Bytes& data, bool badChecksum) {
    Bytes b = {0x06, 0x00, 0xFF, 0x07, 0x04};
    putLe32(b, 0x11223344);                           // BMC's outbound sequence
    b.insert(b.end(), {0xA1, 0xB2, 0xC3, 0xD4});      // session ID
    for (int i = 0; i < 16; ++i) b.push_back('P');    // auth code
    b.push_back(0);                                   // length, set below
    b.insert(b.end(), {0x81, static_cast<uint8_t>(netFn | 0x04)});
    b.push_back(checksumOf(b, 30, 31));
    b.insert(b.end(), {0x20, 0x00, command, code});
    b.insert(b.end(), data.begin(), data.end());
    uint8_t sum = checksumOf(b, 33, b.size() - 1);
    b.push_back(badChecksum ? static_cast<uint8_t>(sum ^ 0x5A) : sum);
    b[29] = static_cast<uint8_t>(b.size() - 30);
    return b;
}

Bytes activateReply(const Bytes& sessionId, uint32_t inboundSequence, uint8_t code, bool badChecksum) {
    Bytes data = {0x04};
    data.insert(data.end(), sessionId.begin(), sessionId.end());
    putLe32(data, inboundSequence);
    data.push_back(0x04);
    return authenticatedReply(0x18, 0x3A, code, data, badChecksum);
}

Bytes privilegeReply(uint8_t code, bool badChecksum) {
    return authenticatedReply(0x18, 0x3B, code, {0x04}, badChecksum);
}

Bytes selEntryReply(uint16_t nextId, const Bytes& record, uint8_t code, bool badChecksum) {
    Bytes data = {static_cast<uint8_t>(nextId), static_cast<uint8_t>(nextId >> 8)};
    data.insert(data.end(), record.begin(), record.end());
    return authenticatedReply(0x28, 0x43, code, data, badChecksum);
}

Bytes errorReply(uint8_t netFn, uint8_t command, uint8_t code) {
    return authenticatedReply(netFn, command, code, {});
}

Bytes reserveReply(const Bytes& reservationId, uint8_t code) {
    return authenticatedReply(0x28, 0x42, code, reservationId);
}

Bytes clearReply(uint8_t progress, uint8_t code) {
    return authenticatedReply(0x28, 0x47, code, {progress});
}

Bytes systemEventRecord(uint16_t id, uint32_t stamp, uint8_t sensorType, uint8_t sensorNumber) {
    Bytes r = {static_cast<uint8_t>(id), static_cast<uint8_t>(id >> 8), 0x02};
    putLe32(r, stamp);
    r.insert(r.end(), {0x20, 0x00, 0x04, sensorType, sensorNumber, 0x6F, 0x01, 0xFF, 0xFF});
    return r;
}
