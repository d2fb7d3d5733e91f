// sel-lines: writes the report line of each 16-byte SEL record read from a
// file (or standard input) to standard output, with the report's own line
// formatter. The emulator tests build the report they expect from the
// records another IPMI tool read, so both sides share one formatter and
// the tests check what the session sends and writes, not the format again.
//
//     sel-lines [RECORDS_FILE] > LINES
//
// Exit status 0; 1 when the input cannot be read or is not a whole number
// of records; 2 on a usage error.
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "ipmi_lan.h"
#include "sel_report.h"

namespace {

const int RECORD_SIZE = 16;

// Writes the lines for every record in input; false on a read error or a
// trailing partial record.
bool writeLines(FILE* input, FILE* output) {
    // A Get SEL Entry reply as the session receives it; only the record
    // bytes are read by the formatter.
    uint8_t rxBuf[RX_BUFFER_SIZE];
    std::memset(rxBuf, 0, sizeof rxBuf);
    char line[SEL_LINE_CAPACITY];
    for (;;) {
        const size_t got = std::fread(rxBuf + SEL_RECORD_OFFSET, 1, RECORD_SIZE, input);
        if (got == 0) {
            return std::ferror(input) == 0;
        }
        if (got != static_cast<size_t>(RECORD_SIZE)) {
            std::fprintf(stderr, "sel-lines: %d trailing bytes are not a whole record\n", static_cast<int>(got));
            return false;
        }
        const int length = formatSelLine(rxBuf, line);
        if (std::fwrite(line, 1, static_cast<size_t>(length), output) != static_cast<size_t>(length)) {
            return false;
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 2) {
        std::fprintf(stderr, "usage: sel-lines [RECORDS_FILE]\n");
        return 2;
    }
    FILE* input = stdin;
    if (argc == 2) {
        input = std::fopen(argv[1], "rb");
        if (input == nullptr) {
            std::fprintf(stderr, "sel-lines: cannot open %s\n", argv[1]);
            return 1;
        }
    }
    const bool ok = writeLines(input, stdout);
    if (input != stdin) {
        std::fclose(input);
    }
    return ok && std::fflush(stdout) == 0 ? 0 : 1;
}
