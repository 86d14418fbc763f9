#include "setup/SetupSystem.h"

#include "app/Paths.h"
#include "win/Vista.h"

namespace setup {

TSetupSystem SystemSetup()
{
    TSetupSystem system;
    system.machineWide = [] { return win::IsVistaOrLater(); };
    system.hasAdministratorRights = [] { return win::HasAdministratorRights(); };
    system.runElevated = [](const std::string& parameters) {
        return win::RunElevated(app::ProgramPath(), parameters, app::ProgramFolder());
    };
    system.startAsDesktopUser = [](const std::string& program, const std::string& folder) {
        return win::ShellExecuteAsDesktopUser(program, "", folder, SW_SHOWNORMAL);
    };
    system.installedPackage = InstalledPackage;
    system.removePackage = RemovePackage;
    return system;
}

TSetupSystem& SetupSystem()
{
    static TSetupSystem system = SystemSetup();
    return system;
}

} // namespace setup
