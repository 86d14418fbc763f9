#pragma once
// The small pieces of reading an address that rule matching and the History Log's rules
// made from an address must read alike. Platform-free.
#include <algorithm>
#include <string>
#include <string_view>

namespace rules::text {

inline bool IsBlank(char c)
{
    return static_cast<unsigned char>(c) <= ' ';
}

inline std::string_view Trim(std::string_view text)
{
    while (!text.empty() && IsBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

inline bool IsAsciiLetter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

inline bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Only a real scheme name counts, so "example.com/go?to=http://x" keeps no scheme.
inline bool IsSchemeName(std::string_view name)
{
    return !name.empty() && IsAsciiLetter(name.front()) &&
           std::all_of(name.begin(), name.end(), [](char c) {
               return IsAsciiLetter(c) || IsDigit(c) || c == '+' || c == '-' || c == '.';
           });
}

// Folds only A to Z: a host must not match differently with the user's locale.
inline std::string LowerAscii(std::string_view text)
{
    std::string lowered(text);
    for (char& c : lowered)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return lowered;
}

} // namespace rules::text
