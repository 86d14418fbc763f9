#pragma once
// How the ad blocker recognises the file-sharing client's windows by title and class.
// Platform-free: built natively for the sanitizer tests.
#include <cstddef>
#include <string>
#include <string_view>

namespace adblock {

// GetWindowTextA gets six characters, so at most five are copied: enough for the prefix.
inline constexpr int kTitleBufferChars = 6;
// GetClassNameA gets 64 characters: at most 63 of the name.
inline constexpr int kClassBufferChars = 64;

// Folds only A to Z: a class or title must not change with the user's locale
// (a Turkish "I" lower-cases to a dotless i there).
char LowerAscii(char c);
std::string LowerAscii(std::string_view text);

// The characters GetWindowTextA copied into the six-character buffer: the client's main
// window when exactly five were copied and they read "kazaa" in any case.
bool IsKazaaTitle(std::string_view copied);

// A top-level window the user browses with (Internet Explorer, a folder window), by
// lower-cased class name: never the client, whatever its title says.
bool IsUsersBrowsingWindowClass(std::string_view lowered);

// A top-level browser window, by lower-cased class name, asked to close when it runs in
// the client's process.
bool IsBrowserFrameClass(std::string_view lowered);

// What a pass does to one descendant of the client's main window, by lower-cased class.
enum class ChildAction { Leave, EmptyPage, Close };
ChildAction ClassifyChildClass(std::string_view lowered);

} // namespace adblock
