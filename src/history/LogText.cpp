#include "history/LogText.h"

#include <windows.h>

namespace history {

std::string LogTimeText(double time)
{
    settings::DateTime when;
    bool showTime = false;
    if (!SplitLogTime(time, when, showTime)) return {};
    SYSTEMTIME st{};
    st.wYear = static_cast<WORD>(when.year);
    st.wMonth = static_cast<WORD>(when.month);
    st.wDay = static_cast<WORD>(when.day);
    st.wDayOfWeek = static_cast<WORD>(when.dayOfWeek);
    st.wHour = static_cast<WORD>(when.hour);
    st.wMinute = static_cast<WORD>(when.minute);
    st.wSecond = static_cast<WORD>(when.second);

    char buffer[128];
    if (GetDateFormatA(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &st, nullptr, buffer, sizeof buffer) <=
        0)
        return {};
    std::string text = buffer;
    if (showTime &&
        GetTimeFormatA(LOCALE_USER_DEFAULT, 0, &st, nullptr, buffer, sizeof buffer) > 0) {
        text += ' ';
        text += buffer;
    }
    return text;
}

std::vector<std::string> LogRowTexts(const TLogEntry& entry)
{
    return {LogTimeText(entry.Time), TrimRight(entry.URL), TrimRight(entry.Source)};
}

} // namespace history
