// SEL clear: reserve the SEL, start the erase, poll until it completes.
#include "worker.h"

bool runSelClear(Worker& w) {
    w.control->clearRequested.store(0);
    showStatus(w, "Sending Clear SEL Request");

    int length = buildReserveSel(w.txBuf, nextHeader(w));
    if (!sendRequest(w, length)) {
        return failSession(w, NOTIFY_DISCONNECTED);
    }
    if (!awaitReply(w, CHECK_FULL)) {
        return failSession(w, NOTIFY_DISCONNECTED);
    }
    uint8_t reservationId[RESERVATION_ID_LENGTH];
    reservationId[0] = w.rxBuf[RESERVATION_ID_OFFSET];
    reservationId[1] = w.rxBuf[RESERVATION_ID_OFFSET + 1];

    // The first Clear SEL starts the erase, the following ones ask for its
    // progress under the same reservation.
    uint8_t action = ERASE_START;
    for (;;) {
        length = buildClearSel(w.txBuf, nextHeader(w), reservationId, action);
        if (!sendRequest(w, length)) {
            return failSession(w, NOTIFY_DISCONNECTED);
        }
        if (!awaitReply(w, CHECK_FULL)) {
            return failSession(w, NOTIFY_DISCONNECTED);
        }
        sleepMilliseconds(g_loopPaceMilliseconds.load());
        if (isEraseComplete(w.rxBuf) || w.control->stopRequested.load() != 0) {
            break;
        }
        action = ERASE_GET_STATUS;
    }
    if (w.control->stopRequested.load() == 0) {
        notifyWindow(w, NOTIFY_SEL_CLEARED);
    }
    return true;
}
