// The log record as the browser helper writes it, built byte by byte here.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "history/LogEntry.h"

using history::DecodeLogEntry;
using history::kLogEntrySize;
using history::TLogEntry;

namespace {

using Record = std::array<unsigned char, kLogEntrySize>;

// Little-endian bytes of a double, spelled out rather than copied from memory.
void PutTime(Record& r, const unsigned char (&bytes)[8])
{
    std::memcpy(r.data(), bytes, 8);
}

void PutText(Record& r, size_t field, unsigned char length, const std::string& bytes)
{
    r[field] = length;
    std::memcpy(r.data() + field + 1, bytes.data(), bytes.size());
}

constexpr size_t kUrl = 8, kSource = 264;

} // namespace

TEST(LogEntry, DecodesTheThreeFieldsAtTheirOffsets)
{
    Record r;
    r.fill(0xCC); // whatever lies after each text
    const unsigned char twoAndAHalf[8] = {0, 0, 0, 0, 0, 0, 0x04, 0x40};
    PutTime(r, twoAndAHalf);
    PutText(r, kUrl, 18, "http://ads.example");
    PutText(r, kSource, 4, "http");

    TLogEntry e;
    DecodeLogEntry(r, e);
    EXPECT_EQ(e.Time, 2.5);
    EXPECT_EQ(e.URL, "http://ads.example");
    EXPECT_EQ(e.Source, "http");
}

TEST(LogEntry, LengthByteDecidesTheText)
{
    const struct {
        unsigned char length;
        std::string stored; // the 255 bytes after the length byte
        std::string expected;
    } cases[] = {
        {0, std::string(255, 'x'), ""}, // garbage after a zero length
        {255, std::string(254, 's') + "t", std::string(254, 's') + "t"}, // all 255
        {3, "abcdef", "abc"},
        {4, std::string("a\0b\xE9", 4), std::string("a\0b\xE9", 4)}, // bytes as they are
    };
    for (const auto& c : cases) {
        Record r{};
        PutText(r, kSource, c.length, c.stored);
        PutText(r, kUrl, c.length, c.stored);
        TLogEntry e;
        e.URL = "left over from the previous record";
        DecodeLogEntry(r, e);
        EXPECT_EQ(e.URL, c.expected) << int(c.length);
        EXPECT_EQ(e.Source, c.expected) << int(c.length);
    }
}

TEST(LogEntry, TimeIsLittleEndianWhateverTheHost)
{
    const struct {
        unsigned char bytes[8];
        double expected;
    } cases[] = {
        {{0, 0, 0, 0, 0, 0, 0, 0}, 0.0},
        {{0, 0, 0, 0, 0, 0, 0xF0, 0x3F}, 1.0},
        {{0, 0, 0, 0, 0, 0, 0xF4, 0xBF}, -1.25},
        {{0, 0, 0, 0, 0, 0xF9, 0xE5, 0x40}, 45000.0},
    };
    for (const auto& c : cases) {
        Record r{};
        PutTime(r, c.bytes);
        TLogEntry e;
        DecodeLogEntry(r, e);
        EXPECT_EQ(e.Time, c.expected);
    }
}

// What the browser helper writes must read back through the page's decoder, bytes after
// each text zero, a text over 255 bytes cut.
TEST(LogEntry, EncodedRecordsDecodeBackAndPadWithZeros)
{
    const struct {
        double time;
        std::string url, source, urlBack;
    } cases[] = {
        {2.5, "http://ads.example.com/x", "http://www.example.com/", "http://ads.example.com/x"},
        {-1.25, "", std::string("a\0\xE9", 3), ""},
        {45000.75, std::string(300, 'u'), "s", std::string(255, 'u')},
    };
    for (const auto& c : cases) {
        Record r;
        r.fill(0xCC);
        history::EncodeLogEntry({c.time, c.url, c.source}, r);
        TLogEntry e;
        DecodeLogEntry(r, e);
        EXPECT_EQ(e.Time, c.time);
        EXPECT_EQ(e.URL, c.urlBack);
        EXPECT_EQ(e.Source, c.source);
        for (size_t i = kUrl + 1 + e.URL.size(); i < kSource; ++i)
            ASSERT_EQ(r[i], 0) << i;
        for (size_t i = kSource + 1 + e.Source.size(); i < kLogEntrySize; ++i)
            ASSERT_EQ(r[i], 0) << i;
    }
    const unsigned char twoAndAHalf[8] = {0, 0, 0, 0, 0, 0, 0x04, 0x40};
    Record r;
    history::EncodeLogEntry({2.5, "", ""}, r);
    EXPECT_EQ(std::memcmp(r.data(), twoAndAHalf, 8), 0); // little-endian on any host
}

TEST(LogEntry, TrimRightDropsTrailingBlanksAndControlsOnly)
{
    const struct {
        std::string text, expected;
    } cases[] = {
        {"http://a.example/  ", "http://a.example/"},
        {"http://a.example/\n", "http://a.example/"},
        {"page\r\n\t \x01\x1F", "page"},
        {std::string("nul\0\0", 5), "nul"},
        {"  leading stays", "  leading stays"},
        {"inner \n stays ", "inner \n stays"},
        {"caf\xE9", "caf\xE9"},   // ANSI letters above 127 are text
        {"nbsp\xA0", "nbsp\xA0"}, // code 160 is not below 33
        {"!", "!"},               // code 33 is the first kept
        {" \t\r\n", ""},
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(history::TrimRight(c.text), c.expected) << c.text;
}

TEST(LogEntry, TimeColumnShowsTheTimeUnlessMidnight)
{
    const struct {
        double time;
        int year, month, day, hour, minute, second;
        bool showTime;
    } cases[] = {
        {0.0, 1899, 12, 30, 0, 0, 0, false},
        {2.5, 1900, 1, 1, 12, 0, 0, true},
        {45000.0, 2023, 3, 15, 0, 0, 0, false},
        {45000.0 + 1.0 / 86400, 2023, 3, 15, 0, 0, 1, true},
        {45000.0 + 0.4 / 86400, 2023, 3, 15, 0, 0, 0, false}, // milliseconds are not shown
        {45001.0 - 1e-12, 2023, 3, 16, 0, 0, 0, false},       // rounds up to the next day
        {-1.25, 1899, 12, 29, 6, 0, 0, true},
        {2958465.0, 9999, 12, 31, 0, 0, 0, false},
    };
    for (const auto& c : cases) {
        settings::DateTime when;
        bool showTime = !c.showTime;
        ASSERT_TRUE(history::SplitLogTime(c.time, when, showTime)) << c.time;
        EXPECT_EQ(when.year, c.year) << c.time;
        EXPECT_EQ(when.month, c.month) << c.time;
        EXPECT_EQ(when.day, c.day) << c.time;
        EXPECT_EQ(when.hour, c.hour) << c.time;
        EXPECT_EQ(when.minute, c.minute) << c.time;
        EXPECT_EQ(when.second, c.second) << c.time;
        EXPECT_EQ(showTime, c.showTime) << c.time;
    }
}

TEST(LogEntry, DamagedTimesAreNoDate)
{
    // A year before 1601 is a date, but not one the platform can format.
    for (double bad :
         {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(), -1e300,
          1e300, 2958466.0, -109206.0 /* 1600-12-31 */}) {
        settings::DateTime when;
        bool showTime = false;
        EXPECT_FALSE(history::SplitLogTime(bad, when, showTime)) << bad;
    }
    settings::DateTime when;
    bool showTime = true;
    EXPECT_TRUE(history::SplitLogTime(-109205.0, when, showTime)); // 1601-01-01
    EXPECT_EQ(when.year, 1601);
}
