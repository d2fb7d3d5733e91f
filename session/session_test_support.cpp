#include "session_test_support.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

std::string notificationName(uint32_t code) {
    switch (code) {
    case NOTIFY_CONNECTED: return "<CONNECTED>";
    case NOTIFY_LOGON_ABORTED: return "<LOGON_ABORTED>";
    case NOTIFY_DISCONNECTED: return "<DISCONNECTED>";
    case NOTIFY_SEL_SAVED: return "<SEL_SAVED>";
    case NOTIFY_SEL_EMPTY: return "<SEL_EMPTY>";
    case NOTIFY_SEL_CLEARED: return "<SEL_CLEARED>";
    case NOTIFY_REPORT_FILE_ERROR: return "<REPORT_FILE_ERROR>";
    default: {
        char text[32];
        std::snprintf(text, sizeof text, "<0x%X>", code);
        return text;
    }
    }
}

RecordingWindow::RecordingWindow() {
    handler_.context = this;
    handler_.itemTextChanged = &RecordingWindow::itemTextChanged;
    handler_.message = &RecordingWindow::message;
    handler_.askSaveFileName = nullptr;
    handle_ = hostedWindowCreate(&handler_);
}

RecordingWindow::~RecordingWindow() {
    hostedWindowDestroy(handle_);
}

void RecordingWindow::itemTextChanged(void* context, uint32_t, int id, const char* text) {
    if (id == IDC_STATUS) static_cast<RecordingWindow*>(context)->record(text);
}

void RecordingWindow::message(void* context, uint32_t, uint32_t code, uintptr_t) {
    static_cast<RecordingWindow*>(context)->record(notificationName(code));
}

void RecordingWindow::record(const std::string& event) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        events_.push_back(event);
    }
    changed_.notify_all();
    if (onEvent) onEvent(event);
}

std::vector<std::string> RecordingWindow::events() {
    std::lock_guard<std::mutex> guard(lock_);
    return events_;
}

bool RecordingWindow::waitFor(const std::string& text, int timeoutMs) {
    std::unique_lock<std::mutex> guard(lock_);
    return changed_.wait_for(guard, std::chrono::milliseconds(timeoutMs), [&] {
        for (const std::string& e : events_)
            if (e == text) return true;
        return false;
    });
}

WorkerRun::WorkerRun(RecordingWindow& window) : window_(window) {
    control.window = window.handle();
    control.stopRequested = 0;
    control.dumpRequested = 0;
    control.clearRequested = 0;
}

WorkerRun::~WorkerRun() {
    // Never leave a worker running past its test.
    if (started_ && !ended_) {
        control.stopRequested = 1;
        waitEnded(5000);
    }
}

void WorkerRun::start(const char* address, const char* user, const char* password) {
    std::memset(g_address, 0, sizeof g_address);
    std::memset(g_userName, 0, sizeof g_userName);
    std::memset(g_password, 0, sizeof g_password);
    std::strncpy(g_address, address, 16);
    std::strncpy(g_userName, user, 16);
    std::strncpy(g_password, password, 16);
    control.window = window_.handle();
    control.stopRequested = 0;
    started_ = true;
    ended_ = false;
    if (!threadStart(&WorkerRun::entry, this)) ended_ = true;
}

void WorkerRun::entry(void* self) {
    WorkerRun* run = static_cast<WorkerRun*>(self);
    sessionWorker(&run->control);
    run->ended_ = true;
}

bool WorkerRun::waitEnded(int timeoutMs) {
    for (int waited = 0; waited < timeoutMs; waited += 2) {
        if (ended_) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return ended_.load();
}
