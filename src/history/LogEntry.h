#pragma once
// The history log's record, as the browser helper appends it: 520 bytes, little-endian,
// no gaps. Platform-free.
#include <cstddef>
#include <span>
#include <string>
#include <string_view>

#include "settings/OleDate.h"

namespace history {

inline constexpr std::size_t kLogEntrySize = 520;
// A length byte, then 255 bytes of which the first "length" are the text.
inline constexpr std::size_t kTextFieldSize = 256;

struct TLogEntry {
    double Time = 0; // OLE Automation date, local time
    std::string URL;
    std::string Source;
};

// Fills every member from one whole record; the bytes after each text's length are ignored.
void DecodeLogEntry(std::span<const unsigned char, kLogEntrySize> record, TLogEntry& entry);

// The record the browser helper appends: the time, then each text cut to its first 255
// bytes (the caller cuts at a character boundary of its code page), the rest zero.
void EncodeLogEntry(const TLogEntry& entry, std::span<unsigned char, kLogEntrySize> record);

// The text without its trailing blanks and control characters (every code below 33); codes
// above 127 are characters of the ANSI code page and stay.
std::string TrimRight(std::string_view text);

// The date and time an entry's Time column shows. False when the value is no date the
// platform can show (out of range, not a number); showTime is false at midnight, when the
// column holds only the date.
bool SplitLogTime(double time, settings::DateTime& when, bool& showTime);

} // namespace history
