// Win32 side of the platform layer: Winsock, USER32, COMDLG32 and the C
// runtime's threads. Window handles travel as 32-bit words: an HWND's
// significant bits fit in 32, so it is truncated on the way out and
// sign-extended on the way back, as 32-bit and 64-bit Windows both do.
//
// A hosted window here is a hidden top-level window of a private class with
// one child EDIT, the status line. Its handler runs on the window's thread,
// inside hostedWindowPump; calls from other threads wait until it has run.
#include "platform.h"

#include <winsock2.h>
#include <windows.h>
#include <commdlg.h>
#include <process.h>

#include <cstring>

// The full-size record, trailing reserved fields and extended flags included.
#if defined(_WIN64)
static_assert(sizeof(OPENFILENAMEA) == 152, "OPENFILENAMEA of 64-bit Windows");
#else
static_assert(sizeof(OPENFILENAMEA) == 88, "OPENFILENAMEA of 32-bit Windows");
#endif
static_assert(static_cast<intptr_t>(INVALID_SOCKET) == INVALID_UDP_SOCKET, "invalid socket value");

namespace {

HWND toHwnd(uint32_t window) {
    return reinterpret_cast<HWND>(static_cast<intptr_t>(static_cast<int32_t>(window)));
}

uint32_t fromHwnd(HWND window) {
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(window));
}

SOCKET toSocket(UdpSocket s) {
    return static_cast<SOCKET>(s);
}

// ---- Hosted windows ----

const char HOSTED_CLASS_NAME[] = "TavrelHostedWindow";
const int HOSTED_TEXT_CAPACITY = 512;
// Messages handed to the handler: WM_USER and the 63 after it.
const UINT HOSTED_MESSAGE_FIRST = WM_USER;
const UINT HOSTED_MESSAGE_LAST = WM_USER + 0x3F;

const WindowHandler* handlerOf(HWND window) {
    return reinterpret_cast<const WindowHandler*>(GetWindowLongPtrA(window, GWLP_USERDATA));
}

LRESULT CALLBACK hostedWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        const CREATESTRUCTA* create = reinterpret_cast<const CREATESTRUCTA*>(lParam);
        SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    const WindowHandler* handler = handlerOf(window);
    if (handler != nullptr) {
        if (message == WM_COMMAND && HIWORD(wParam) == EN_CHANGE && lParam != 0) {
            if (handler->itemTextChanged != nullptr) {
                char text[HOSTED_TEXT_CAPACITY];
                text[0] = '\0';
                GetWindowTextA(reinterpret_cast<HWND>(lParam), text, HOSTED_TEXT_CAPACITY);
                handler->itemTextChanged(handler->context, fromHwnd(window), LOWORD(wParam), text);
            }
            return 0;
        }
        if (message >= HOSTED_MESSAGE_FIRST && message <= HOSTED_MESSAGE_LAST) {
            if (handler->message != nullptr) {
                handler->message(handler->context, fromHwnd(window), message, wParam);
            }
            return 0;
        }
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

bool registerHostedClass(HINSTANCE instance) {
    WNDCLASSA existing;
    if (GetClassInfoA(instance, HOSTED_CLASS_NAME, &existing)) {
        return true;
    }
    WNDCLASSA windowClass;
    std::memset(&windowClass, 0, sizeof windowClass);
    windowClass.lpfnWndProc = hostedWindowProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = HOSTED_CLASS_NAME;
    return RegisterClassA(&windowClass) != 0;
}

}  // namespace

// ---- Sockets ----

bool socketLibraryStart() {
    WSADATA data;
    std::memset(&data, 0, sizeof data);
    if (WSAStartup(MAKEWORD(2, 2), &data) == 0) {
        if (data.wVersion == MAKEWORD(2, 2)) {
            return true;
        }
        WSACleanup();  // one start per cleanup: give back the one that did not fit
    }
    std::memset(&data, 0, sizeof data);
    return WSAStartup(MAKEWORD(1, 1), &data) == 0;
}

void socketLibraryCleanup() {
    WSACleanup();
}

uint32_t parseIpv4Address(const char* text) {
    // inet_addr: INADDR_NONE (all ones) for a text that does not parse.
    return static_cast<uint32_t>(inet_addr(text));
}

UdpSocket udpOpen() {
    const SOCKET s = socket(AF_INET, SOCK_DGRAM, 0);
    return s == INVALID_SOCKET ? INVALID_UDP_SOCKET : static_cast<UdpSocket>(s);
}

int udpSendTo(UdpSocket s, const uint8_t* data, int length, uint32_t address, uint16_t port) {
    sockaddr_in destination;
    std::memset(&destination, 0, sizeof destination);
    destination.sin_family = AF_INET;
    destination.sin_port = htons(port);
    destination.sin_addr.s_addr = address;
    const int sent = sendto(toSocket(s), reinterpret_cast<const char*>(data), length, 0,
                            reinterpret_cast<const sockaddr*>(&destination), sizeof destination);
    return sent == length ? length : -1;
}

bool udpSetNonBlocking(UdpSocket s) {
    u_long nonBlocking = 1;
    return ioctlsocket(toSocket(s), FIONBIO, &nonBlocking) == 0;
}

int udpReceiveFrom(UdpSocket s, uint8_t* buffer, int capacity, uint32_t* fromAddress,
                   uint16_t* fromPort) {
    sockaddr_in sender;
    std::memset(&sender, 0, sizeof sender);
    int senderLength = sizeof sender;
    int received = recvfrom(toSocket(s), reinterpret_cast<char*>(buffer), capacity, 0,
                            reinterpret_cast<sockaddr*>(&sender), &senderLength);
    if (received == SOCKET_ERROR) {
        const int error = WSAGetLastError();
        if (error == WSAEWOULDBLOCK) {
            return UDP_NONE_WAITING;
        }
        if (error != WSAEMSGSIZE) {
            return -1;
        }
        // A datagram longer than the buffer: its first capacity bytes are
        // there, the rest is gone.
        received = capacity;
    }
    *fromAddress = sender.sin_addr.s_addr;
    *fromPort = ntohs(sender.sin_port);
    return received;
}

bool udpWaitReadable(UdpSocket s, int milliseconds) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(toSocket(s), &readable);
    timeval timeout;
    timeout.tv_sec = milliseconds / 1000;
    timeout.tv_usec = (milliseconds % 1000) * 1000;
    return select(0, &readable, nullptr, nullptr, &timeout) > 0;
}

void udpClose(UdpSocket s) {
    closesocket(toSocket(s));
}

// ---- Time and threads ----

void sleepMilliseconds(int milliseconds) {
    Sleep(static_cast<DWORD>(milliseconds));
}

uint64_t monotonicMilliseconds() {
    return GetTickCount64();
}

bool threadStart(void (*entry)(void*), void* argument) {
    // _beginthread, not CreateThread: the thread uses the C runtime (the
    // report file), and the runtime closes the thread's handle itself.
    return _beginthread(entry, 0, argument) != static_cast<uintptr_t>(-1);
}

// ---- Window ----

void dialogSetItemText(uint32_t window, int id, const char* text) {
    SetDlgItemTextA(toHwnd(window), id, text);
}

void windowNotify(uint32_t window, uint32_t code) {
    SendMessageA(toHwnd(window), code, 0, 0);
}

void windowSendMessage(uint32_t window, uint32_t code, uintptr_t wParam) {
    SendMessageA(toHwnd(window), code, wParam, 0);
}

int dialogGetItemTextLength(uint32_t window, int id) {
    return GetWindowTextLengthA(GetDlgItem(toHwnd(window), id));
}

int dialogGetItemText(uint32_t window, int id, char* buffer, int capacity) {
    if (capacity <= 0) {
        return 0;
    }
    return static_cast<int>(GetDlgItemTextA(toHwnd(window), id, buffer, capacity));
}

void dialogEnableItem(uint32_t window, int id, bool enabled) {
    EnableWindow(GetDlgItem(toHwnd(window), id), enabled ? TRUE : FALSE);
}

bool dialogIsItemEnabled(uint32_t window, int id) {
    return IsWindowEnabled(GetDlgItem(toHwnd(window), id)) != FALSE;
}

bool dialogAskSaveFileName(uint32_t window, const char* filter, const char* defaultExtension,
                           char* path, int capacity) {
    OPENFILENAMEA request;
    std::memset(&request, 0, sizeof request);
    request.lStructSize = sizeof(OPENFILENAMEA);
    request.hwndOwner = toHwnd(window);
    request.lpstrFilter = filter;
    request.lpstrCustomFilter = nullptr;
    request.nFilterIndex = 0;
    request.lpstrFile = path;
    request.nMaxFile = static_cast<DWORD>(capacity);
    request.lpstrDefExt = defaultExtension;
    request.Flags = OFN_EXPLORER | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT;
    return GetSaveFileNameA(&request) != FALSE;
}

// ---- Hosted windows ----

uint32_t hostedWindowCreate(const WindowHandler* handler) {
    HINSTANCE instance = GetModuleHandleA(nullptr);
    if (!registerHostedClass(instance)) {
        return 0;
    }
    // Never shown: it exists to receive texts and messages.
    HWND window = CreateWindowExA(0, HOSTED_CLASS_NAME, "Tavrel", WS_OVERLAPPED, 0, 0, 320, 120,
                                  nullptr, nullptr, instance, const_cast<WindowHandler*>(handler));
    if (window == nullptr) {
        return 0;
    }
    HWND status = CreateWindowExA(0, "EDIT", "", WS_CHILD | WS_BORDER | ES_READONLY | ES_AUTOHSCROLL, 0,
                                  0, 300, 24, window,
                                  reinterpret_cast<HMENU>(static_cast<intptr_t>(IDC_STATUS)), instance,
                                  nullptr);
    if (status == nullptr) {
        DestroyWindow(window);
        return 0;
    }
    return fromHwnd(window);
}

void hostedWindowPump(uint32_t /*window*/, int milliseconds) {
    // Every window of this thread is served: sent messages (texts and
    // notifications from other threads) and posted ones.
    const uint64_t deadline = GetTickCount64() + static_cast<uint64_t>(milliseconds < 0 ? 0 : milliseconds);
    for (;;) {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) {
                PostQuitMessage(static_cast<int>(message.wParam));  // leave it for the caller's loop
                return;
            }
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        const uint64_t now = GetTickCount64();
        if (now >= deadline) {
            return;
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(deadline - now), QS_ALLINPUT);
    }
}

void hostedWindowDestroy(uint32_t window) {
    HWND handle = toHwnd(window);
    char className[sizeof HOSTED_CLASS_NAME + 1];
    if (window != 0 && IsWindow(handle) && GetClassNameA(handle, className, sizeof className) > 0 &&
        std::strcmp(className, HOSTED_CLASS_NAME) == 0) {
        DestroyWindow(handle);
    }
}
