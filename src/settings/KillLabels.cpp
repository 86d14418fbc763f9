#include "settings/KillLabels.h"

#include <windows.h>

#include <string>

std::string KillLabelText(int32_t count, const char* words)
{
    // The user's grouping and separators, with no decimals.
    char decimal[8] = ".", thousand[8] = ",", grouping[16] = "3";
    GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, decimal, sizeof decimal);
    GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_STHOUSAND, thousand, sizeof thousand);
    GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SGROUPING, grouping, sizeof grouping);
    NUMBERFMTA format{};
    format.NumDigits = 0;
    format.LeadingZero = 1;
    format.Grouping = grouping[0] >= '0' && grouping[0] <= '9' ? grouping[0] - '0' : 3;
    format.lpDecimalSep = decimal;
    format.lpThousandSep = thousand;
    format.NegativeOrder = 1;
    std::string digits = std::to_string(count);
    char text[64] = {};
    if (GetNumberFormatA(LOCALE_USER_DEFAULT, 0, digits.c_str(), &format, text, sizeof text) <= 0)
        return digits + words;
    return std::string(text) + words;
}
