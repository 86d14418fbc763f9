// Any bytes as a log record: decoding stays inside the record, the texts are the bytes
// their length bytes name, and trimming and the time split never misbehave.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "history/LogEntry.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // A short input is the start of a record whose other bytes are zero.
    std::array<unsigned char, history::kLogEntrySize> record{};
    std::memcpy(record.data(), data, size < record.size() ? size : record.size());

    history::TLogEntry entry;
    history::DecodeLogEntry(record, entry);
    if (entry.URL.size() != record[8] || entry.Source.size() != record[264]) __builtin_trap();
    if (std::memcmp(entry.URL.data(), &record[9], entry.URL.size()) != 0 ||
        std::memcmp(entry.Source.data(), &record[265], entry.Source.size()) != 0)
        __builtin_trap();

    std::string trimmed = history::TrimRight(entry.URL);
    if (entry.URL.compare(0, trimmed.size(), trimmed) != 0) __builtin_trap();
    if (!trimmed.empty() && static_cast<unsigned char>(trimmed.back()) < 33) __builtin_trap();
    for (size_t i = trimmed.size(); i < entry.URL.size(); ++i)
        if (static_cast<unsigned char>(entry.URL[i]) >= 33) __builtin_trap();

    settings::DateTime when;
    bool showTime = false;
    if (history::SplitLogTime(entry.Time, when, showTime)) {
        if (when.year < 1601 || when.year > 9999 || when.hour > 23 || when.minute > 59 ||
            when.second > 59)
            __builtin_trap();
        if (showTime != (when.hour || when.minute || when.second)) __builtin_trap();
    }
    return 0;
}
