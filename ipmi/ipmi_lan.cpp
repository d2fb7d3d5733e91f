#include "ipmi_lan.h"

#include <cstring>

namespace {

const uint8_t RMCP_HEADER[4] = {0x06, 0x00, 0xFF, 0x07};
const uint8_t AUTH_TYPE_NONE = 0x00;
const uint8_t AUTH_TYPE_STRAIGHT_PASSWORD = 0x04;
const uint8_t PRIVILEGE_ADMINISTRATOR = 0x04;
const uint8_t RS_SA = 0x20;
const uint8_t RQ_SA = 0x21;
const uint8_t RQ_SEQ = 0x00;
const uint8_t NETFN_APP = 0x18;
const uint8_t NETFN_STORAGE = 0x28;

const uint8_t CMD_GET_SESSION_CHALLENGE = 0x39;
const uint8_t CMD_ACTIVATE_SESSION = 0x3A;
const uint8_t CMD_SET_SESSION_PRIVILEGE = 0x3B;
const uint8_t CMD_RESERVE_SEL = 0x42;
const uint8_t CMD_GET_SEL_ENTRY = 0x43;
const uint8_t CMD_CLEAR_SEL = 0x47;

// Authenticated message: length byte at 29, message from 30 to 29 + length.
const int MESSAGE_LENGTH_OFFSET = 29;

void writeLe32(uint8_t* bytes, uint32_t value) {
    bytes[0] = static_cast<uint8_t>(value);
    bytes[1] = static_cast<uint8_t>(value >> 8);
    bytes[2] = static_cast<uint8_t>(value >> 16);
    bytes[3] = static_cast<uint8_t>(value >> 24);
}

// Writes the RMCP and session headers and the message header up to the
// command byte; request data follows at offset 36.
void writeAuthenticatedHeader(uint8_t* txBuf, const SessionHeader& header, uint8_t netFn,
                              uint8_t command, int messageLength) {
    std::memcpy(txBuf, RMCP_HEADER, sizeof RMCP_HEADER);
    txBuf[REQUEST_AUTH_TYPE_OFFSET] = AUTH_TYPE_STRAIGHT_PASSWORD;
    writeLe32(txBuf + REQUEST_SEQUENCE_OFFSET, header.sequence);
    std::memcpy(txBuf + REQUEST_SESSION_ID_OFFSET, header.sessionId, SESSION_ID_LENGTH);
    std::memcpy(txBuf + REQUEST_AUTH_CODE_OFFSET, header.authCode, AUTH_CODE_LENGTH);
    txBuf[MESSAGE_LENGTH_OFFSET] = static_cast<uint8_t>(messageLength);
    txBuf[30] = RS_SA;
    txBuf[31] = netFn;
    txBuf[32] = ipmiChecksum(txBuf, 30, 31);
    txBuf[33] = RQ_SA;
    txBuf[34] = RQ_SEQ;
    txBuf[35] = command;
}

// Appends the message checksum over 33 .. 28 + N and returns the datagram length.
int finishAuthenticated(uint8_t* txBuf, int messageLength) {
    const int last = MESSAGE_LENGTH_OFFSET + messageLength;
    txBuf[last] = ipmiChecksum(txBuf, 33, last - 1);
    return last + 1;
}

}  // namespace

uint8_t ipmiChecksum(const uint8_t* buffer, int first, int last) {
    unsigned sum = 0;
    for (int i = first; i <= last; ++i) {
        sum += buffer[i];
    }
    return static_cast<uint8_t>(0x100 - (sum & 0xFF));
}

bool checkReply(const uint8_t* buffer, int lengthOffset, int mode) {
    const int length = buffer[lengthOffset];
    const bool sumHolds =
        ipmiChecksum(buffer, lengthOffset + 1, lengthOffset + length - 1) == buffer[lengthOffset + length];
    const bool codeHolds = buffer[lengthOffset + 7] == 0;
    switch (mode) {
    case CHECK_FULL:
        return sumHolds && codeHolds;
    case CHECK_SUM:
        return sumHolds;
    case CHECK_CODE:
        return codeHolds;
    default:
        return true;
    }
}

bool replyLengthHolds(const uint8_t* rxBuf, int received) {
    return received > REPLY_LENGTH_OFFSET && received >= REPLY_LENGTH_OFFSET + 1 + rxBuf[REPLY_LENGTH_OFFSET];
}

void copyTextField16(uint8_t* field, const char* text) {
    int i = 0;
    for (; i < 16 && text[i] != '\0'; ++i) {
        field[i] = static_cast<uint8_t>(text[i]);
    }
    for (; i < 16; ++i) {
        field[i] = 0;
    }
}

int buildGetSessionChallenge(uint8_t* txBuf, const char* userName) {
    std::memcpy(txBuf, RMCP_HEADER, sizeof RMCP_HEADER);
    txBuf[4] = AUTH_TYPE_NONE;
    std::memset(txBuf + 5, 0, 8);  // sequence number and session ID
    txBuf[13] = 24;                // message length
    txBuf[14] = RS_SA;
    txBuf[15] = NETFN_APP;
    txBuf[16] = ipmiChecksum(txBuf, 14, 15);
    txBuf[17] = RQ_SA;
    txBuf[18] = RQ_SEQ;
    txBuf[19] = CMD_GET_SESSION_CHALLENGE;
    txBuf[20] = AUTH_TYPE_STRAIGHT_PASSWORD;
    copyTextField16(txBuf + 21, userName);
    txBuf[37] = ipmiChecksum(txBuf, 17, 36);
    return GET_SESSION_CHALLENGE_LENGTH;
}

int buildActivateSession(uint8_t* txBuf, const SessionHeader& header, const uint8_t* challenge) {
    const int length = 29;
    writeAuthenticatedHeader(txBuf, header, NETFN_APP, CMD_ACTIVATE_SESSION, length);
    txBuf[36] = AUTH_TYPE_STRAIGHT_PASSWORD;
    txBuf[37] = PRIVILEGE_ADMINISTRATOR;
    std::memcpy(txBuf + 38, challenge, CHALLENGE_LENGTH);
    writeLe32(txBuf + 54, 1);  // initial outbound sequence number
    return finishAuthenticated(txBuf, length);
}

int buildSetSessionPrivilege(uint8_t* txBuf, const SessionHeader& header) {
    const int length = 8;
    writeAuthenticatedHeader(txBuf, header, NETFN_APP, CMD_SET_SESSION_PRIVILEGE, length);
    txBuf[36] = PRIVILEGE_ADMINISTRATOR;
    return finishAuthenticated(txBuf, length);
}

int buildGetSelEntry(uint8_t* txBuf, const SessionHeader& header, uint16_t recordId) {
    const int length = 13;
    writeAuthenticatedHeader(txBuf, header, NETFN_STORAGE, CMD_GET_SEL_ENTRY, length);
    txBuf[36] = 0x00;  // reservation ID: none needed for whole-record reads
    txBuf[37] = 0x00;
    txBuf[38] = static_cast<uint8_t>(recordId);
    txBuf[39] = static_cast<uint8_t>(recordId >> 8);
    txBuf[40] = 0x00;  // offset into record
    txBuf[41] = 0xFF;  // bytes to read: the whole record
    return finishAuthenticated(txBuf, length);
}

int buildReserveSel(uint8_t* txBuf, const SessionHeader& header) {
    const int length = 7;
    writeAuthenticatedHeader(txBuf, header, NETFN_STORAGE, CMD_RESERVE_SEL, length);
    return finishAuthenticated(txBuf, length);
}

int buildClearSel(uint8_t* txBuf, const SessionHeader& header, const uint8_t* reservationId,
                  uint8_t action) {
    const int length = 13;
    writeAuthenticatedHeader(txBuf, header, NETFN_STORAGE, CMD_CLEAR_SEL, length);
    txBuf[36] = reservationId[0];
    txBuf[37] = reservationId[1];
    txBuf[38] = 'C';
    txBuf[39] = 'L';
    txBuf[40] = 'R';
    txBuf[41] = action;
    return finishAuthenticated(txBuf, length);
}

uint16_t readLe16(const uint8_t* bytes) {
    return static_cast<uint16_t>(bytes[0] | (bytes[1] << 8));
}

uint32_t readLe32(const uint8_t* bytes) {
    return static_cast<uint32_t>(bytes[0]) | (static_cast<uint32_t>(bytes[1]) << 8) |
           (static_cast<uint32_t>(bytes[2]) << 16) | (static_cast<uint32_t>(bytes[3]) << 24);
}

uint16_t nextSelRecordId(const uint8_t* rxBuf) {
    return readLe16(rxBuf + SEL_NEXT_RECORD_ID_OFFSET);
}

bool isLastSelEntry(const uint8_t* rxBuf) {
    return nextSelRecordId(rxBuf) == SEL_LAST_RECORD_ID;
}

bool isEraseComplete(const uint8_t* rxBuf) {
    return (rxBuf[ERASE_PROGRESS_OFFSET] & 0x0F) == 1;
}
