// Worker thread entry, the common exchange steps, and the logon.
#include "worker.h"

#include <cstring>

char g_address[LOGON_FIELD_SIZE];
char g_userName[LOGON_FIELD_SIZE];
char g_password[LOGON_FIELD_SIZE];
char g_reportPath[REPORT_PATH_SIZE];
std::atomic<uint32_t> g_repliesReceived{0};
std::atomic<int> g_loopPaceMilliseconds{200};

namespace {

// Longest sleep between two polls of a reply wait: a stop request is seen
// within it, a datagram ends the sleep at once.
const int WAIT_SLICE_MILLISECONDS = 20;

}  // namespace

void showStatus(Worker& w, const char* text) {
    dialogSetItemText(w.control->window.load(), IDC_STATUS, text);
}

void notifyWindow(Worker& w, uint32_t code) {
    windowNotify(w.control->window.load(), code);
}

bool failSession(Worker& w, uint32_t code) {
    notifyWindow(w, code);
    udpClose(w.socket);
    w.socket = INVALID_UDP_SOCKET;
    socketLibraryCleanup();
    if (w.reportFile != nullptr) {
        std::fclose(w.reportFile);
        w.reportFile = nullptr;
    }
    return false;
}

bool sendRequest(Worker& w, int length) {
    return udpSendTo(w.socket, w.txBuf, length, w.bmcAddress, w.bmcPort) == length;
}

int waitForReply(Worker& w) {
    for (;;) {
        uint32_t fromAddress = 0;
        uint16_t fromPort = 0;
        const int received = udpReceiveFrom(w.socket, w.scratch, RX_BUFFER_SIZE, &fromAddress, &fromPort);
        if (received >= 0) {
            if (fromAddress == w.bmcAddress && fromPort == w.bmcPort) {
                // Bytes past the datagram keep what earlier replies left.
                std::memcpy(w.rxBuf, w.scratch, static_cast<size_t>(received));
                g_repliesReceived.fetch_add(1);
                return received;
            }
            continue;  // not from the BMC: drop it and keep waiting
        }
        if (received != UDP_NONE_WAITING || w.control->stopRequested.load() != 0) {
            return -1;
        }
        udpWaitReadable(w.socket, WAIT_SLICE_MILLISECONDS);
    }
}

bool awaitReply(Worker& w, int mode) {
    const int received = waitForReply(w);
    return received >= 0 && replyLengthHolds(w.rxBuf, received) &&
           checkReply(w.rxBuf, REPLY_LENGTH_OFFSET, mode);
}

const SessionHeader& nextHeader(Worker& w) {
    w.header.sequence = ++w.sessionSeq;
    return w.header;
}

bool runLogon(Worker& w) {
    // Get Session Challenge: the reply's temporary session ID and challenge
    // are taken as they stand.
    int length = buildGetSessionChallenge(w.txBuf, g_userName);
    showStatus(w, "Get Session Challenge");
    if (!sendRequest(w, length)) {
        return failSession(w, NOTIFY_LOGON_ABORTED);
    }
    udpSetNonBlocking(w.socket);
    if (waitForReply(w) < 0) {
        return failSession(w, NOTIFY_LOGON_ABORTED);
    }

    // Activate Session with the challenge, sequence number 0.
    w.header.sequence = 0;
    std::memcpy(w.header.sessionId, w.rxBuf + CHALLENGE_SESSION_ID_OFFSET, SESSION_ID_LENGTH);
    copyTextField16(w.header.authCode, g_password);
    std::memcpy(w.savedChallenge, w.rxBuf + CHALLENGE_STRING_OFFSET, CHALLENGE_LENGTH);
    length = buildActivateSession(w.txBuf, w.header, w.savedChallenge);
    showStatus(w, "Activate Session Request");
    if (!sendRequest(w, length)) {
        return failSession(w, NOTIFY_LOGON_ABORTED);
    }
    if (!awaitReply(w, CHECK_FULL)) {
        return failSession(w, NOTIFY_LOGON_ABORTED);
    }

    // Set Session Privilege Level in the new session, carrying the BMC's
    // initial inbound sequence number; later requests count on from it.
    std::memcpy(w.header.sessionId, w.rxBuf + ACTIVATE_SESSION_ID_OFFSET, SESSION_ID_LENGTH);
    w.sessionSeq = readLe32(w.rxBuf + ACTIVATE_INBOUND_SEQUENCE_OFFSET);
    w.header.sequence = w.sessionSeq;
    length = buildSetSessionPrivilege(w.txBuf, w.header);
    showStatus(w, "Set Privilege Level");
    if (!sendRequest(w, length)) {
        return failSession(w, NOTIFY_LOGON_ABORTED);
    }
    if (!awaitReply(w, CHECK_FULL)) {
        return failSession(w, NOTIFY_LOGON_ABORTED);
    }

    notifyWindow(w, NOTIFY_CONNECTED);
    w.idleTicks = 0;
    return true;
}

void sessionWorker(void* control) {
    // Some 18 KB of buffers: on the heap, so that any thread stack will do.
    Worker* worker = new Worker;
    Worker& w = *worker;
    std::memset(&w, 0, sizeof w);
    w.control = static_cast<SessionControl*>(control);
    w.socket = INVALID_UDP_SOCKET;
    w.reportFile = nullptr;
    // A Clear SEL pressed during an earlier session must not erase this
    // BMC's log; a pending dump request is kept on purpose.
    w.control->clearRequested.store(0);

    socketLibraryStart();
    w.socket = udpOpen();
    if (w.socket == INVALID_UDP_SOCKET) {
        notifyWindow(w, NOTIFY_LOGON_ABORTED);
        socketLibraryCleanup();
    } else {
        w.bmcAddress = parseIpv4Address(g_address);
        w.bmcPort = IPMI_LAN_PORT;
        if (runLogon(w)) {
            runSessionLoop(w);
        }
    }
    delete worker;
}
