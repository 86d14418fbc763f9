#include "win/AnsiPath.h"

#include <vector>

namespace win {

namespace {

// Lengths the conversion calls take: a path never comes near the limit.
int Length(size_t size)
{
    return size > 0x7FFFFFFF ? -1 : static_cast<int>(size);
}

std::wstring WideOf(std::string_view ansi)
{
    int length = MultiByteToWideChar(CP_ACP, 0, ansi.data(), Length(ansi.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(length > 0 ? length : 0), L'\0');
    if (length > 0)
        MultiByteToWideChar(CP_ACP, 0, ansi.data(), Length(ansi.size()), wide.data(), length);
    return wide;
}

std::optional<std::string> Shortened(const std::wstring& wide)
{
    DWORD size = GetShortPathNameW(wide.c_str(), nullptr, 0);
    if (size == 0) return std::nullopt;
    std::vector<wchar_t> buffer(size);
    DWORD length = GetShortPathNameW(wide.c_str(), buffer.data(), size);
    if (length == 0 || length >= size) return std::nullopt;
    return ExactAnsi(std::wstring_view(buffer.data(), length));
}

} // namespace

std::optional<std::string> ExactAnsi(std::wstring_view wide)
{
    if (wide.empty()) return std::string();
    // A UTF-8 code page holds every character, and refuses the best-fit flag.
    const bool utf8 = GetACP() == CP_UTF8;
    const DWORD flags = utf8 ? 0 : WC_NO_BEST_FIT_CHARS;
    BOOL lossy = FALSE;
    BOOL* lossyOut = utf8 ? nullptr : &lossy;
    const int wideLength = Length(wide.size());
    int size =
        WideCharToMultiByte(CP_ACP, flags, wide.data(), wideLength, nullptr, 0, nullptr, lossyOut);
    if (size <= 0 || lossy) return std::nullopt;
    std::string ansi(static_cast<size_t>(size), '\0');
    if (WideCharToMultiByte(CP_ACP, flags, wide.data(), wideLength, ansi.data(), size, nullptr,
                            lossyOut) != size ||
        lossy)
        return std::nullopt;
    // Back again to the same characters, or it is not the same path.
    if (WideOf(ansi) != wide) return std::nullopt;
    return ansi;
}

std::string AnsiForMessage(std::wstring_view wide)
{
    if (wide.empty()) return {};
    const bool utf8 = GetACP() == CP_UTF8;
    const DWORD flags = utf8 ? 0 : WC_NO_BEST_FIT_CHARS;
    const char* unknown = utf8 ? nullptr : "?";
    const int wideLength = Length(wide.size());
    int size =
        WideCharToMultiByte(CP_ACP, flags, wide.data(), wideLength, nullptr, 0, unknown, nullptr);
    if (size <= 0) return std::string(wide.size(), '?');
    std::string text(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_ACP, flags, wide.data(), wideLength, text.data(), size, unknown,
                        nullptr);
    return text;
}

AnsiPath ToAnsiPath(const std::wstring& wide)
{
    AnsiPath path;
    path.shown = AnsiForMessage(wide);
    if (wide.empty()) return path;
    // The short name has no character outside the code page, where the volume keeps one.
    std::optional<std::string> usable = ExactAnsi(wide);
    if (!usable) usable = Shortened(wide);
    if (usable && !usable->empty()) {
        path.usable = std::move(*usable);
        return path;
    }
    path.problem = "Its name has characters that the system's code page lacks, and it has no "
                   "short name.";
    SetLastError(ERROR_NO_UNICODE_TRANSLATION);
    return path;
}

AnsiPath ToAnsiFolder(std::wstring wide)
{
    if (!wide.empty() && wide.back() != L'\\') wide += L'\\';
    return ToAnsiPath(wide);
}

} // namespace win
