// Test support for running the real worker against a fake BMC: a hosted
// window that records every status text and notification in order, and a
// runner that starts the worker thread and waits for it to end.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "fake_bmc.h"
#include "platform.h"
#include "session.h"

// Name of a notification code, as recorded: "CONNECTED", "SEL_SAVED", ...
std::string notificationName(uint32_t code);

class RecordingWindow {
public:
    RecordingWindow();
    ~RecordingWindow();
    uint32_t handle() const { return handle_; }
    // Status texts as "text", notifications as "<NAME>", in order.
    std::vector<std::string> events();
    // Waits up to timeoutMs for an event equal to text; true when seen.
    bool waitFor(const std::string& text, int timeoutMs);
    // Runs hook on the worker's thread whenever an event is recorded, before
    // the worker goes on (as a window's reaction would).
    std::function<void(const std::string&)> onEvent;

private:
    static void itemTextChanged(void* context, uint32_t window, int id, const char* text);
    static void message(void* context, uint32_t window, uint32_t code, uintptr_t wParam);
    void record(const std::string& event);
    WindowHandler handler_;
    uint32_t handle_;
    std::mutex lock_;
    std::condition_variable changed_;
    std::vector<std::string> events_;
};

// Runs one worker for the given logon fields and waits for it.
class WorkerRun {
public:
    explicit WorkerRun(RecordingWindow& window);
    ~WorkerRun();
    SessionControl control;
    // Sets the globals and starts the worker thread.
    void start(const char* address, const char* user = "USERID", const char* password = "KEBRU7NY");
    // Waits up to timeoutMs for the worker thread to return.
    bool waitEnded(int timeoutMs);

private:
    static void entry(void* self);
    RecordingWindow& window_;
    std::atomic<bool> started_{false};
    std::atomic<bool> ended_{false};
};
