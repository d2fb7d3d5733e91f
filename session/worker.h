// The worker's own state and the steps of a session, shared by the files
// of the worker. Every step returns true to go on; false means the session
// has ended and failSession has released everything.
#pragma once

#include <cstdint>
#include <cstdio>

#include "ipmi_lan.h"
#include "platform.h"
#include "session.h"

struct Worker {
    SessionControl* control;
    UdpSocket socket;
    uint32_t bmcAddress;  // network order
    uint16_t bmcPort;
    uint8_t txBuf[TX_BUFFER_SIZE];
    uint8_t rxBuf[RX_BUFFER_SIZE];
    uint8_t scratch[RX_BUFFER_SIZE];  // a datagram before its sender is known
    // Session header for every authenticated request: the sequence number
    // is written per request, the session ID and password stay.
    SessionHeader header;
    uint8_t savedChallenge[CHALLENGE_LENGTH];
    uint32_t sessionSeq;
    uint32_t idleTicks;
    FILE* reportFile;
    // Record IDs asked for and entries written during one dump.
    uint8_t askedIds[65536 / 8];
    uint8_t writtenIds[65536 / 8];
};

// Ends the session: notifies the window with code, closes the socket,
// cleans up the socket library, closes an open report file. Returns false
// so that callers can return its result.
bool failSession(Worker& w, uint32_t code);

// Waits for the next datagram from the BMC and leaves it in rxBuf. Returns
// its length, or -1 on a socket error or when a stop was requested while
// nothing was waiting. Datagrams from other senders are dropped.
int waitForReply(Worker& w);

// Waits for the next reply and checks it whole (its announced length
// received, then checkReply in mode); false on any failure.
bool awaitReply(Worker& w, int mode);

// Sends the len bytes of txBuf to the BMC; true on success.
bool sendRequest(Worker& w, int length);

// Writes a status text into the window's status line.
void showStatus(Worker& w, const char* text);
// Sends a notification and returns after the window has handled it.
void notifyWindow(Worker& w, uint32_t code);

// Increments sessionSeq and returns the header for the next request.
const SessionHeader& nextHeader(Worker& w);

bool runLogon(Worker& w);
// Runs passes until stop or failure; always ends the session.
void runSessionLoop(Worker& w);
bool refreshSession(Worker& w);
bool runSelDump(Worker& w);
bool runSelClear(Worker& w);
