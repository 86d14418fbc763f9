// Stored dates both ways. Raw bytes as a double almost never land in the valid range, so
// most inputs are shaped into it first: a day number and a fraction, or a date's fields.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "settings/OleDate.h"

namespace {

using settings::DateTime;

bool Sane(const DateTime& w)
{
    return w.year >= 100 && w.year <= 10000 && w.month >= 1 && w.month <= 12 && w.day >= 1 &&
           w.day <= 31 && w.hour >= 0 && w.hour <= 23 && w.minute >= 0 && w.minute <= 59 &&
           w.second >= 0 && w.second <= 59 && w.millisecond >= 0 && w.millisecond <= 999 &&
           w.dayOfWeek >= 0 && w.dayOfWeek <= 6;
}

bool SameMoment(const DateTime& a, const DateTime& b)
{
    return a.year == b.year && a.month == b.month && a.day == b.day && a.hour == b.hour &&
           a.minute == b.minute && a.second == b.second && a.millisecond == b.millisecond;
}

int DaysIn(int year, int month)
{
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : days[month - 1];
}

template <typename T> T Take(const uint8_t*& data, size_t& size)
{
    T value{};
    size_t n = size < sizeof value ? size : sizeof value;
    std::memcpy(&value, data, n);
    data += n;
    size -= n;
    return value;
}

// A decoded date encodes to a value that decodes to the same moment.
void CheckDecoded(double value)
{
    DateTime when;
    if (!settings::DecodeOleDate(value, when)) return;
    if (!Sane(when)) __builtin_trap();
    DateTime again;
    if (when.year > 9999) return; // the next midnight after the last day: not encodable back
    if (!settings::DecodeOleDate(settings::EncodeOleDate(when), again) || !SameMoment(when, again))
        __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0) return 0;
    uint8_t mode = Take<uint8_t>(data, size) % 3;
    if (mode == 0) {
        CheckDecoded(Take<double>(data, size));
    } else if (mode == 1) {
        // Whole days within 1 January 100 .. 31 December 9999, and any fraction of a day.
        int64_t days = static_cast<int64_t>(Take<uint32_t>(data, size) % 3615900u) - 657434;
        double fraction = Take<uint32_t>(data, size) / 4294967296.0;
        CheckDecoded(days >= 0 ? days + fraction : days - fraction);
    } else {
        DateTime when;
        when.year = 100 + Take<uint16_t>(data, size) % 9900;
        when.month = 1 + Take<uint8_t>(data, size) % 12;
        when.day = 1 + Take<uint8_t>(data, size) % DaysIn(when.year, when.month);
        when.hour = Take<uint8_t>(data, size) % 24;
        when.minute = Take<uint8_t>(data, size) % 60;
        when.second = Take<uint8_t>(data, size) % 60;
        when.millisecond = Take<uint16_t>(data, size) % 1000;
        double value = settings::EncodeOleDate(when);
        if (value < -657434.0) return 0; // 1 January 100 after midnight: out of range
        DateTime back;
        if (!settings::DecodeOleDate(value, back) || !Sane(back) || !SameMoment(when, back))
            __builtin_trap();
    }
    return 0;
}
