#pragma once
#include <windows.h>

#include <functional>
#include <string>

namespace app {

// Addresses handed to the shell to open with the user's own program for them (the "open"
// verb) go through here; tests record the requests instead.
void ShellOpen(HWND owner, const std::string& target);
extern std::function<void(HWND owner, const std::string& target)> ShellOpenHook;

} // namespace app
