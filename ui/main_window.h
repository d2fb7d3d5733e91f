// The main window's behaviour, apart from the operating system: its state,
// the checks of the logon fields, the Save As question, and its reaction to
// every message it handles. The Windows entry (winmain.cpp) feeds it the
// window procedure's messages; tests feed it a hosted window's.
#pragma once

#include <atomic>
#include <cstdint>

#include "session.h"

enum class UiState : uint32_t {
    Idle = 0,
    LoggingOn = 1,
    Connected = 2,
};

// Window messages the window reacts to, with their Windows values.
const uint32_t MESSAGE_DESTROY = 0x0002;
const uint32_t MESSAGE_COMMAND = 0x0111;

// The window's state. Written on the window's thread; atomic because a
// hosted window runs its handler on the thread that delivers the message.
extern std::atomic<UiState> g_uiState;
static_assert(sizeof(std::atomic<UiState>) == 4, "a 32-bit word");

// The control block of the one session at a time; its address is the
// worker thread's argument.
extern SessionControl g_sessionControl;

// Copies the address, user name and password fields into g_address,
// g_userName and g_password. At the first field whose length is out of
// range (address 1..15, the others 1..16 characters) it stops, leaving the
// later globals as they were, shows "Invalid IP, User Name, or Password"
// and returns false.
bool readLogonFields(uint32_t window);

// Asks for the report file with the Save As dialog, pre-filled with and
// answered into g_reportPath; true when the user confirmed a name.
bool chooseReportFile(uint32_t window);

// Handles one message of the main window: MESSAGE_COMMAND (the Logon, Dump
// SEL and Clear SEL buttons, by the low word of wParam), the worker's
// NOTIFY_* codes, and MESSAGE_DESTROY (nothing to do here; the caller ends
// its message loop). Returns true for these, which the window procedure
// answers with 0; false for any other message.
bool handleMainWindowMessage(uint32_t window, uint32_t message, uintptr_t wParam);
