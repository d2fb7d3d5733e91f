// The operating-system services the rest of the program uses, and nothing
// more: UDP sockets, a sleep, a thread, and the calls into the window.
//
// Two sides implement this header: platform-win32.cpp (Winsock, USER32,
// COMDLG32) and platform-posix.cpp (BSD sockets, threads, and an in-memory
// window for the command-line front end and tests). The build picks one.
// Window handles are 32-bit words: a window handle on Windows (whose
// significant bits fit in 32), a hosted window's number elsewhere.
#pragma once

#include <cstdint>
#include <cstdio>

// ---- Socket library and UDP sockets ------------------------------------------

typedef intptr_t UdpSocket;
const UdpSocket INVALID_UDP_SOCKET = -1;

// Result of udpReceiveFrom when no datagram is waiting on a non-blocking socket.
const int UDP_NONE_WAITING = -2;

// Starts the socket library (Winsock 2.2, else 1.1); true on success.
bool socketLibraryStart();
// Undoes one socketLibraryStart.
void socketLibraryCleanup();

// Parses a dotted IPv4 address; returns it in network byte order, or
// 0xFFFFFFFF (the all-ones address) for a text that does not parse.
uint32_t parseIpv4Address(const char* text);

// Opens an IPv4 UDP socket; INVALID_UDP_SOCKET on failure.
UdpSocket udpOpen();
// Sends one whole datagram to address (network order) and port (host
// order); returns the bytes sent, or -1 on error.
int udpSendTo(UdpSocket socket, const uint8_t* data, int length, uint32_t address, uint16_t port);
// Switches the socket to non-blocking receives; true on success.
bool udpSetNonBlocking(UdpSocket socket);
// Receives one datagram into buffer, truncated to capacity. Returns its
// length and fills the sender's address (network order) and port (host
// order); UDP_NONE_WAITING when nothing is waiting; -1 on any other error.
int udpReceiveFrom(UdpSocket socket, uint8_t* buffer, int capacity, uint32_t* fromAddress,
                   uint16_t* fromPort);
// Sleeps until a datagram or an error is waiting on the socket, or at most
// milliseconds; returns true when something is waiting.
bool udpWaitReadable(UdpSocket socket, int milliseconds);
// Closes the socket.
void udpClose(UdpSocket socket);

// ---- Time and threads -------------------------------------------------------

void sleepMilliseconds(int milliseconds);
// Milliseconds from an arbitrary fixed point; only differences mean anything.
uint64_t monotonicMilliseconds();
// Starts entry(argument) on a new detached thread with the default stack;
// false when no thread could be started.
bool threadStart(void (*entry)(void*), void* argument);

// ---- Window -------------------------------------------------------------------

// Control identifiers of the main window that the worker writes to.
const int IDC_STATUS = 1010;

// Sets the text of control id of the window; returns after the window has
// taken it. Safe from any thread.
void dialogSetItemText(uint32_t window, int id, const char* text);
// Delivers message code (wParam and lParam 0) to the window and returns
// after the window has handled it. Safe from any thread.
void windowNotify(uint32_t window, uint32_t code);
// The same with a wParam, as a control sends WM_COMMAND to its window.
void windowSendMessage(uint32_t window, uint32_t code, uintptr_t wParam);

// Length of the text of control id, and the text itself (at most
// capacity - 1 characters, NUL-terminated; returns the characters copied).
int dialogGetItemTextLength(uint32_t window, int id);
int dialogGetItemText(uint32_t window, int id, char* buffer, int capacity);
// Enables or disables control id, and tells whether it is enabled.
void dialogEnableItem(uint32_t window, int id, bool enabled);
bool dialogIsItemEnabled(uint32_t window, int id);

// Shows the Save As dialog owned by window: filter is a list of
// NUL-terminated description/pattern pairs ending in an empty string, the
// first pair selected; path (capacity bytes) pre-fills the file name and
// receives the chosen one; defaultExtension is appended to a name typed
// without one; an existing file is overwritten only after the user agrees.
// Returns true when the user confirmed a name.
bool dialogAskSaveFileName(uint32_t window, const char* filter, const char* defaultExtension,
                           char* path, int capacity);

// ---- Hosted windows -----------------------------------------------------------

// A window the program makes without a dialog template, for the
// command-line front end and for tests. It holds the texts and enabled
// states of its controls. Its handler sees every change of a control's text
// and every message; the calls run one at a time, each before the call that
// caused it returns.
struct WindowHandler {
    void* context;
    // A control's text was set (may be null).
    void (*itemTextChanged)(void* context, uint32_t window, int id, const char* text);
    // A message was delivered (may be null).
    void (*message)(void* context, uint32_t window, uint32_t code, uintptr_t wParam);
    // The Save As dialog was asked for: fill path, return true to confirm
    // (may be null: then the dialog is cancelled).
    bool (*askSaveFileName)(void* context, uint32_t window, char* path, int capacity);
};

// Creates a hosted window; returns its handle, or 0 on failure. The handler
// must outlive the window.
uint32_t hostedWindowCreate(const WindowHandler* handler);
// Handles the window's pending work for up to milliseconds on the calling
// thread, the one that created the window.
void hostedWindowPump(uint32_t window, int milliseconds);
// Destroys the window; later calls with its handle do nothing.
void hostedWindowDestroy(uint32_t window);

// ---- Files ------------------------------------------------------------------

// Cuts an open file back to its first length bytes; true on success.
bool truncateFile(std::FILE* file, long length);

// ---- Console ------------------------------------------------------------------

// Writes prompt to the terminal and reads one line into buffer (at most
// capacity - 1 characters, NUL-terminated, line end removed) without
// echoing it. Returns false when there is no terminal or nothing was read.
bool readSecretLine(const char* prompt, char* buffer, int capacity);
