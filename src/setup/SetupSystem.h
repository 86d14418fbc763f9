#pragma once
// What setup asks the system about who runs it. Under Wine every process is a full
// administrator and Windows 7, so tests put their own answers here; the product never does.
#include <functional>
#include <string>

#include "setup/Package.h"
#include "win/Identity.h"

namespace setup {

struct TSetupSystem {
    // Windows Vista and later: installed for the machine, each user's part done by the tray
    // program as that user. Before, everything is the installing user's, as it always was.
    std::function<bool()> machineWide;
    std::function<bool()> hasAdministratorRights;
    // This program again, with the elevation prompt, and its exit code.
    std::function<win::ElevatedRun(const std::string& parameters)> runElevated;
    // This program as the desktop's own user, without elevation.
    std::function<bool(const std::string& program, const std::string& folder)> startAsDesktopUser;
    // The Windows Installer package that installed Quellor here, and its removal by the
    // Windows Installer (setup/Package.h).
    std::function<TInstalledPackage()> installedPackage;
    std::function<win::ElevatedRun(const std::string& productCode)> removePackage;
};

// The system's own answers.
TSetupSystem SystemSetup();

// The answers setup uses: the system's, unless a test put its own.
TSetupSystem& SetupSystem();

} // namespace setup
