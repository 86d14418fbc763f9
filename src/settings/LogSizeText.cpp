#include "settings/LogSizeText.h"

namespace settings {

std::optional<int> LogSizeFromText(const std::string& text, int low, int high)
{
    size_t begin = text.find_first_not_of(" \t");
    if (begin == std::string::npos) return std::nullopt;
    size_t end = text.find_last_not_of(" \t") + 1;

    size_t i = begin;
    bool negative = false;
    if (text[i] == '+' || text[i] == '-') negative = text[i++] == '-';
    if (i == end) return std::nullopt;

    // Saturates instead of overflowing: any long run of digits is simply "too big".
    long long value = 0;
    for (; i < end; ++i) {
        char c = text[i];
        if (c < '0' || c > '9') return std::nullopt;
        if (value < 1'000'000'000'000LL) value = value * 10 + (c - '0');
    }
    if (negative) value = -value;
    if (value < low) return low;
    if (value > high) return high;
    return static_cast<int>(value);
}

} // namespace settings
