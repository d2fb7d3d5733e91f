#include "sel_report.h"

#include "ipmi_lan.h"

namespace {

const char* const WEEKDAYS[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char* const MONTHS[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
const char HEX_DIGITS[] = "0123456789ABCDEF";

// Record types from 0xE0 up carry no time stamp.
const uint8_t FIRST_UNSTAMPED_TYPE = 0xE0;

// A small append-only text buffer over a caller's array.
struct LineBuffer {
    char* text;
    int length;
};

void put(LineBuffer& out, const char* text) {
    while (*text != '\0') {
        out.text[out.length++] = *text++;
    }
}

void putChar(LineBuffer& out, char c) {
    out.text[out.length++] = c;
}

void putRepeated(LineBuffer& out, char c, int count) {
    for (int i = 0; i < count; ++i) {
        putChar(out, c);
    }
}

void putHexByte(LineBuffer& out, int value) {
    putChar(out, HEX_DIGITS[(value >> 4) & 0x0F]);
    putChar(out, HEX_DIGITS[value & 0x0F]);
}

// Unsigned decimal, at least minDigits digits with leading zeros.
void putDecimal(LineBuffer& out, unsigned value, int minDigits) {
    char digits[12];
    int count = 0;
    do {
        digits[count++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    for (int i = count; i < minDigits; ++i) {
        putChar(out, '0');
    }
    while (count > 0) {
        putChar(out, digits[--count]);
    }
}

// "#<n>" and padding so that "svc" follows in the same column for 1 to 3 digits.
void putSensorPrefix(LineBuffer& out, unsigned sensorNumber) {
    putChar(out, '#');
    putDecimal(out, sensorNumber, 1);
    if (sensorNumber <= 9) {
        put(out, "   svc");
    } else if (sensorNumber <= 99) {
        put(out, "  svc");
    } else {
        put(out, " svc");
    }
}

void putEventCode(LineBuffer& out, const uint8_t* record, bool withSensor) {
    putSensorPrefix(out, withSensor ? record[11] : 0);
    putHexByte(out, record[2]);
}

void putTime(LineBuffer& out, uint32_t seconds) {
    const UtcTime t = utcFromSeconds(seconds);
    put(out, WEEKDAYS[t.weekday]);
    putChar(out, ' ');
    put(out, MONTHS[t.month - 1]);
    putChar(out, ' ');
    putDecimal(out, static_cast<unsigned>(t.day), 2);
    putChar(out, ' ');
    putDecimal(out, static_cast<unsigned>(t.hour), 2);
    putChar(out, ':');
    putDecimal(out, static_cast<unsigned>(t.minute), 2);
    putChar(out, ':');
    putDecimal(out, static_cast<unsigned>(t.second), 2);
    putChar(out, ' ');
    putDecimal(out, static_cast<unsigned>(t.year), 4);
}

}  // namespace

UtcTime utcFromSeconds(uint32_t seconds) {
    UtcTime t;
    const uint32_t days = seconds / 86400;
    const uint32_t secondOfDay = seconds % 86400;
    t.hour = static_cast<int>(secondOfDay / 3600);
    t.minute = static_cast<int>(secondOfDay / 60 % 60);
    t.second = static_cast<int>(secondOfDay % 60);
    t.weekday = static_cast<int>((days + 4) % 7);  // 1970-01-01 was a Thursday

    // Civil date from a day count, in 400-year eras starting on 0000-03-01.
    const uint32_t z = days + 719468;
    const uint32_t era = z / 146097;
    const uint32_t dayOfEra = z - era * 146097;
    const uint32_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const uint32_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const uint32_t monthIndex = (5 * dayOfYear + 2) / 153;  // 0 = March
    t.day = static_cast<int>(dayOfYear - (153 * monthIndex + 2) / 5 + 1);
    t.month = static_cast<int>(monthIndex < 10 ? monthIndex + 3 : monthIndex - 9);
    t.year = static_cast<int>(yearOfEra + era * 400 + (t.month <= 2 ? 1 : 0));
    return t;
}

int formatSelLine(const uint8_t* rxBuf, char* line) {
    const uint8_t* r = rxBuf + SEL_RECORD_OFFSET;
    LineBuffer out = {line, 0};

    const unsigned id = readLe16(r);
    putDecimal(out, id, 1);
    if (id <= 9) {
        put(out, "=   ");
    } else if (id <= 99) {
        put(out, "=  ");
    } else {
        put(out, "= ");
    }

    const uint8_t type = r[2];
    if (type >= FIRST_UNSTAMPED_TYPE) {
        putRepeated(out, ' ', 24);
    } else {
        putTime(out, readLe32(r + 3));
    }
    put(out, ", ");

    if (type == 0x02) {
        putEventCode(out, r, true);
        putHexByte(out, r[13] & 0x0F);
        putHexByte(out, r[12] & 0x7F);
        putHexByte(out, r[10]);
        putChar(out, (r[12] & 0x80) != 0 ? 'd' : 'a');
    } else if (type == 0xC0 || type == 0xC1) {
        putEventCode(out, r, false);
        putHexByte(out, r[10]);
        putRepeated(out, ' ', 5);
    } else if (type == 0xE0 || type == 0xE1) {
        putEventCode(out, r, false);
        putHexByte(out, r[3]);
        putHexByte(out, r[4]);
        putRepeated(out, ' ', 3);
    }

    for (int i = 0; i < SEL_RECORD_LENGTH; ++i) {
        putChar(out, ' ');
        putHexByte(out, r[i]);
    }
    put(out, "\r\n");
    line[out.length] = '\0';
    return out.length;
}

void writeSelLine(const uint8_t* rxBuf, FILE* stream) {
    char line[SEL_LINE_CAPACITY];
    const int length = formatSelLine(rxBuf, line);
    std::fwrite(line, 1, static_cast<size_t>(length), stream);
}

void writeEventCode(const uint8_t* rxBuf, FILE* stream, bool withSensor) {
    char text[16];
    LineBuffer out = {text, 0};
    putEventCode(out, rxBuf + SEL_RECORD_OFFSET, withSensor);
    std::fwrite(text, 1, static_cast<size_t>(out.length), stream);
}

void writeHexByte(int value, FILE* stream) {
    char text[2];
    LineBuffer out = {text, 0};
    putHexByte(out, value);
    std::fwrite(text, 1, 2, stream);
}
