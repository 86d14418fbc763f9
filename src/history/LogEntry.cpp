#include "history/LogEntry.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <limits>

namespace history {

// Written and read byte by byte, so a 32-bit and a 64-bit helper write the same record: an
// 8-byte IEEE 754 time, then the two text fields.
static_assert(std::numeric_limits<double>::is_iec559 && sizeof(double) == 8);
static_assert(8 + 2 * kTextFieldSize == kLogEntrySize);

namespace {

// The file is little-endian whatever the host is.
double ReadDouble(const unsigned char* bytes)
{
    uint64_t bits = 0;
    for (int i = 7; i >= 0; --i)
        bits = bits << 8 | bytes[i];
    return std::bit_cast<double>(bits);
}

void ReadText(const unsigned char* field, std::string& text)
{
    text.assign(reinterpret_cast<const char*>(field + 1), field[0]);
}

void WriteDouble(double value, unsigned char* bytes)
{
    uint64_t bits = std::bit_cast<uint64_t>(value);
    for (int i = 0; i < 8; ++i, bits >>= 8)
        bytes[i] = static_cast<unsigned char>(bits & 0xFF);
}

void WriteText(std::string_view text, unsigned char* field)
{
    size_t length = std::min(text.size(), kTextFieldSize - 1);
    field[0] = static_cast<unsigned char>(length);
    std::memcpy(field + 1, text.data(), length);
}

} // namespace

void EncodeLogEntry(const TLogEntry& entry, std::span<unsigned char, kLogEntrySize> record)
{
    std::fill(record.begin(), record.end(), 0);
    WriteDouble(entry.Time, record.data());
    WriteText(entry.URL, record.data() + 8);
    WriteText(entry.Source, record.data() + 8 + kTextFieldSize);
}

void DecodeLogEntry(std::span<const unsigned char, kLogEntrySize> record, TLogEntry& entry)
{
    entry.Time = ReadDouble(record.data());
    ReadText(record.data() + 8, entry.URL);
    ReadText(record.data() + 8 + kTextFieldSize, entry.Source);
}

std::string TrimRight(std::string_view text)
{
    size_t end = text.size();
    while (end > 0 && static_cast<unsigned char>(text[end - 1]) < 33)
        --end;
    return std::string(text.substr(0, end));
}

bool SplitLogTime(double time, settings::DateTime& when, bool& showTime)
{
    // The platform's date calls know no year before 1601.
    if (!settings::DecodeOleDate(time, when) || when.year < 1601) return false;
    showTime = when.hour != 0 || when.minute != 0 || when.second != 0;
    return true;
}

} // namespace history
