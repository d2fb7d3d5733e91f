// POSIX side of the platform layer's UDP sockets: BSD sockets.
#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

#include "platform.h"

bool socketLibraryStart() {
    return true;
}

void socketLibraryCleanup() {}

uint32_t parseIpv4Address(const char* text) {
    in_addr parsed;
    if (inet_pton(AF_INET, text, &parsed) != 1) {
        return 0xFFFFFFFFu;
    }
    return parsed.s_addr;
}

UdpSocket udpOpen() {
    const int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    return s < 0 ? INVALID_UDP_SOCKET : static_cast<UdpSocket>(s);
}

int udpSendTo(UdpSocket s, const uint8_t* data, int length, uint32_t address, uint16_t port) {
    sockaddr_in destination;
    std::memset(&destination, 0, sizeof destination);
    destination.sin_family = AF_INET;
    destination.sin_port = htons(port);
    destination.sin_addr.s_addr = address;
    ssize_t sent;
    do {
        sent = sendto(static_cast<int>(s), data, static_cast<size_t>(length), MSG_NOSIGNAL,
                      reinterpret_cast<const sockaddr*>(&destination), sizeof destination);
    } while (sent < 0 && errno == EINTR);
    return sent == length ? length : -1;
}

bool udpSetNonBlocking(UdpSocket s) {
    const int flags = fcntl(static_cast<int>(s), F_GETFL, 0);
    return flags >= 0 && fcntl(static_cast<int>(s), F_SETFL, flags | O_NONBLOCK) == 0;
}

int udpReceiveFrom(UdpSocket s, uint8_t* buffer, int capacity, uint32_t* fromAddress,
                   uint16_t* fromPort) {
    sockaddr_in sender;
    socklen_t senderLength = sizeof sender;
    std::memset(&sender, 0, sizeof sender);
    ssize_t received;
    do {
        received = recvfrom(static_cast<int>(s), buffer, static_cast<size_t>(capacity), 0,
                            reinterpret_cast<sockaddr*>(&sender), &senderLength);
    } while (received < 0 && errno == EINTR);
    if (received < 0) {
        return (errno == EAGAIN || errno == EWOULDBLOCK) ? UDP_NONE_WAITING : -1;
    }
    *fromAddress = sender.sin_addr.s_addr;
    *fromPort = ntohs(sender.sin_port);
    return static_cast<int>(received);
}

bool udpWaitReadable(UdpSocket s, int milliseconds) {
    pollfd entry;
    entry.fd = static_cast<int>(s);
    entry.events = POLLIN;
    entry.revents = 0;
    return poll(&entry, 1, milliseconds) > 0;
}

void udpClose(UdpSocket s) {
    close(static_cast<int>(s));
}

