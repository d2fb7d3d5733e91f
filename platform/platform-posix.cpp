// POSIX side of the platform layer: time, POSIX threads, and hosted
// windows kept in memory (the sockets are in socket-posix.cpp). A hosted window runs its handler on the thread
// that calls into it, under the window's own lock, so calls from the worker
// and from the front end are handled one at a time and in order.
#include "platform.h"

#include <errno.h>
#include <pthread.h>
#include <time.h>
#include <unistd.h>

#include <cstring>

namespace {

// ---- Hosted windows ----

const int MAX_WINDOWS = 16;
const int MAX_ITEMS = 32;
const int ITEM_TEXT_CAPACITY = 512;

struct Item {
    int id;
    bool enabled;
    char text[ITEM_TEXT_CAPACITY];
};

struct HostedWindow {
    bool inUse;
    const WindowHandler* handler;
    int itemCount;
    Item items[MAX_ITEMS];
};

pthread_mutex_t g_windowsLock;
pthread_once_t g_windowsLockOnce = PTHREAD_ONCE_INIT;
HostedWindow g_windows[MAX_WINDOWS];

void initWindowsLock() {
    // Recursive: a handler may call back into its own window.
    pthread_mutexattr_t attributes;
    pthread_mutexattr_init(&attributes);
    pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutex_init(&g_windowsLock, &attributes);
    pthread_mutexattr_destroy(&attributes);
}

void lockWindows() {
    pthread_once(&g_windowsLockOnce, initWindowsLock);
    pthread_mutex_lock(&g_windowsLock);
}

void unlockWindows() {
    pthread_mutex_unlock(&g_windowsLock);
}

// The window for a handle, or null; call with the lock held.
HostedWindow* findWindow(uint32_t window) {
    if (window == 0 || window > MAX_WINDOWS) {
        return nullptr;
    }
    HostedWindow* w = &g_windows[window - 1];
    return w->inUse ? w : nullptr;
}

// The item id of a window, created empty and enabled when new; null when the
// window has no room left.
Item* findItem(HostedWindow* w, int id, bool create) {
    for (int i = 0; i < w->itemCount; ++i) {
        if (w->items[i].id == id) {
            return &w->items[i];
        }
    }
    if (!create || w->itemCount == MAX_ITEMS) {
        return nullptr;
    }
    Item* item = &w->items[w->itemCount++];
    item->id = id;
    item->enabled = true;
    item->text[0] = '\0';
    return item;
}

void copyText(char* destination, const char* source, int capacity) {
    int i = 0;
    for (; i < capacity - 1 && source[i] != '\0'; ++i) {
        destination[i] = source[i];
    }
    destination[i] = '\0';
}

struct ThreadStart {
    void (*entry)(void*);
    void* argument;
};

void* threadTrampoline(void* raw) {
    ThreadStart start = *static_cast<ThreadStart*>(raw);
    delete static_cast<ThreadStart*>(raw);
    start.entry(start.argument);
    return nullptr;
}

}  // namespace

// ---- Time and threads ----

void sleepMilliseconds(int milliseconds) {
    timespec remaining;
    remaining.tv_sec = milliseconds / 1000;
    remaining.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
    while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
    }
}

uint64_t monotonicMilliseconds() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
}

bool threadStart(void (*entry)(void*), void* argument) {
    ThreadStart* start = new ThreadStart{entry, argument};
    pthread_t thread;
    if (pthread_create(&thread, nullptr, threadTrampoline, start) != 0) {
        delete start;
        return false;
    }
    pthread_detach(thread);
    return true;
}

// ---- Window ----

void dialogSetItemText(uint32_t window, int id, const char* text) {
    lockWindows();
    HostedWindow* w = findWindow(window);
    Item* item = w != nullptr ? findItem(w, id, true) : nullptr;
    if (item != nullptr) {
        copyText(item->text, text, ITEM_TEXT_CAPACITY);
        if (w->handler->itemTextChanged != nullptr) {
            w->handler->itemTextChanged(w->handler->context, window, id, item->text);
        }
    }
    unlockWindows();
}

void windowSendMessage(uint32_t window, uint32_t code, uintptr_t wParam) {
    lockWindows();
    HostedWindow* w = findWindow(window);
    if (w != nullptr && w->handler->message != nullptr) {
        w->handler->message(w->handler->context, window, code, wParam);
    }
    unlockWindows();
}

void windowNotify(uint32_t window, uint32_t code) {
    windowSendMessage(window, code, 0);
}

int dialogGetItemTextLength(uint32_t window, int id) {
    lockWindows();
    HostedWindow* w = findWindow(window);
    Item* item = w != nullptr ? findItem(w, id, false) : nullptr;
    const int length = item != nullptr ? static_cast<int>(std::strlen(item->text)) : 0;
    unlockWindows();
    return length;
}

int dialogGetItemText(uint32_t window, int id, char* buffer, int capacity) {
    if (capacity <= 0) {
        return 0;
    }
    lockWindows();
    HostedWindow* w = findWindow(window);
    Item* item = w != nullptr ? findItem(w, id, false) : nullptr;
    copyText(buffer, item != nullptr ? item->text : "", capacity);
    unlockWindows();
    return static_cast<int>(std::strlen(buffer));
}

void dialogEnableItem(uint32_t window, int id, bool enabled) {
    lockWindows();
    HostedWindow* w = findWindow(window);
    Item* item = w != nullptr ? findItem(w, id, true) : nullptr;
    if (item != nullptr) {
        item->enabled = enabled;
    }
    unlockWindows();
}

bool dialogIsItemEnabled(uint32_t window, int id) {
    lockWindows();
    HostedWindow* w = findWindow(window);
    Item* item = w != nullptr ? findItem(w, id, false) : nullptr;
    const bool enabled = item != nullptr && item->enabled;
    unlockWindows();
    return enabled;
}

bool dialogAskSaveFileName(uint32_t window, const char* /*filter*/, const char* /*defaultExtension*/,
                           char* path, int capacity) {
    lockWindows();
    HostedWindow* w = findWindow(window);
    const bool confirmed = w != nullptr && w->handler->askSaveFileName != nullptr &&
                           w->handler->askSaveFileName(w->handler->context, window, path, capacity);
    unlockWindows();
    return confirmed;
}

uint32_t hostedWindowCreate(const WindowHandler* handler) {
    lockWindows();
    uint32_t handle = 0;
    for (int i = 0; i < MAX_WINDOWS; ++i) {
        if (!g_windows[i].inUse) {
            g_windows[i].inUse = true;
            g_windows[i].handler = handler;
            g_windows[i].itemCount = 0;
            handle = static_cast<uint32_t>(i + 1);
            break;
        }
    }
    unlockWindows();
    return handle;
}

void hostedWindowPump(uint32_t /*window*/, int milliseconds) {
    // Handlers run on the calling threads here, so there is nothing to pump.
    sleepMilliseconds(milliseconds);
}

void hostedWindowDestroy(uint32_t window) {
    lockWindows();
    HostedWindow* w = findWindow(window);
    if (w != nullptr) {
        w->inUse = false;
    }
    unlockWindows();
}
