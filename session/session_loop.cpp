// The session loop: a paced pass that serves dump and clear requests and
// re-activates the session every REFRESH_PASSES passes.
#include <cstring>

#include "worker.h"

void runSessionLoop(Worker& w) {
    while (w.control->stopRequested.load() == 0) {
        sleepMilliseconds(g_loopPaceMilliseconds.load());
        ++w.idleTicks;
        if (w.control->dumpRequested.load() != 0 && !runSelDump(w)) {
            return;
        }
        if (w.control->clearRequested.load() != 0 && !runSelClear(w)) {
            return;
        }
        if (w.idleTicks == REFRESH_PASSES && !refreshSession(w)) {
            return;
        }
    }
    failSession(w, NOTIFY_DISCONNECTED);
}

bool refreshSession(Worker& w) {
    w.idleTicks = 0;
    showStatus(w, "Session Timed Out");
    // Same session ID as the logon's; the challenge kept from the logon.
    const int length = buildActivateSession(w.txBuf, nextHeader(w), w.savedChallenge);
    if (!sendRequest(w, length)) {
        return failSession(w, NOTIFY_DISCONNECTED);
    }
    if (!awaitReply(w, CHECK_FULL)) {
        return failSession(w, NOTIFY_DISCONNECTED);
    }
    showStatus(w, "Connected");
    // The next request carries exactly the BMC's new initial inbound number.
    w.sessionSeq = readLe32(w.rxBuf + ACTIVATE_INBOUND_SEQUENCE_OFFSET) - 1;
    return true;
}
