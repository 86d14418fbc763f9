#include "app/ShellOpen.h"

#include <shellapi.h>

namespace app {

std::function<void(HWND owner, const std::string& target)> ShellOpenHook;

void ShellOpen(HWND owner, const std::string& target)
{
    if (ShellOpenHook) {
        ShellOpenHook(owner, target);
        return;
    }
    ShellExecuteA(owner, "open", target.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

} // namespace app
