#include "app/ShellOpen.h"

#include <shellapi.h>

#include "win/Error.h"
#include "win/Identity.h"

namespace app {

std::function<void(HWND owner, const std::string& target)> ShellOpenHook;

void ShellOpen(HWND owner, const std::string& target, int show)
{
    if (ShellOpenHook) {
        ShellOpenHook(owner, target);
        return;
    }
    // An address any page can plant in the log must not open as the administrator.
    if (!win::IsElevated()) {
        ShellExecuteA(owner, "open", target.c_str(), nullptr, nullptr, show);
        return;
    }
    if (!win::ShellExecuteAsDesktopUser(target, "", "", show))
        throw win::EQuellorError("Quellor runs as an administrator, and the desktop could not "
                                 "open " +
                                 target +
                                 " for you. Start Quellor without administrator rights "
                                 "to open it from here");
}

} // namespace app
