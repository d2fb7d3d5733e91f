#include "sel_report.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "ipmi_lan.h"

namespace {

typedef std::vector<uint8_t> Bytes;

// A Get SEL Entry reply buffer with the record at 39..54.
struct Reply {
    uint8_t bytes[RX_BUFFER_SIZE];
};

Reply replyWithRecord(const Bytes& record) {
    Reply r;
    std::memset(r.bytes, 0xCC, sizeof r.bytes);
    for (size_t i = 0; i < record.size(); ++i) r.bytes[SEL_RECORD_OFFSET + i] = record[i];
    return r;
}

// Everything a stream receives from fn, read back in binary.
template <typename Fn>
std::string captured(Fn fn) {
    FILE* f = std::tmpfile();
    if (f == nullptr) return "<no tmpfile>";
    fn(f);
    std::fflush(f);
    std::rewind(f);
    std::string out;
    char buffer[256];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) out.append(buffer, n);
    std::fclose(f);
    return out;
}

struct LineCase {
    const char* name;
    Bytes record;
    const char* expected;  // without the line end
};

const LineCase LINE_CASES[] = {
    {"worked example",
     {0x01, 0x00, 0x02, 0x60, 0x8A, 0xF3, 0x43, 0x20, 0x00, 0x04, 0x07, 0x05, 0x6F, 0x01, 0xFF, 0xFF},
     "1=   Wed Feb 15 20:09:04 2006, #5   svc02016F07a 01 00 02 60 8A F3 43 20 00 04 07 05 6F 01 FF FF"},
    {"ID 10 and sensor 10: two-space paddings",
     {0x0A, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00, 0x20, 0x00, 0x04, 0x01, 0x0A, 0x01, 0x07, 0x00, 0x00},
     "10=  Thu Jan 01 00:00:00 1970, #10  svc02070101a 0A 00 02 00 00 00 00 20 00 04 01 0A 01 07 00 00"},
    {"ID 99 and sensor 99",
     {0x63, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00, 0x20, 0x00, 0x04, 0x01, 0x63, 0x01, 0x07, 0x00, 0x00},
     "99=  Thu Jan 01 00:00:00 1970, #99  svc02070101a 63 00 02 00 00 00 00 20 00 04 01 63 01 07 00 00"},
    {"ID 256 and sensor 255: one-space paddings",
     {0x00, 0x01, 0x02, 0x00, 0x00, 0x00, 0x00, 0x20, 0x00, 0x04, 0x0C, 0xFF, 0x6F, 0xA3, 0x00, 0x00},
     "256= Thu Jan 01 00:00:00 1970, #255 svc02036F0Ca 00 01 02 00 00 00 00 20 00 04 0C FF 6F A3 00 00"},
    {"ID 65535 is five digits wide",
     {0xFF, 0xFF, 0x10, 0x00, 0x00, 0x00, 0x00, 0x20, 0x00, 0x04, 0x0C, 0xFF, 0x6F, 0xA3, 0x00, 0x00},
     "65535= Thu Jan 01 00:00:00 1970,  FF FF 10 00 00 00 00 20 00 04 0C FF 6F A3 00 00"},
    {"deassertion with event type 0xEF",
     {0x05, 0x00, 0x02, 0x00, 0x00, 0x00, 0x80, 0x20, 0x00, 0x04, 0x07, 0x05, 0xEF, 0x01, 0xFF, 0xFF},
     "5=   Tue Jan 19 03:14:08 2038, #5   svc02016F07d 05 00 02 00 00 00 80 20 00 04 07 05 EF 01 FF FF"},
    {"OEM timestamped 0xC0",
     {0x07, 0x00, 0xC0, 0xFF, 0xFF, 0xFF, 0xFF, 0x57, 0x01, 0x00, 0x3C, 0x11, 0x22, 0x33, 0x44, 0x55},
     "7=   Sun Feb 07 06:28:15 2106, #0   svcC03C      07 00 C0 FF FF FF FF 57 01 00 3C 11 22 33 44 55"},
    {"OEM timestamped 0xC1",
     {0x08, 0x00, 0xC1, 0x60, 0x8A, 0xF3, 0x43, 0x57, 0x01, 0x00, 0x0B, 0x11, 0x22, 0x33, 0x44, 0x55},
     "8=   Wed Feb 15 20:09:04 2006, #0   svcC10B      08 00 C1 60 8A F3 43 57 01 00 0B 11 22 33 44 55"},
    {"OEM non-timestamped 0xE0",
     {0x09, 0x00, 0xE0, 0x12, 0xAB, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00},
     "9=                           , #0   svcE012AB    09 00 E0 12 AB 00 00 00 00 00 00 00 00 00 00 00"},
    {"OEM non-timestamped 0xE1",
     {0x0B, 0x00, 0xE1, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x0D},
     "11=                          , #0   svcE10102    0B 00 E1 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D"},
    {"OEM 0xD5: time, no event code",
     {0x0C, 0x00, 0xD5, 0x00, 0x00, 0x00, 0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09},
     "12=  Thu Jan 01 00:00:00 1970,  0C 00 D5 00 00 00 00 01 02 03 04 05 06 07 08 09"},
    {"type 0x10: time, no event code",
     {0x0D, 0x00, 0x10, 0x00, 0x00, 0x00, 0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09},
     "13=  Thu Jan 01 00:00:00 1970,  0D 00 10 00 00 00 00 01 02 03 04 05 06 07 08 09"},
    {"type 0xF0: blank time, no event code",
     {0x0E, 0x00, 0xF0, 0x00, 0x00, 0x00, 0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09},
     "14=                          ,  0E 00 F0 00 00 00 00 01 02 03 04 05 06 07 08 09"},
    {"type 0xDF is still stamped",
     {0x0F, 0x00, 0xDF, 0x80, 0x51, 0x01, 0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09},
     "15=  Fri Jan 02 00:00:00 1970,  0F 00 DF 80 51 01 00 01 02 03 04 05 06 07 08 09"},
    {"leap day",
     {0x10, 0x00, 0x02, 0x00, 0x0C, 0xBB, 0x38, 0x20, 0x00, 0x04, 0x07, 0x05, 0x6F, 0x01, 0xFF, 0xFF},
     "16=  Tue Feb 29 00:00:00 2000, #5   svc02016F07a 10 00 02 00 0C BB 38 20 00 04 07 05 6F 01 FF FF"},
    {"last second of 2023",
     {0x11, 0x00, 0x02, 0x7F, 0x00, 0x92, 0x65, 0x20, 0x00, 0x04, 0x07, 0x05, 0x6F, 0x01, 0xFF, 0xFF},
     "17=  Sun Dec 31 23:59:59 2023, #5   svc02016F07a 11 00 02 7F 00 92 65 20 00 04 07 05 6F 01 FF FF"},
};

TEST(SelLine, Table) {
    for (const LineCase& c : LINE_CASES) {
        Reply r = replyWithRecord(c.record);
        const std::string expected = std::string(c.expected) + "\r\n";
        char line[SEL_LINE_CAPACITY];
        const int length = formatSelLine(r.bytes, line);
        EXPECT_EQ(expected, std::string(line, static_cast<size_t>(length))) << c.name;
        EXPECT_EQ(expected, captured([&](FILE* f) { writeSelLine(r.bytes, f); })) << c.name;
    }
}

TEST(SelLine, WidthsOfTheFields) {
    // 96 characters for types with an event code, 79 without, for IDs up to 999.
    for (const LineCase& c : LINE_CASES) {
        Reply r = replyWithRecord(c.record);
        char line[SEL_LINE_CAPACITY];
        const int length = formatSelLine(r.bytes, line) - 2;
        const unsigned id = c.record[0] + 256u * c.record[1];
        const uint8_t type = c.record[2];
        const bool hasCode = type == 0x02 || type == 0xC0 || type == 0xC1 || type == 0xE0 || type == 0xE1;
        const int extraDigits = id > 9999 ? 2 : id > 999 ? 1 : 0;
        EXPECT_EQ((hasCode ? 96 : 79) + extraDigits, length) << c.name;
    }
}

TEST(SelLine, ManyLinesAreCrLfTerminatedAndWhole) {
    Reply r = replyWithRecord(LINE_CASES[0].record);
    const std::string out = captured([&](FILE* f) {
        for (int i = 0; i < 3; ++i) writeSelLine(r.bytes, f);
    });
    const std::string one = std::string(LINE_CASES[0].expected) + "\r\n";
    EXPECT_EQ(one + one + one, out);
}

TEST(EventCodeAndHexByte, Table) {
    Reply r = replyWithRecord({0x01, 0x00, 0x02, 0, 0, 0, 0, 0, 0, 0, 0x07, 0x2A, 0x6F, 0x01, 0, 0});
    EXPECT_EQ("#42  svc02", captured([&](FILE* f) { writeEventCode(r.bytes, f, true); }));
    EXPECT_EQ("#0   svc02", captured([&](FILE* f) { writeEventCode(r.bytes, f, false); }));

    struct Case {
        int value;
        const char* expected;
    } cases[] = {{0, "00"}, {0x0F, "0F"}, {0x10, "10"}, {0xAB, "AB"}, {0xFF, "FF"}, {0x1FE, "FE"}};
    for (const Case& c : cases) {
        EXPECT_EQ(c.expected, captured([&](FILE* f) { writeHexByte(c.value, f); })) << c.value;
    }
}

TEST(UtcTime, EveryDayFrom1970To2106MatchesACountedCalendar) {
    // Walk day by day with a plain calendar and compare, over the whole
    // range of the unsigned stamp.
    static const int DAYS_IN_MONTH[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    int year = 1970, month = 1, day = 1, weekday = 4;
    for (uint32_t days = 0; days <= 0xFFFFFFFFu / 86400; ++days) {
        const UtcTime t = utcFromSeconds(days * 86400u + 23000u);
        ASSERT_EQ(year, t.year) << days;
        ASSERT_EQ(month, t.month) << days;
        ASSERT_EQ(day, t.day) << days;
        ASSERT_EQ(weekday, t.weekday) << days;
        ASSERT_EQ(6, t.hour);
        ASSERT_EQ(23, t.minute);
        ASSERT_EQ(20, t.second);
        const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
        const int length = DAYS_IN_MONTH[month - 1] + (month == 2 && leap ? 1 : 0);
        weekday = (weekday + 1) % 7;
        if (++day > length) {
            day = 1;
            if (++month > 12) {
                month = 1;
                ++year;
            }
        }
    }
    EXPECT_EQ(2106, year);
}

}  // namespace
