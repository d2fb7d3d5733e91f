// Program entry on Windows: registers the class the dialog runs on, creates
// the dialog from its template and pumps its messages until it is closed.
#include <windows.h>

#include "main_window.h"

static_assert(MESSAGE_DESTROY == WM_DESTROY, "WM_DESTROY");
static_assert(MESSAGE_COMMAND == WM_COMMAND, "WM_COMMAND");

namespace {

// Window handles travel as 32-bit words, as in the platform layer.
uint32_t windowWord(HWND window) {
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(window));
}

LRESULT CALLBACK mainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (handleMainWindowMessage(windowWord(window), message, wParam)) {
        if (message == WM_DESTROY) {
            PostQuitMessage(0);
        }
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE /*previous*/, LPSTR /*commandLine*/, int showCommand) {
    WNDCLASSA windowClass;
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = mainWindowProc;
    windowClass.cbClsExtra = 0;
    windowClass.cbWndExtra = DLGWINDOWEXTRA;  // the dialog's own data
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconA(instance, "Tavrel");
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszMenuName = nullptr;
    windowClass.lpszClassName = "Tavrel";
    if (RegisterClassA(&windowClass) == 0) {
        MessageBoxA(nullptr, "This program requires Windows NT!", "Tavrel", MB_ICONERROR);
        return 0;
    }

    // No dialog procedure: the class's window procedure handles everything.
    HWND window = CreateDialogParamA(instance, "Tavrel", nullptr, nullptr, 0);
    if (window == nullptr) {
        return 0;  // nothing could ever end the message loop
    }
    ShowWindow(window, showCommand);

    // No dialog keyboard handling: Tab and the arrows do not move the focus.
    MSG message;
    message.wParam = 0;
    while (GetMessageA(&message, nullptr, 0, 0)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return static_cast<int>(message.wParam);
}
