#include "settings/OleDate.h"

#include <cmath>

namespace settings {

namespace {

// Days from 1970-01-01 to a civil date (proleptic Gregorian).
int64_t DaysFromCivil(int64_t y, int m, int d)
{
    y -= m <= 2;
    int64_t era = (y >= 0 ? y : y - 399) / 400;
    int64_t yoe = y - era * 400;
    int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

void CivilFromDays(int64_t z, int& year, int& month, int& day)
{
    z += 719468;
    int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    int64_t doe = z - era * 146097;
    int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    int64_t y = yoe + era * 400;
    int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    int64_t mp = (5 * doy + 2) / 153;
    day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    year = static_cast<int>(y + (month <= 2));
}

const int64_t kEpoch = DaysFromCivil(1899, 12, 30);
constexpr int64_t kMsPerDay = 86400000;

} // namespace

double EncodeOleDate(const DateTime& when)
{
    int64_t days = DaysFromCivil(when.year, when.month, when.day) - kEpoch;
    double time = static_cast<double>(((when.hour * 60 + when.minute) * 60 + when.second) * 1000 +
                                      when.millisecond) /
                  kMsPerDay;
    return days >= 0 ? static_cast<double>(days) + time : static_cast<double>(days) - time;
}

bool DecodeOleDate(double value, DateTime& when)
{
    // 1 January 100 to 31 December 9999, as the platform's own conversions allow.
    if (!(value >= -657434.0 && value < 2958466.0)) return false;
    double whole = value >= 0 ? std::floor(value) : std::ceil(value);
    int64_t days = static_cast<int64_t>(whole);
    int64_t ms = std::llround(std::fabs(value - whole) * kMsPerDay);
    if (ms >= kMsPerDay) { // rounded up to the next midnight
        // The time counts forward from the day's start on both sides of 1899-12-30, so
        // the next midnight is always the next calendar day.
        ms -= kMsPerDay;
        days += 1;
    }
    int64_t civil = days + kEpoch;
    CivilFromDays(civil, when.year, when.month, when.day);
    when.dayOfWeek = static_cast<int>(((civil % 7) + 7 + 4) % 7); // 1970-01-01 was a Thursday
    when.hour = static_cast<int>(ms / 3600000);
    when.minute = static_cast<int>(ms / 60000 % 60);
    when.second = static_cast<int>(ms / 1000 % 60);
    when.millisecond = static_cast<int>(ms % 1000);
    return true;
}

} // namespace settings
