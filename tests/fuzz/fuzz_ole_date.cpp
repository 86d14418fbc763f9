// Any 8 bytes as a stored date: decoding never misbehaves, and a decoded date is sane.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "settings/OleDate.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size != sizeof(double)) return 0;
    double value;
    std::memcpy(&value, data, sizeof value);
    settings::DateTime when;
    if (!settings::DecodeOleDate(value, when)) return 0;
    if (when.month < 1 || when.month > 12 || when.day < 1 || when.day > 31 || when.hour > 23 ||
        when.minute > 59 || when.second > 59 || when.millisecond > 999 || when.dayOfWeek < 0 ||
        when.dayOfWeek > 6)
        __builtin_trap();
    return 0;
}
