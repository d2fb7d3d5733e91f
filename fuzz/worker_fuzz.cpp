// Fuzz target: the worker's logon, dump and clear against a network whose
// replies the fuzzer chooses. Input: one byte picking the action, then one
// record per request the worker sends:
//   flags (1 byte): bits 0-1 what happens (0 reply, 1 lost, 2 receive
//   error, 3 send error); bit 2 a forged datagram from another sender
//   first; bit 3 fix the message's checksums; bit 4 the receive buffer is
//   overrun (datagram padded past 1024 bytes)
//   length (2 bytes, little-endian, taken modulo 1100), then the datagram.
// When the input runs out the user presses Disconnect.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "fake_network.h"
#include "ipmi_lan.h"
#include "session_test_support.h"

namespace {

const char BMC[] = "127.0.3.1";

struct Input {
    const uint8_t* data;
    size_t size;
    size_t at;
    bool take(size_t n, const uint8_t** out) {
        if (size - at < n) return false;
        *out = data + at;
        at += n;
        return true;
    }
};

// Makes the checksums of an unauthenticated or authenticated message hold,
// per the length byte it carries, so that the fuzzer reaches later steps.
void fixChecksums(Bytes& d) {
    const bool unauthenticated = d.size() > 4 && d[4] == 0x00;
    const size_t lengthAt = unauthenticated ? 13 : 29;
    if (d.size() <= lengthAt + 3) return;
    const size_t last = lengthAt + d[lengthAt];
    if (last >= d.size() || d[lengthAt] < 4) return;
    d[lengthAt + 3] = ipmiChecksum(d.data(), static_cast<int>(lengthAt + 1), static_cast<int>(lengthAt + 2));
    d[last] = ipmiChecksum(d.data(), static_cast<int>(lengthAt + 4), static_cast<int>(last - 1));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    Input input = {data, size, 1};
    const int action = data[0] % 3;  // 0 logon only, 1 dump, 2 clear

    fakeNetworkReset();
    g_loopPaceMilliseconds = 0;
    RecordingWindow window;
    SessionControl control;
    control.window = window.handle();
    control.stopRequested = 0;
    control.dumpRequested = action == 1 ? 1 : 0;
    control.clearRequested = 0;

    g_fakeNetwork.onSend = [&](const Bytes&, int) {
        const uint8_t* flags;
        const uint8_t* lengthBytes;
        if (!input.take(1, &flags) || !input.take(2, &lengthBytes)) {
            control.stopRequested = 1;
            return true;
        }
        size_t length = static_cast<size_t>(lengthBytes[0] | (lengthBytes[1] << 8)) % 1100;
        if (length > input.size - input.at) length = input.size - input.at;
        const uint8_t* bytes;
        input.take(length, &bytes);
        Bytes datagram(bytes, bytes + length);
        if (*flags & 0x08) fixChecksums(datagram);
        if (*flags & 0x10) datagram.resize(1500, 0xA5);
        if (*flags & 0x04) fakeNetworkQueue(datagram, "127.0.3.2", 623);
        switch (*flags & 0x03) {
        case 0: fakeNetworkQueue(datagram, BMC, 623); return true;
        case 1: return true;
        case 2: fakeNetworkQueueError(); return true;
        default: return false;
        }
    };
    g_fakeNetwork.onIdle = [&] { control.stopRequested = 1; };
    window.onEvent = [&](const std::string& e) {
        if (e == "<CONNECTED>" && action == 2) control.clearRequested = 1;
        if (e == "<SEL_SAVED>" || e == "<SEL_EMPTY>" || e == "<SEL_CLEARED>" || e == "<REPORT_FILE_ERROR>")
            control.stopRequested = 1;
    };

    std::memset(g_address, 0, sizeof g_address);
    std::strcpy(g_address, BMC);
    std::strcpy(g_userName, "USERID");
    std::strcpy(g_password, "KEBRU7NY");
    std::strcpy(g_reportPath, "/dev/null");
    sessionWorker(&control);

    // Whatever came, the worker ended once and released its socket.
    const std::vector<std::string> events = window.events();
    int terminal = 0;
    for (const std::string& e : events) terminal += (e == "<LOGON_ABORTED>" || e == "<DISCONNECTED>") ? 1 : 0;
    if (terminal != 1 || g_fakeNetwork.openSockets != 0 || g_fakeNetwork.libraryStarts != 0) __builtin_trap();
    return 0;
}
