#include "settings/LocalTime.h"

#include <windows.h>

#include "settings/OleDate.h"

double NowAsOleDate()
{
    SYSTEMTIME now{};
    GetLocalTime(&now);
    settings::DateTime when;
    when.year = now.wYear;
    when.month = now.wMonth;
    when.day = now.wDay;
    when.hour = now.wHour;
    when.minute = now.wMinute;
    when.second = now.wSecond;
    when.millisecond = now.wMilliseconds;
    return settings::EncodeOleDate(when);
}
