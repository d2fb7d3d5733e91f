// tavrel-driver: drives Tavrel's window from another process of the same
// Wine prefix and display, for the end-to-end tests.
//
//     tavrel-driver COMMAND [ARGS...]
//
// One command per run (under a running wineserver a run takes a few
// hundredths of a second). It prints one answer line, "ok [VALUE]", "no
// [REASON]" (a negative answer: no such window, control disabled, ...) or
// "err REASON" (a bad command or a failed call), and exits with 0, 1 or 2.
//
// Commands (ID is a control ID, decimal; 0 names the main window itself):
//     window               handle of the top-level window of class "Tavrel"
//     text ID              the control's text (WM_GETTEXT)
//     settext ID [TEXT...] sets the control's text (WM_SETTEXT): the remaining
//                          arguments joined by single spaces, empty if none
//     enabled ID           "ok 1" or "ok 0"
//     click ID             posts BM_CLICK to the button
//     rect ID              the control's screen rectangle: left top right bottom
//     close                posts WM_CLOSE to the main window
//     savedialog           handle of the Save As dialog owned by the main window
//     savename             the file name pre-filled in the Save As dialog
//     save PATH...         types PATH (the arguments joined by single spaces)
//                          into the Save As dialog and presses Save; confirms
//                          an overwrite question if one comes up and answers
//                          "ok saved" or "ok overwritten" once the dialog has
//                          gone
//     accept               the same with the file name the dialog shows
//     cancel               presses Cancel in the Save As dialog
//     prompt               the text of a message box owned by the Save As
//                          dialog or the main window, if one is open
//
// Window messages go out with SendMessageTimeout so that a hung program
// makes a command fail instead of hanging the test.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

const char MAIN_CLASS[] = "Tavrel";
const char DIALOG_CLASS[] = "#32770";
// The file name box of the Explorer-style common file dialog (cmb13), a
// ComboBoxEx with an Edit inside.
const int FILE_NAME_BOX = 0x47C;
// The file name edit of the old-style dialog (edt1), in case that one shows.
const int FILE_NAME_EDIT = 0x480;
const UINT MESSAGE_TIMEOUT_MS = 5000;
// Bound on waiting for the Save As dialog to go away after Save.
const DWORD SAVE_WAIT_MS = 10000;
const DWORD POLL_MS = 20;
const int ARGUMENTS_CAPACITY = 2048;
const int TEXT_CAPACITY = 1024;
const int ANSWER_CAPACITY = 2048;

enum Outcome { OUTCOME_OK = 0, OUTCOME_NO = 1, OUTCOME_ERROR = 2 };

struct Answer {
    Outcome outcome;
    char text[ANSWER_CAPACITY];
};

void setAnswer(Answer* answer, Outcome outcome, const char* text) {
    answer->outcome = outcome;
    std::snprintf(answer->text, sizeof answer->text, "%s", text);
}

HWND findMainWindow() {
    return FindWindowA(MAIN_CLASS, nullptr);
}

bool sendTimed(HWND window, UINT message, WPARAM wParam, LPARAM lParam, DWORD_PTR* result) {
    DWORD_PTR ignored = 0;
    return SendMessageTimeoutA(window, message, wParam, lParam, SMTO_ABORTIFHUNG, MESSAGE_TIMEOUT_MS,
                               result != nullptr ? result : &ignored) != 0;
}

bool readText(HWND window, char* text, int capacity) {
    text[0] = '\0';
    DWORD_PTR length = 0;
    if (!sendTimed(window, WM_GETTEXT, static_cast<WPARAM>(capacity), reinterpret_cast<LPARAM>(text), &length)) {
        return false;
    }
    text[capacity - 1] = '\0';
    return true;
}

bool writeText(HWND window, const char* text) {
    DWORD_PTR result = 0;
    return sendTimed(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text), &result) && result != 0;
}

bool hasClass(HWND window, const char* className) {
    char name[64];
    if (GetClassNameA(window, name, sizeof name) == 0) {
        return false;
    }
    return std::strcmp(name, className) == 0;
}

struct OwnedSearch {
    HWND owner;
    bool wantFileDialog;  // true: a dialog with a file name box; false: one without
    HWND found;
};

BOOL CALLBACK findOwnedDialog(HWND window, LPARAM parameter) {
    OwnedSearch* search = reinterpret_cast<OwnedSearch*>(parameter);
    if (!hasClass(window, DIALOG_CLASS) || GetWindow(window, GW_OWNER) != search->owner || !IsWindowVisible(window)) {
        return TRUE;
    }
    const bool isFileDialog = GetDlgItem(window, FILE_NAME_BOX) != nullptr || GetDlgItem(window, FILE_NAME_EDIT) != nullptr;
    if (isFileDialog != search->wantFileDialog) {
        return TRUE;
    }
    search->found = window;
    return FALSE;
}

HWND findOwned(HWND owner, bool wantFileDialog) {
    if (owner == nullptr) {
        return nullptr;
    }
    OwnedSearch search = {owner, wantFileDialog, nullptr};
    EnumWindows(findOwnedDialog, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND findSaveDialog() {
    return findOwned(findMainWindow(), true);
}

// A message box owned by the Save As dialog (the overwrite question) or,
// failing that, by the main window.
HWND findPrompt() {
    HWND prompt = findOwned(findSaveDialog(), false);
    if (prompt == nullptr) {
        prompt = findOwned(findMainWindow(), false);
    }
    return prompt;
}

BOOL CALLBACK findEditChild(HWND window, LPARAM parameter) {
    if (hasClass(window, "Edit")) {
        *reinterpret_cast<HWND*>(parameter) = window;
        return FALSE;
    }
    return TRUE;
}

// The Edit that holds the file name: inside the ComboBoxEx, or the plain
// edit of an old-style dialog.
HWND fileNameEdit(HWND dialog) {
    HWND box = GetDlgItem(dialog, FILE_NAME_BOX);
    if (box == nullptr) {
        return GetDlgItem(dialog, FILE_NAME_EDIT);
    }
    if (hasClass(box, "Edit")) {
        return box;
    }
    HWND edit = nullptr;
    EnumChildWindows(box, findEditChild, reinterpret_cast<LPARAM>(&edit));
    return edit;
}

// The static text of a message box: its child of class Static with the
// longest text (the icon is a Static too, without text).
BOOL CALLBACK findLongestStatic(HWND window, LPARAM parameter) {
    char* best = reinterpret_cast<char*>(parameter);
    if (!hasClass(window, "Static")) {
        return TRUE;
    }
    char text[TEXT_CAPACITY];
    if (readText(window, text, sizeof text) && std::strlen(text) > std::strlen(best)) {
        std::snprintf(best, TEXT_CAPACITY, "%s", text);
    }
    return TRUE;
}

void promptText(HWND prompt, char* text) {
    text[0] = '\0';
    EnumChildWindows(prompt, findLongestStatic, reinterpret_cast<LPARAM>(text));
    for (char* c = text; *c != '\0'; ++c) {
        if (*c == '\r' || *c == '\n') {
            *c = ' ';
        }
    }
}

bool pressButton(HWND dialog, int id) {
    HWND button = GetDlgItem(dialog, id);
    if (button == nullptr) {
        return false;
    }
    return PostMessageA(button, BM_CLICK, 0, 0) != 0;
}

// Parses a decimal control ID; 0 is the main window.
bool parseId(const char* text, int* id) {
    if (text == nullptr || *text == '\0') {
        return false;
    }
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (*end != '\0' || value < 0 || value > 0xFFFF) {
        return false;
    }
    *id = static_cast<int>(value);
    return true;
}

// The window named by ID, or nullptr (with the answer filled in).
HWND controlOf(const char* idText, Answer* answer) {
    int id = 0;
    if (!parseId(idText, &id)) {
        setAnswer(answer, OUTCOME_ERROR, "bad control id");
        return nullptr;
    }
    HWND main = findMainWindow();
    if (main == nullptr) {
        setAnswer(answer, OUTCOME_NO, "no window");
        return nullptr;
    }
    if (id == 0) {
        return main;
    }
    HWND control = GetDlgItem(main, id);
    if (control == nullptr) {
        setAnswer(answer, OUTCOME_NO, "no such control");
    }
    return control;
}

void formatHandle(HWND window, Answer* answer) {
    char text[32];
    std::snprintf(text, sizeof text, "%llx",
                  static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(window)));
    setAnswer(answer, OUTCOME_OK, text);
}

// Presses Save, after typing path unless it is null.
void commandSave(const char* path, Answer* answer) {
    HWND dialog = findSaveDialog();
    if (dialog == nullptr) {
        setAnswer(answer, OUTCOME_NO, "no save dialog");
        return;
    }
    HWND edit = fileNameEdit(dialog);
    if (edit == nullptr) {
        setAnswer(answer, OUTCOME_ERROR, "no file name box");
        return;
    }
    if ((path != nullptr && !writeText(edit, path)) || !pressButton(dialog, IDOK)) {
        setAnswer(answer, OUTCOME_ERROR, "cannot type the name or press Save");
        return;
    }
    bool confirmed = false;
    const DWORD began = GetTickCount();
    while (GetTickCount() - began < SAVE_WAIT_MS) {
        Sleep(POLL_MS);
        if (!IsWindow(dialog)) {
            setAnswer(answer, OUTCOME_OK, confirmed ? "overwritten" : "saved");
            return;
        }
        HWND prompt = findOwned(dialog, false);
        if (prompt != nullptr && !confirmed) {
            // The overwrite question: Yes.
            if (!pressButton(prompt, IDYES)) {
                setAnswer(answer, OUTCOME_ERROR, "cannot answer the overwrite question");
                return;
            }
            confirmed = true;
        }
    }
    setAnswer(answer, OUTCOME_NO, "the save dialog is still open");
}

void runCommand(const char* command, const char* arg, const char* rest, Answer* answer) {
    setAnswer(answer, OUTCOME_OK, "");
    char text[TEXT_CAPACITY];
    if (std::strcmp(command, "window") == 0) {
        HWND main = findMainWindow();
        if (main == nullptr) {
            setAnswer(answer, OUTCOME_NO, "no window");
        } else {
            formatHandle(main, answer);
        }
    } else if (std::strcmp(command, "text") == 0) {
        HWND control = controlOf(arg, answer);
        if (control != nullptr) {
            if (readText(control, text, sizeof text)) {
                setAnswer(answer, OUTCOME_OK, text);
            } else {
                setAnswer(answer, OUTCOME_ERROR, "WM_GETTEXT failed");
            }
        }
    } else if (std::strcmp(command, "settext") == 0) {
        HWND control = controlOf(arg, answer);
        if (control != nullptr && !writeText(control, rest)) {
            setAnswer(answer, OUTCOME_ERROR, "WM_SETTEXT failed");
        }
    } else if (std::strcmp(command, "enabled") == 0) {
        HWND control = controlOf(arg, answer);
        if (control != nullptr) {
            setAnswer(answer, OUTCOME_OK, IsWindowEnabled(control) ? "1" : "0");
        }
    } else if (std::strcmp(command, "click") == 0) {
        HWND control = controlOf(arg, answer);
        if (control != nullptr) {
            if (!IsWindowEnabled(control)) {
                setAnswer(answer, OUTCOME_NO, "disabled");
            } else if (PostMessageA(control, BM_CLICK, 0, 0) == 0) {
                setAnswer(answer, OUTCOME_ERROR, "PostMessage failed");
            }
        }
    } else if (std::strcmp(command, "rect") == 0) {
        HWND control = controlOf(arg, answer);
        RECT rect;
        if (control != nullptr) {
            if (GetWindowRect(control, &rect)) {
                std::snprintf(text, sizeof text, "%ld %ld %ld %ld", static_cast<long>(rect.left),
                              static_cast<long>(rect.top), static_cast<long>(rect.right),
                              static_cast<long>(rect.bottom));
                setAnswer(answer, OUTCOME_OK, text);
            } else {
                setAnswer(answer, OUTCOME_ERROR, "GetWindowRect failed");
            }
        }
    } else if (std::strcmp(command, "close") == 0) {
        HWND main = findMainWindow();
        if (main == nullptr) {
            setAnswer(answer, OUTCOME_NO, "no window");
        } else if (PostMessageA(main, WM_CLOSE, 0, 0) == 0) {
            setAnswer(answer, OUTCOME_ERROR, "PostMessage failed");
        }
    } else if (std::strcmp(command, "savedialog") == 0) {
        HWND dialog = findSaveDialog();
        if (dialog == nullptr) {
            setAnswer(answer, OUTCOME_NO, "no save dialog");
        } else {
            formatHandle(dialog, answer);
        }
    } else if (std::strcmp(command, "savename") == 0) {
        HWND dialog = findSaveDialog();
        HWND edit = dialog != nullptr ? fileNameEdit(dialog) : nullptr;
        if (dialog == nullptr) {
            setAnswer(answer, OUTCOME_NO, "no save dialog");
        } else if (edit == nullptr) {
            setAnswer(answer, OUTCOME_ERROR, "no file name box");
        } else if (readText(edit, text, sizeof text)) {
            setAnswer(answer, OUTCOME_OK, text);
        } else {
            setAnswer(answer, OUTCOME_ERROR, "WM_GETTEXT failed");
        }
    } else if (std::strcmp(command, "save") == 0) {
        if (rest == nullptr || *rest == '\0') {
            setAnswer(answer, OUTCOME_ERROR, "no path");
        } else {
            commandSave(rest, answer);
        }
    } else if (std::strcmp(command, "accept") == 0) {
        commandSave(nullptr, answer);
    } else if (std::strcmp(command, "cancel") == 0) {
        HWND dialog = findSaveDialog();
        if (dialog == nullptr) {
            setAnswer(answer, OUTCOME_NO, "no save dialog");
        } else if (!pressButton(dialog, IDCANCEL)) {
            setAnswer(answer, OUTCOME_ERROR, "no Cancel button");
        }
    } else if (std::strcmp(command, "prompt") == 0) {
        HWND prompt = findPrompt();
        if (prompt == nullptr) {
            setAnswer(answer, OUTCOME_NO, "no message box");
        } else {
            promptText(prompt, text);
            setAnswer(answer, OUTCOME_OK, text);
        }
    } else {
        setAnswer(answer, OUTCOME_ERROR, "unknown command");
    }
}

const char* outcomeWord(Outcome outcome) {
    switch (outcome) {
        case OUTCOME_OK:
            return "ok";
        case OUTCOME_NO:
            return "no";
        default:
            return "err";
    }
}

void printAnswer(const Answer* answer) {
    if (answer->text[0] != '\0') {
        std::printf("%s %s\n", outcomeWord(answer->outcome), answer->text);
    } else {
        std::printf("%s\n", outcomeWord(answer->outcome));
    }
    std::fflush(stdout);
}

// Joins argv[first..argc-1] with single spaces.
void joinArguments(int argc, char** argv, int first, char* joined, size_t capacity) {
    joined[0] = '\0';
    for (int i = first; i < argc; ++i) {
        if (i > first) {
            std::strncat(joined, " ", capacity - std::strlen(joined) - 1);
        }
        std::strncat(joined, argv[i], capacity - std::strlen(joined) - 1);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: tavrel-driver COMMAND [ARGS...]\n");
        return OUTCOME_ERROR;
    }
    const char* command = argv[1];
    const bool isSave = std::strcmp(command, "save") == 0;
    const char* arg = !isSave && argc > 2 ? argv[2] : nullptr;
    char rest[ARGUMENTS_CAPACITY];
    joinArguments(argc, argv, isSave ? 2 : 3, rest, sizeof rest);
    Answer answer;
    runCommand(command, arg, rest, &answer);
    printAnswer(&answer);
    return static_cast<int>(answer.outcome);
}
