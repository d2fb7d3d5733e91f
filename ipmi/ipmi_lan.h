// IPMI v1.5 LAN messages carried in RMCP over UDP.
//
// Builders write one complete request datagram into a transmit buffer of at
// least TX_BUFFER_SIZE bytes and return its length. Reply readers look at
// fixed offsets of a receive buffer of RX_BUFFER_SIZE bytes; every offset
// counts from the first byte of the datagram. Multi-byte numbers are
// little-endian; session IDs, challenges and reservation IDs are copied as
// bytes. Nothing here keeps state or calls the operating system.
#pragma once

#include <cstdint>

const int TX_BUFFER_SIZE = 64;
const int RX_BUFFER_SIZE = 1024;
const uint16_t IPMI_LAN_PORT = 623;

// Datagram lengths of the six requests.
const int GET_SESSION_CHALLENGE_LENGTH = 38;
const int ACTIVATE_SESSION_LENGTH = 59;
const int SET_SESSION_PRIVILEGE_LENGTH = 38;
const int GET_SEL_ENTRY_LENGTH = 43;
const int RESERVE_SEL_LENGTH = 37;
const int CLEAR_SEL_LENGTH = 43;

// Request offsets of the session header and message data.
const int REQUEST_AUTH_TYPE_OFFSET = 4;
const int REQUEST_SEQUENCE_OFFSET = 5;
const int REQUEST_SESSION_ID_OFFSET = 9;
const int REQUEST_AUTH_CODE_OFFSET = 13;
const int REQUEST_DATA_OFFSET = 36;
const int GET_SEL_RECORD_ID_OFFSET = 38;
const int CLEAR_RESERVATION_ID_OFFSET = 36;
const int CLEAR_ACTION_OFFSET = 41;

// Reply offsets. The Get Session Challenge reply is read as an
// unauthenticated datagram, every other reply as an authenticated one.
const int REPLY_LENGTH_OFFSET = 29;
const int REPLY_COMPLETION_CODE_OFFSET = 36;
const int CHALLENGE_SESSION_ID_OFFSET = 21;
const int CHALLENGE_STRING_OFFSET = 25;
const int ACTIVATE_SESSION_ID_OFFSET = 38;
const int ACTIVATE_INBOUND_SEQUENCE_OFFSET = 42;
const int SEL_NEXT_RECORD_ID_OFFSET = 37;
const int SEL_RECORD_OFFSET = 39;
const int SEL_RECORD_LENGTH = 16;
const int RESERVATION_ID_OFFSET = 37;
const int ERASE_PROGRESS_OFFSET = 37;

const int SESSION_ID_LENGTH = 4;
const int CHALLENGE_LENGTH = 16;
const int AUTH_CODE_LENGTH = 16;
const int RESERVATION_ID_LENGTH = 2;

// Clear SEL actions (request byte 41).
const uint8_t ERASE_START = 0xAA;
const uint8_t ERASE_GET_STATUS = 0x00;

// The record ID that marks the last SEL entry, and the one that asks for the
// first entry.
const uint16_t SEL_LAST_RECORD_ID = 0xFFFF;
const uint16_t SEL_FIRST_RECORD_ID = 0x0000;

// Reply check modes of checkReply.
const int CHECK_FULL = 0;
const int CHECK_SUM = 1;
const int CHECK_CODE = 2;

// Session header of an authenticated request (bytes 4 to 28): auth type is
// always straight password, the auth code is the password.
struct SessionHeader {
    uint32_t sequence;
    uint8_t sessionId[SESSION_ID_LENGTH];
    uint8_t authCode[AUTH_CODE_LENGTH];
};

// Two's complement of the 8-bit sum of buffer[first..last] inclusive;
// 0 when last < first.
uint8_t ipmiChecksum(const uint8_t* buffer, int first, int last);

// Checks the message whose length byte stands at buffer[lengthOffset]:
// CHECK_SUM its trailing checksum, CHECK_CODE its completion code (0 = ok),
// CHECK_FULL both. Any other mode yields true. The buffer must hold at least
// lengthOffset + 256 bytes, as a receive buffer does.
bool checkReply(const uint8_t* buffer, int lengthOffset, int mode);

// True when a reply datagram of received bytes holds the whole message its
// length byte (at REPLY_LENGTH_OFFSET) announces. A shorter one would be
// read partly from what earlier replies left in the buffer.
bool replyLengthHolds(const uint8_t* rxBuf, int received);

// Copies at most 16 characters of text into a 16-byte field, NUL-filled to
// the end; a text of 16 characters gets no terminator.
void copyTextField16(uint8_t* field, const char* text);

// Request builders. Each writes the whole datagram into txBuf and returns its
// length in bytes.
int buildGetSessionChallenge(uint8_t* txBuf, const char* userName);
int buildActivateSession(uint8_t* txBuf, const SessionHeader& header, const uint8_t* challenge);
int buildSetSessionPrivilege(uint8_t* txBuf, const SessionHeader& header);
int buildGetSelEntry(uint8_t* txBuf, const SessionHeader& header, uint16_t recordId);
int buildReserveSel(uint8_t* txBuf, const SessionHeader& header);
int buildClearSel(uint8_t* txBuf, const SessionHeader& header, const uint8_t* reservationId,
                  uint8_t action);

// Little-endian readers.
uint16_t readLe16(const uint8_t* bytes);
uint32_t readLe32(const uint8_t* bytes);

// Get SEL Entry reply: the next record ID, and whether it marks the last entry.
uint16_t nextSelRecordId(const uint8_t* rxBuf);
bool isLastSelEntry(const uint8_t* rxBuf);

// Clear SEL reply: true when the low four bits of the erase progress are 1.
bool isEraseComplete(const uint8_t* rxBuf);
