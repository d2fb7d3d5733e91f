// Fuzz target: arbitrary reply datagrams through every reader of replies.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "ipmi_lan.h"
#include "sel_report.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // As the worker does: the datagram at offset 0 of the receive buffer,
    // truncated to it, the rest left over from before (zeros here).
    uint8_t rxBuf[RX_BUFFER_SIZE] = {};
    const size_t length = size < sizeof rxBuf ? size : sizeof rxBuf;
    std::memcpy(rxBuf, data, length);
    const int received = static_cast<int>(length);

    volatile bool sink = false;
    for (int mode = -1; mode <= 3; ++mode) sink = sink ^ checkReply(rxBuf, REPLY_LENGTH_OFFSET, mode);
    sink = sink ^ replyLengthHolds(rxBuf, received);
    sink = sink ^ isLastSelEntry(rxBuf);
    sink = sink ^ isEraseComplete(rxBuf);
    sink = sink ^ (nextSelRecordId(rxBuf) == 0);
    sink = sink ^ (readLe32(rxBuf + ACTIVATE_INBOUND_SEQUENCE_OFFSET) == 0);

    char line[SEL_LINE_CAPACITY];
    const int lineLength = formatSelLine(rxBuf, line);
    if (lineLength <= 0 || lineLength >= SEL_LINE_CAPACITY || line[lineLength] != '\0' ||
        line[lineLength - 2] != '\r' || line[lineLength - 1] != '\n' ||
        static_cast<int>(std::strlen(line)) != lineLength) {
        __builtin_trap();  // a line is always whole and terminated
    }
    static FILE* devNull = std::fopen("/dev/null", "wb");
    if (devNull != nullptr) {
        writeSelLine(rxBuf, devNull);
        writeEventCode(rxBuf, devNull, size > 0 && (data[0] & 1) != 0);
        writeHexByte(size > 0 ? data[0] : 0, devNull);
    }
    (void)sink;
    return 0;
}
