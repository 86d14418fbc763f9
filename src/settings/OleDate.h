#pragma once
// The OLE Automation date: days since 30 December 1899 00:00 as a double, the fraction
// being the time of day. Before that day the whole part counts back and the fraction
// still counts forward (-1.25 is 29 December 1899 06:00). Platform-free.
#include <cstdint>

namespace settings {

struct DateTime {
    int year = 1899, month = 12, day = 30;
    int hour = 0, minute = 0, second = 0, millisecond = 0;
    int dayOfWeek = 6; // 0 = Sunday
};

double EncodeOleDate(const DateTime& when);
// False for values outside the years 100 to 9999 or not a number.
bool DecodeOleDate(double value, DateTime& when);

} // namespace settings
