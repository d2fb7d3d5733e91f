// Session worker: one thread per session that owns the UDP socket, logs on
// to the BMC, keeps the session alive, and dumps or clears the System Event
// Log on request.
//
// The window drives a running worker only through SessionControl and the
// logon and report globals below; the worker answers with status texts
// (control IDC_STATUS of the window) and the NOTIFY_* messages, each handled
// by the window before the worker goes on. A worker ends after it has sent
// NOTIFY_LOGON_ABORTED or NOTIFY_DISCONNECTED; it releases everything it
// holds in one place before that.
#pragma once

#include <atomic>
#include <cstdint>

// Control block shared by the window and one worker at a time. Each word is
// written whole and read afresh at every look.
struct SessionControl {
    std::atomic<uint32_t> window;          // window handle: target of texts and notifications
    std::atomic<uint32_t> stopRequested;   // Abort or Disconnect pressed
    std::atomic<uint32_t> dumpRequested;   // write the SEL to g_reportPath
    std::atomic<uint32_t> clearRequested;  // erase the SEL
};

// Notifications sent to the window (WM_USER + n).
const uint32_t NOTIFY_CONNECTED = 0x400;
const uint32_t NOTIFY_LOGON_ABORTED = 0x401;
const uint32_t NOTIFY_DISCONNECTED = 0x402;
const uint32_t NOTIFY_SEL_SAVED = 0x403;
const uint32_t NOTIFY_SEL_EMPTY = 0x404;
const uint32_t NOTIFY_SEL_CLEARED = 0x405;
// The report file could not be opened or written; the status line already
// says so and the session goes on, so the SEL buttons come back.
const uint32_t NOTIFY_REPORT_FILE_ERROR = 0x406;

const int LOGON_FIELD_SIZE = 17;
const int REPORT_PATH_SIZE = 260;

// Logon and report globals, written by the window before it starts a worker
// or raises dumpRequested, read by the worker.
extern char g_address[LOGON_FIELD_SIZE];
extern char g_userName[LOGON_FIELD_SIZE];
extern char g_password[LOGON_FIELD_SIZE];
extern char g_reportPath[REPORT_PATH_SIZE];

// Datagrams accepted from the BMC by any worker; a front end that watches
// for a silent BMC sees progress here.
extern std::atomic<uint32_t> g_repliesReceived;

// Length of one pass of the session loop and of the pause between erase
// status polls; 200 ms. Tests shorten it to reach the refresh quickly.
extern std::atomic<int> g_loopPaceMilliseconds;

// The refresh comes every this many passes of the session loop.
const uint32_t REFRESH_PASSES = 150;

// Thread entry: runs one session for the SessionControl at control. The
// caller has set window and cleared stopRequested. Returns when the worker
// has ended and released what it held.
void sessionWorker(void* control);
