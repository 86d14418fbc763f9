#pragma once
// Quellor as the Windows Installer package (data/installer/quellor.wxs) installs it: the
// package notes its product code, and only the Windows Installer may remove what it installed.
#include <string>

#include "win/Identity.h"

namespace setup {

// Under HKEY_LOCAL_MACHINE, in the 32-bit view on 64-bit Windows: both packages write it
// there, as the 32-bit tray program reads it.
inline constexpr char kPackageKey[] = "Software\\Tandrel\\Quellor";

struct TInstalledPackage {
    // {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}; "" when no package installed Quellor on this
    // machine, or the value is anything else.
    std::string productCode;
    std::string folder; // the program folder, with a trailing backslash
};
TInstalledPackage InstalledPackage();

// msiexec /x on the product, with the Windows Installer's own progress and, for a user who
// needs one, its elevation prompt; never restarts Windows. Waits, handling this thread's
// messages, and gives msiexec's exit code (ERROR_SUCCESS_REBOOT_REQUIRED when a file in use
// goes at the next restart).
win::ElevatedRun RemovePackage(const std::string& productCode);

} // namespace setup
