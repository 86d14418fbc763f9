#pragma once
#include <windows.h>

#include <functional>
#include <string>

namespace app {

// Addresses handed to the shell to open with the user's own program for them (the "open"
// verb) go through here; tests record the requests instead. Never with more rights than
// the desktop's user: an elevated Quellor has the desktop's shell open them, and raises an
// error where that shell cannot be had.
void ShellOpen(HWND owner, const std::string& target, int show = SW_SHOWNORMAL);
extern std::function<void(HWND owner, const std::string& target)> ShellOpenHook;

} // namespace app
