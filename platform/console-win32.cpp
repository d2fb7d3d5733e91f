// Console input without echo, for passwords.
#include <windows.h>

#include <cstring>

#include "platform.h"

bool readSecretLine(const char* prompt, char* buffer, int capacity) {
    HANDLE input = CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    HANDLE output = CreateFileA("CONOUT$", GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (input == INVALID_HANDLE_VALUE || capacity <= 0) {
        if (input != INVALID_HANDLE_VALUE) CloseHandle(input);
        if (output != INVALID_HANDLE_VALUE) CloseHandle(output);
        return false;
    }
    DWORD mode = 0;
    const bool haveMode = GetConsoleMode(input, &mode) != 0;
    if (haveMode) SetConsoleMode(input, (mode & ~ENABLE_ECHO_INPUT) | ENABLE_LINE_INPUT);
    DWORD written = 0;
    if (output != INVALID_HANDLE_VALUE) WriteFile(output, prompt, static_cast<DWORD>(std::strlen(prompt)), &written, nullptr);
    int length = 0;
    bool gotAny = false;
    for (;;) {
        char c;
        DWORD read = 0;
        if (!ReadFile(input, &c, 1, &read, nullptr) || read != 1 || c == '\n') {
            gotAny = gotAny || read == 1;
            break;
        }
        gotAny = true;
        if (c != '\r' && length < capacity - 1) buffer[length++] = c;
    }
    buffer[length] = '\0';
    if (haveMode) SetConsoleMode(input, mode);
    if (output != INVALID_HANDLE_VALUE) {
        WriteFile(output, "\r\n", 2, &written, nullptr);
        CloseHandle(output);
    }
    CloseHandle(input);
    return gotAny;
}
