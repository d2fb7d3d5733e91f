// Terminal input without echo, for passwords.
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cstring>

#include "platform.h"

bool readSecretLine(const char* prompt, char* buffer, int capacity) {
    const int terminal = open("/dev/tty", O_RDWR | O_CLOEXEC);
    if (terminal < 0 || capacity <= 0) {
        if (terminal >= 0) close(terminal);
        return false;
    }
    termios saved;
    const bool haveSettings = tcgetattr(terminal, &saved) == 0;
    if (haveSettings) {
        termios quiet = saved;
        quiet.c_lflag &= static_cast<tcflag_t>(~ECHO);
        quiet.c_lflag |= ECHONL;
        tcsetattr(terminal, TCSAFLUSH, &quiet);
    }
    const ssize_t promptWritten = write(terminal, prompt, std::strlen(prompt));
    (void)promptWritten;
    int length = 0;
    bool gotAny = false;
    for (;;) {
        char c;
        const ssize_t n = read(terminal, &c, 1);
        if (n != 1 || c == '\n' || c == '\r') {
            gotAny = gotAny || n == 1;
            break;
        }
        gotAny = true;
        if (length < capacity - 1) buffer[length++] = c;
    }
    buffer[length] = '\0';
    if (haveSettings) tcsetattr(terminal, TCSAFLUSH, &saved);
    close(terminal);
    return gotAny;
}
