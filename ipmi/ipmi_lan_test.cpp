#include "ipmi_lan.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

typedef std::vector<uint8_t> Bytes;

Bytes bytesOf(const uint8_t* data, int length) {
    return Bytes(data, data + length);
}

// Sum of bytes [first, last] modulo 256.
unsigned sum8(const Bytes& b, int first, int last) {
    unsigned s = 0;
    for (int i = first; i <= last; ++i) s += b[static_cast<size_t>(i)];
    return s & 0xFF;
}

SessionHeader header(uint32_t sequence, Bytes id, const char* password) {
    SessionHeader h;
    h.sequence = sequence;
    std::memcpy(h.sessionId, id.data(), 4);
    copyTextField16(h.authCode, password);
    return h;
}

TEST(IpmiChecksum, Table) {
    struct Case {
        const char* name;
        Bytes bytes;
        int first;
        int last;
        uint8_t expected;
    } cases[] = {
        {"App header", {0x20, 0x18}, 0, 1, 0xC8},
        {"Storage header", {0x20, 0x28}, 0, 1, 0xB8},
        {"empty range", {0x55}, 0, -1, 0x00},
        {"last below first", {0x55, 0x66}, 1, 0, 0x00},
        {"single zero", {0x00}, 0, 0, 0x00},
        {"single one", {0x01}, 0, 0, 0xFF},
        {"sum wraps to zero", {0x80, 0x80}, 0, 1, 0x00},
        {"sub-range only", {0xFF, 0x01, 0x02, 0xFF}, 1, 2, 0xFD},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.expected, ipmiChecksum(c.bytes.data(), c.first, c.last)) << c.name;
    }
}

TEST(IpmiChecksum, AppendedChecksumMakesSumZero) {
    Bytes b = {0x21, 0x00, 0x39, 0x04, 'U', 'S', 'E', 'R'};
    b.push_back(ipmiChecksum(b.data(), 0, static_cast<int>(b.size()) - 1));
    EXPECT_EQ(0u, sum8(b, 0, static_cast<int>(b.size()) - 1));
}

TEST(GetSessionChallenge, UseridIsTheKnownDatagram) {
    Bytes expected = {0x06, 0x00, 0xFF, 0x07, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                      0x18, 0x20, 0x18, 0xC8, 0x21, 0x00, 0x39, 0x04, 0x55, 0x53, 0x45, 0x52, 0x49, 0x44};
    expected.insert(expected.end(), 10, 0x00);
    expected.push_back(0xD6);
    uint8_t tx[TX_BUFFER_SIZE];
    std::memset(tx, 0xEE, sizeof tx);
    const int length = buildGetSessionChallenge(tx, "USERID");
    ASSERT_EQ(GET_SESSION_CHALLENGE_LENGTH, length);
    EXPECT_EQ(expected, bytesOf(tx, length));
}

TEST(TextFields, PaddingAndSixteenCharacters) {
    struct Case {
        const char* name;
        const char* text;
        Bytes expected;
    } cases[] = {
        {"short", "ab", {'a', 'b', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
        {"empty", "", Bytes(16, 0)},
        {"exactly 16, no terminator", "0123456789ABCDEF",
         {'0', '1', '2', '3', '4', '5', '6', '7', '8', '9', 'A', 'B', 'C', 'D', 'E', 'F'}},
        {"longer than 16 is cut", "0123456789ABCDEFXYZ",
         {'0', '1', '2', '3', '4', '5', '6', '7', '8', '9', 'A', 'B', 'C', 'D', 'E', 'F'}},
    };
    for (const Case& c : cases) {
        uint8_t field[18];
        std::memset(field, 0xEE, sizeof field);
        copyTextField16(field, c.text);
        EXPECT_EQ(c.expected, bytesOf(field, 16)) << c.name;
        EXPECT_EQ(0xEE, field[16]) << c.name << ": wrote past the field";
    }
    uint8_t tx[TX_BUFFER_SIZE];
    buildGetSessionChallenge(tx, "0123456789ABCDEF");
    EXPECT_EQ(std::string("0123456789ABCDEF"), std::string(reinterpret_cast<char*>(tx + 21), 16));
    EXPECT_EQ(0u, sum8(bytesOf(tx, 38), 17, 37));
}

// Every authenticated request: the session header, the message header with
// its checksum, the request data, and the trailing checksum.
TEST(AuthenticatedRequests, Table) {
    const SessionHeader h = header(0x04030201, {0xA1, 0xB2, 0xC3, 0xD4}, "PASSW0RD");
    const Bytes sessionPart = {0x06, 0x00, 0xFF, 0x07, 0x04, 0x01, 0x02, 0x03, 0x04, 0xA1, 0xB2, 0xC3, 0xD4,
                               'P',  'A',  'S',  'S',  'W',  '0',  'R',  'D',  0,    0,    0,    0,    0,
                               0,    0,    0};
    uint8_t challenge[16];
    for (int i = 0; i < 16; ++i) challenge[i] = static_cast<uint8_t>(0x10 + i);
    const uint8_t reservation[2] = {0x5A, 0xC3};

    struct Case {
        const char* name;
        int length;
        Bytes message;  // from byte 29 (length) up to, not including, the last checksum
    };
    uint8_t tx[TX_BUFFER_SIZE];
    std::vector<std::pair<Case, Bytes>> built;
    auto add = [&](const char* name, int length, Bytes message) {
        built.push_back({Case{name, length, message}, bytesOf(tx, length)});
    };

    int n = buildActivateSession(tx, h, challenge);
    Bytes activate = {0x1D, 0x20, 0x18, 0xC8, 0x21, 0x00, 0x3A, 0x04, 0x04};
    activate.insert(activate.end(), challenge, challenge + 16);
    activate.insert(activate.end(), {0x01, 0x00, 0x00, 0x00});
    add("Activate Session", n, activate);

    n = buildSetSessionPrivilege(tx, h);
    add("Set Session Privilege Level", n, {0x08, 0x20, 0x18, 0xC8, 0x21, 0x00, 0x3B, 0x04});

    n = buildGetSelEntry(tx, h, 258);
    add("Get SEL Entry 258", n, {0x0D, 0x20, 0x28, 0xB8, 0x21, 0x00, 0x43, 0x00, 0x00, 0x02, 0x01, 0x00, 0xFF});

    n = buildGetSelEntry(tx, h, 0);
    add("Get SEL Entry first", n, {0x0D, 0x20, 0x28, 0xB8, 0x21, 0x00, 0x43, 0x00, 0x00, 0x00, 0x00, 0x00, 0xFF});

    n = buildReserveSel(tx, h);
    add("Reserve SEL", n, {0x07, 0x20, 0x28, 0xB8, 0x21, 0x00, 0x42});

    n = buildClearSel(tx, h, reservation, ERASE_START);
    add("Clear SEL start", n, {0x0D, 0x20, 0x28, 0xB8, 0x21, 0x00, 0x47, 0x5A, 0xC3, 0x43, 0x4C, 0x52, 0xAA});

    n = buildClearSel(tx, h, reservation, ERASE_GET_STATUS);
    add("Clear SEL status", n, {0x0D, 0x20, 0x28, 0xB8, 0x21, 0x00, 0x47, 0x5A, 0xC3, 0x43, 0x4C, 0x52, 0x00});

    const int expectedLengths[] = {ACTIVATE_SESSION_LENGTH, SET_SESSION_PRIVILEGE_LENGTH, GET_SEL_ENTRY_LENGTH,
                                   GET_SEL_ENTRY_LENGTH,    RESERVE_SEL_LENGTH,           CLEAR_SEL_LENGTH,
                                   CLEAR_SEL_LENGTH};
    ASSERT_EQ(7u, built.size());
    for (size_t i = 0; i < built.size(); ++i) {
        const Case& c = built[i].first;
        const Bytes& got = built[i].second;
        EXPECT_EQ(expectedLengths[i], c.length) << c.name;
        Bytes expected = sessionPart;
        expected.insert(expected.end(), c.message.begin(), c.message.end());
        // Trailing checksum: over 33 .. 28 + N.
        Bytes covered(expected.begin() + 33, expected.end());
        expected.push_back(ipmiChecksum(covered.data(), 0, static_cast<int>(covered.size()) - 1));
        EXPECT_EQ(expected, got) << c.name;
        EXPECT_EQ(30 + expected[29], static_cast<int>(got.size())) << c.name << ": length byte";
        EXPECT_EQ(0u, sum8(got, 33, static_cast<int>(got.size()) - 1)) << c.name;
    }
}

TEST(AuthenticatedRequests, SequenceNumberIsLittleEndian) {
    uint8_t tx[TX_BUFFER_SIZE];
    buildReserveSel(tx, header(0xFFFFFFFE, {1, 2, 3, 4}, "x"));
    EXPECT_EQ((Bytes{0xFE, 0xFF, 0xFF, 0xFF}), bytesOf(tx + 5, 4));
    buildReserveSel(tx, header(1, {1, 2, 3, 4}, "x"));
    EXPECT_EQ((Bytes{0x01, 0x00, 0x00, 0x00}), bytesOf(tx + 5, 4));
}

// A reply buffer of receive-buffer size with an authenticated message whose
// length byte is at 29.
struct Reply {
    uint8_t bytes[RX_BUFFER_SIZE];
};

Reply replyWith(Bytes message, bool goodSum, int tamperIndex = -1) {
    Reply r;
    std::memset(r.bytes, 0, sizeof r.bytes);
    // message starts at 30: rqSA, netFn, header checksum, rsSA, rqSeq, cmd, code, data...
    r.bytes[29] = static_cast<uint8_t>(message.size() + 1);
    for (size_t i = 0; i < message.size(); ++i) r.bytes[30 + i] = message[i];
    uint8_t sum = ipmiChecksum(r.bytes, 33, 29 + static_cast<int>(message.size()));
    r.bytes[30 + message.size()] = goodSum ? sum : static_cast<uint8_t>(sum + 1);
    if (tamperIndex >= 0) r.bytes[tamperIndex] ^= 0x01;
    return r;
}

TEST(CheckReply, ModesTable) {
    // Reserve SEL reply: 81 1C 63 20 00 42 cc 34 12 ck
    const Bytes ok = {0x81, 0x2C, 0x53, 0x20, 0x00, 0x42, 0x00, 0x34, 0x12};
    const Bytes errorCode = {0x81, 0x2C, 0x53, 0x20, 0x00, 0x42, 0xC1, 0x34, 0x12};
    struct Case {
        const char* name;
        Reply reply;
        bool full, sum, code;
    } cases[] = {
        {"good reply", replyWith(ok, true), true, true, true},
        {"wrong checksum", replyWith(ok, false), false, false, true},
        {"error completion code", replyWith(errorCode, true), false, true, false},
        {"both wrong", replyWith(errorCode, false), false, false, false},
        {"data byte flipped", replyWith(ok, true, 38), false, false, true},
        // The header bytes sum to zero in a well-formed message; a broken
        // header checksum shows in the covered range too.
        {"header checksum flipped", replyWith(ok, true, 32), false, false, true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.full, checkReply(c.reply.bytes, 29, CHECK_FULL)) << c.name;
        EXPECT_EQ(c.sum, checkReply(c.reply.bytes, 29, CHECK_SUM)) << c.name;
        EXPECT_EQ(c.code, checkReply(c.reply.bytes, 29, CHECK_CODE)) << c.name;
        EXPECT_TRUE(checkReply(c.reply.bytes, 29, 3)) << c.name << ": unknown mode";
        EXPECT_TRUE(checkReply(c.reply.bytes, 29, -1)) << c.name << ": unknown mode";
    }
}

TEST(CheckReply, LengthZeroAlwaysPassesTheChecksum) {
    Reply r;
    std::memset(r.bytes, 0x37, sizeof r.bytes);
    r.bytes[29] = 0;
    EXPECT_TRUE(checkReply(r.bytes, 29, CHECK_SUM));
    EXPECT_FALSE(checkReply(r.bytes, 29, CHECK_CODE));  // code byte 36 holds 0x37
    r.bytes[36] = 0;
    EXPECT_TRUE(checkReply(r.bytes, 29, CHECK_FULL));
}

TEST(CheckReply, LargestLengthStaysInsideTheBuffer) {
    Reply r;
    std::memset(r.bytes, 0, sizeof r.bytes);
    r.bytes[29] = 0xFF;
    r.bytes[29 + 0xFF] = 0x00;  // sum of zeros is zero
    EXPECT_TRUE(checkReply(r.bytes, 29, CHECK_SUM));
    r.bytes[100] = 0x01;
    EXPECT_FALSE(checkReply(r.bytes, 29, CHECK_SUM));
}

TEST(ReplyReaders, Table) {
    struct Case {
        const char* name;
        uint8_t b37, b38;
        bool last;
        uint16_t next;
        bool eraseComplete;
    } cases[] = {
        {"last entry", 0xFF, 0xFF, true, 0xFFFF, false},
        {"low byte only", 0xFF, 0x00, false, 0x00FF, false},
        {"high byte only", 0x00, 0xFF, false, 0xFF00, false},
        {"next 258", 0x02, 0x01, false, 258, false},
        {"erase completed", 0x01, 0x00, false, 1, true},
        {"erase in progress", 0x00, 0x00, false, 0, false},
        {"completed, high bits set", 0xF1, 0x00, false, 0x00F1, true},
        {"progress 2", 0x12, 0x00, false, 0x0012, false},
    };
    for (const Case& c : cases) {
        uint8_t rx[RX_BUFFER_SIZE] = {};
        rx[37] = c.b37;
        rx[38] = c.b38;
        EXPECT_EQ(c.last, isLastSelEntry(rx)) << c.name;
        EXPECT_EQ(c.next, nextSelRecordId(rx)) << c.name;
        EXPECT_EQ(c.eraseComplete, isEraseComplete(rx)) << c.name;
    }
}

TEST(ReplyReaders, LittleEndian) {
    const uint8_t b[4] = {0x78, 0x56, 0x34, 0x12};
    EXPECT_EQ(0x5678, readLe16(b));
    EXPECT_EQ(0x12345678u, readLe32(b));
    const uint8_t high[4] = {0xFF, 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(0xFFFFFFFFu, readLe32(high));
}

}  // namespace

namespace {

TEST(ReplyLength, WholeMessageMustHaveArrived) {
    struct Case {
        const char* name;
        uint8_t lengthByte;
        int received;
        bool holds;
    } cases[] = {
        {"exact", 8, 38, true},
        {"longer datagram", 8, 60, true},
        {"one byte short", 8, 37, false},
        {"length byte not received", 8, 29, false},
        {"nothing received", 8, 0, false},
        {"length 0, length byte received", 0, 30, true},
        {"largest length", 255, 285, true},
        {"largest length, short", 255, 284, false},
    };
    for (const Case& c : cases) {
        uint8_t rx[RX_BUFFER_SIZE] = {};
        rx[REPLY_LENGTH_OFFSET] = c.lengthByte;
        EXPECT_EQ(c.holds, replyLengthHolds(rx, c.received)) << c.name;
    }
}

}  // namespace
