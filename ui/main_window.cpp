// The main window's state machine over the platform's window calls.
#include "main_window.h"

#include <cstring>

#include "platform.h"
#include "resource.h"

std::atomic<UiState> g_uiState{UiState::Idle};
SessionControl g_sessionControl;

namespace {

const char REPORT_FILE_FILTER[] = "Text Files (*.txt)\0*.txt\0All Files (*.*)\0*.*\0\0";
const char REPORT_FILE_EXTENSION[] = "txt";

struct LogonField {
    int id;
    char* global;
    int maxLength;
};

void setStatus(uint32_t window, const char* text) {
    dialogSetItemText(window, IDC_STATUS, text);
}

void setButton(uint32_t window, const char* text) {
    dialogSetItemText(window, IDC_LOGON, text);
}

void enableSelButtons(uint32_t window, bool enabled) {
    dialogEnableItem(window, IDC_DUMP_SEL, enabled);
    dialogEnableItem(window, IDC_CLEAR_SEL, enabled);
}

void pressLogon(uint32_t window) {
    if (g_uiState.load() != UiState::Idle) {
        // Abort or Disconnect: the worker answers with its notification.
        g_sessionControl.stopRequested.store(1);
        return;
    }
    if (!readLogonFields(window)) {
        return;
    }
    g_uiState.store(UiState::LoggingOn);
    g_sessionControl.window.store(window);
    g_sessionControl.stopRequested.store(0);
    if (!threadStart(sessionWorker, &g_sessionControl)) {
        // No worker, so no notification would ever come.
        g_uiState.store(UiState::Idle);
        setStatus(window, "Logon Aborted");
        setButton(window, "Logon");
        return;
    }
    // The worker's texts reach the window only after this handler returns,
    // so "Connecting" always comes first.
    setStatus(window, "Connecting");
    setButton(window, "Logging on (Abort)");
}

void pressDumpSel(uint32_t window) {
    if (chooseReportFile(window)) {
        enableSelButtons(window, false);
        g_sessionControl.dumpRequested.store(1);
    }
}

void pressClearSel(uint32_t window) {
    enableSelButtons(window, false);
    g_sessionControl.clearRequested.store(1);
}

void handleCommand(uint32_t window, uintptr_t wParam) {
    switch (static_cast<int>(wParam & 0xFFFF)) {
    case IDC_LOGON:
        pressLogon(window);
        break;
    case IDC_DUMP_SEL:
        pressDumpSel(window);
        break;
    case IDC_CLEAR_SEL:
        pressClearSel(window);
        break;
    default:
        break;
    }
}

}  // namespace

bool readLogonFields(uint32_t window) {
    const LogonField fields[] = {
        {IDC_ADDRESS, g_address, 15},
        {IDC_USERNAME, g_userName, 16},
        {IDC_PASSWORD, g_password, 16},
    };
    for (const LogonField& field : fields) {
        const int length = dialogGetItemTextLength(window, field.id);
        if (length < 1 || length > field.maxLength) {
            setStatus(window, "Invalid IP, User Name, or Password");
            return false;
        }
        // Scratch: a fixed buffer with room for the longest field and its NUL.
        char scratch[LOGON_FIELD_SIZE];
        std::memset(scratch, 0, sizeof scratch);
        dialogGetItemText(window, field.id, scratch, length + 1);
        std::memset(field.global, 0, LOGON_FIELD_SIZE);
        std::memcpy(field.global, scratch, static_cast<size_t>(length));
    }
    return true;
}

bool chooseReportFile(uint32_t window) {
    return dialogAskSaveFileName(window, REPORT_FILE_FILTER, REPORT_FILE_EXTENSION, g_reportPath,
                                 REPORT_PATH_SIZE);
}

bool handleMainWindowMessage(uint32_t window, uint32_t message, uintptr_t wParam) {
    switch (message) {
    case MESSAGE_DESTROY:
        return true;
    case MESSAGE_COMMAND:
        handleCommand(window, wParam);
        return true;
    case NOTIFY_CONNECTED:
        g_uiState.store(UiState::Connected);
        setStatus(window, "Connected");
        setButton(window, "Disconnect");
        enableSelButtons(window, true);
        return true;
    case NOTIFY_LOGON_ABORTED:
        g_uiState.store(UiState::Idle);
        setStatus(window, "Logon Aborted");
        setButton(window, "Logon");
        return true;
    case NOTIFY_DISCONNECTED:
        g_uiState.store(UiState::Idle);
        setStatus(window, "Disconnected");
        setButton(window, "Logon");
        enableSelButtons(window, false);
        return true;
    case NOTIFY_SEL_SAVED:
        setStatus(window, "SEL Save Complete");
        enableSelButtons(window, true);
        return true;
    case NOTIFY_SEL_EMPTY:
        setStatus(window, "SEL is Empty");
        enableSelButtons(window, true);
        return true;
    case NOTIFY_SEL_CLEARED:
        setStatus(window, "SEL Cleared");
        enableSelButtons(window, true);
        return true;
    case NOTIFY_REPORT_FILE_ERROR:
        // The worker has put the error in the status line already.
        enableSelButtons(window, true);
        return true;
    default:
        return false;
    }
}
