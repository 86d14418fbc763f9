#pragma once
// Paths Windows gives in Unicode, made fit for this ANSI program. Never by a best-fit
// conversion: "Łukasz" made "Lukasz" names another user's folder. Below the user interface:
// the browser helper uses it too.
#include <windows.h>

#include <optional>
#include <string>
#include <string_view>

namespace win {

// The text in the ANSI code page when every character has its own counterpart there.
std::optional<std::string> ExactAnsi(std::wstring_view wide);

// The text for the user to read: a character the code page lacks shows as '?'.
std::string AnsiForMessage(std::wstring_view wide);

// A path as the program can use it and as the user can be told of it.
struct AnsiPath {
    // The exact ANSI form, else that of the path's short (8.3) name; empty when neither
    // exists (the path must then not be used).
    std::string usable;
    // As Windows gives it (AnsiForMessage); empty when Windows gives no path at all.
    std::string shown;
    // Why usable is empty, as a sentence for the user; empty when it is not.
    std::string problem;
};

// For a path Windows gave. Without a usable form, GetLastError() is
// ERROR_NO_UNICODE_TRANSLATION. A short name exists only for a path that exists.
AnsiPath ToAnsiPath(const std::wstring& wide);

// The same with a trailing backslash on both forms, for a folder.
AnsiPath ToAnsiFolder(std::wstring wide);

} // namespace win
