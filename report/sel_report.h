// SEL report: one text line per System Event Log entry.
//
// A line is the record ID, the time stamp in UTC, an event code for the
// record types that carry one, the 16 raw record bytes in hexadecimal, and
// CR LF. The line end is written as the two bytes CR LF on every platform
// (the stream is expected in binary mode), so reports from different
// machines compare byte for byte.
#pragma once

#include <cstdint>
#include <cstdio>

// Longest line formatSelLine can produce, CR LF and terminator included.
const int SEL_LINE_CAPACITY = 128;

// Calendar time in UTC, as broken down from an unsigned 32-bit count of
// seconds since 1970-01-01 00:00:00.
struct UtcTime {
    int year;     // 1970 .. 2106
    int month;    // 1 .. 12
    int day;      // 1 .. 31
    int weekday;  // 0 = Sunday .. 6 = Saturday
    int hour;
    int minute;
    int second;
};

// Breaks seconds since the epoch down into Gregorian calendar time, without
// time zones, time_t or the C library, so every stamp up to 2106 converts the
// same on every platform.
UtcTime utcFromSeconds(uint32_t seconds);

// Formats the line for the Get SEL Entry reply in rxBuf (record at offsets
// 39..54) into line, NUL-terminated, and returns its length including CR LF.
// line must hold SEL_LINE_CAPACITY bytes.
int formatSelLine(const uint8_t* rxBuf, char* line);

// Writes the line for the Get SEL Entry reply in rxBuf to stream in one write.
void writeSelLine(const uint8_t* rxBuf, FILE* stream);

// Writes the event code prefix and record type: "#<sensor number>" padded
// and "svc" when withSensor, "#0   svc" otherwise, then the record type as
// two hex digits.
void writeEventCode(const uint8_t* rxBuf, FILE* stream, bool withSensor);

// Writes the low eight bits of value as two upper-case hexadecimal digits.
void writeHexByte(int value, FILE* stream);
