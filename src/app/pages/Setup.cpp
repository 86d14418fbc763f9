// Installation and uninstallation from the command line.
#include <windows.h>

#include <shlobj.h>

#include <cctype>
#include <utility>

#include "app/CommandLine.h"
#include "app/Paths.h"
#include "app/UserData.h"
#include "app/frmMain.h"
#include "helper_contract/HelperContract.h"
#include "setup/FolderLocations.h"
#include "setup/HelperRegistration.h"
#include "setup/SetupOps.h"
#include "setup/SetupSystem.h"
#include "win/Error.h"
#include "win/Files.h"
#include "win/Handles.h"
#include "win/Identity.h"

namespace {

const char kUninstallRoot[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

std::string ProductName()
{
    return ui::Application().Title;
}

void WriteUninstallValue(HKEY key, const char* name, const std::string& data)
{
    if (!key || RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                               static_cast<DWORD>(data.size() + 1)) != ERROR_SUCCESS)
        throw win::EQuellorError(std::string("Failed to set data for '") + name + "'");
}

void WriteUninstallNumber(HKEY key, const char* name, DWORD data)
{
    if (!key || RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data),
                               sizeof data) != ERROR_SUCCESS)
        throw win::EQuellorError(std::string("Failed to set data for '") + name + "'");
}

// Add or Remove Programs shows this as the program's size: the files of its folder.
DWORD FolderSizeKB(const std::string& folder)
{
    unsigned long long bytes = 0;
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA((folder + "*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return 0;
    do {
        if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            bytes +=
                (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    } while (FindNextFileA(find, &data));
    FindClose(find);
    return static_cast<DWORD>((bytes + 1023) / 1024);
}

struct UninstallEntry {
    std::string version, homePage;
};

void WriteUninstallEntry(const UninstallEntry& entry)
{
    const std::string programPath = app::ProgramPath();
    const std::string folder = app::ProgramFolder();
    win::RegKey key;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, (kUninstallRoot + ProductName()).c_str(), 0, nullptr,
                        REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, key.put(),
                        nullptr) != ERROR_SUCCESS)
        key.reset();
    WriteUninstallValue(key.get(), "DisplayName", ProductName());
    // Quoted: unquoted, a path with blanks would let Windows start C:\Program.exe instead.
    WriteUninstallValue(key.get(), "UninstallString", "\"" + programPath + "\" -u");
    WriteUninstallValue(key.get(), "DisplayIcon", programPath + ",0");
    WriteUninstallValue(key.get(), "DisplayVersion", entry.version);
    WriteUninstallValue(key.get(), "Publisher", "Tandrel");
    // The installer offers this folder again when a newer version is installed over it.
    WriteUninstallValue(key.get(), "InstallLocation", folder.substr(0, folder.size() - 1));
    WriteUninstallValue(key.get(), "URLInfoAbout", entry.homePage);
    WriteUninstallValue(key.get(), "HelpLink", entry.homePage);
    // Installing again is the only repair; there is nothing to modify.
    WriteUninstallNumber(key.get(), "NoModify", 1);
    WriteUninstallNumber(key.get(), "NoRepair", 1);
    WriteUninstallNumber(key.get(), "EstimatedSize", FolderSizeKB(folder));
}

void ScheduleDeletion(const std::string& path)
{
    MoveFileExA(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
}

// Without its own path, setup would find its files relative to the current folder and
// could delete another program's.
bool HaveProgramPath(const std::string& programPath)
{
    if (!programPath.empty()) return true;
    ui::Application().ShowMessageBox(
        "The path of the program file could not be read, so nothing was changed.",
        ui::Application().Title, MB_OK | MB_ICONERROR);
    return false;
}

// Where the Startup shortcut and the program group go: the installing user's own folders
// before Windows Vista, the machine's (every user's) from Vista on.
struct ShortcutFolders {
    std::string startup, programs;
    std::string Group() const
    {
        return programs.empty() ? std::string() : programs + ProductName();
    }
};

ShortcutFolders UserShortcutFolders()
{
    return {setup::FolderLocations().StartupDir, setup::FolderLocations().ProgramsDir};
}

ShortcutFolders MachineShortcutFolders()
{
    return {setup::FolderLocations().CommonStartupDir, setup::FolderLocations().CommonProgramsDir};
}

void CreateShortcuts(const ShortcutFolders& folders)
{
    const std::string product = ProductName();
    const std::string programPath = app::ProgramPath();
    const std::string folder = app::ProgramFolder();
    const std::string group = folders.Group();
    setup::CreateShortcut(product, product, programPath, folders.startup, folder, programPath, 0,
                          "");
    setup::CreateShortcut(product, product, programPath, group, folder, programPath, 0, "");
    setup::CreateShortcut(product + " Help", product + " Help", app::HelpShortcutTarget(), group,
                          folder, "", 0, "");
    setup::CreateShortcut("License Agreement", "License Agreement", folder + "license.txt", group,
                          folder, "", 0, "");
}

// A folder Windows could not give is skipped: its name alone would be a file of the
// current folder.
void DeleteShortcuts(const ShortcutFolders& folders)
{
    const std::string product = ProductName();
    const std::string group = folders.Group();
    if (!folders.startup.empty()) DeleteFileA((folders.startup + product + ".lnk").c_str());
    if (group.empty()) return;
    DeleteFileA((group + "\\" + product + ".lnk").c_str());
    DeleteFileA((group + "\\" + product + " Help.lnk").c_str());
    DeleteFileA((group + "\\License Agreement.lnk").c_str());
    RemoveDirectoryA(group.c_str());
}

// What the machine's part of an uninstallation reports to the user's part that asked for it,
// as the elevated process's exit code.
enum MachinePart : int { kMachineDone = 0, kMachineIncomplete = 1, kMachineNoRights = 2 };

void ShowNotUninstalled(const std::string& reason, UINT icon)
{
    ui::TApplication& application = ui::Application();
    application.ShowMessageBox(ProductName() + " was not uninstalled: " + reason +
                                   " Nothing was removed.",
                               application.Title, MB_OK | icon);
}

// Another Quellor already in the tray of this desktop, as when setup is run again to repair.
bool TrayProgramRunningElsewhere()
{
    HWND window = nullptr;
    while ((window = FindWindowExA(nullptr, window, contract::kMainWindowClass,
                                   contract::kMainWindowCaption)) != nullptr) {
        DWORD process = 0;
        GetWindowThreadProcessId(window, &process);
        if (process != GetCurrentProcessId()) return true;
    }
    return false;
}

} // namespace

void TfrmMain::Install()
{
    ui::TApplication& application = ui::Application();
    const std::string product = ProductName();
    const std::string programPath = app::ProgramPath();
    if (!HaveProgramPath(programPath)) return;
    setup::TSetupSystem& system = setup::SetupSystem();
    const bool machineWide = system.machineWide();

    if (machineWide && !system.hasAdministratorRights()) {
        // A prompt without elevation: the elevated copy does it all, the tray's start too.
        win::ElevatedRun run = system.runElevated("/i");
        if (run.outcome == win::ElevatedRun::Outcome::Refused)
            application.ShowMessageBox(product + " was not installed: installing it needs an "
                                                 "administrator's permission, which was not given.",
                                       application.Title, MB_OK | MB_ICONWARNING);
        else if (run.outcome == win::ElevatedRun::Outcome::Failed)
            application.ShowMessageBox(product + " was not installed: " +
                                           win::SystemErrorText(HRESULT_FROM_WIN32(run.error)),
                                       application.Title, MB_OK | MB_ICONERROR);
        return;
    }

    const bool installed = InstallForMachine(machineWide);
    if (!machineWide) {
        if (installed)
            application.ShowMessageBox(product +
                                           " has been successfully installed and is now running.",
                                       application.Title, MB_OK);
        return; // this process goes on as the tray program, as it always did
    }
    // This process may be another account's, and elevated: the tray program is started as
    // the desktop's own user, and this one ends.
    const bool running = TrayProgramRunningElsewhere() ||
                         system.startAsDesktopUser(programPath, app::ProgramFolder());
    if (!installed) return;
    application.ShowMessageBox(
        running ? product + " has been successfully installed and is now running."
                : product +
                      " has been successfully installed. It starts when you next log on; "
                      "to start it now, choose " +
                      product + " in the Start menu.",
        application.Title, MB_OK);
}

bool TfrmMain::InstallForMachine(bool machineWide)
{
    ui::TApplication& application = ui::Application();
    const std::string product = ProductName();

    // On 64-bit Windows the 64-bit library too; a failure leaves neither registered.
    const std::vector<setup::THelperLibrary> libraries =
        setup::HelperLibraries(app::HelperLibraryPath(), setup::Is64BitWindows());
    for (size_t i = 0; i < libraries.size(); ++i) {
        if (!libraries[i].registered || setup::RegisterHelper(libraries[i])) continue;
        for (size_t done = 0; done < i; ++done)
            if (libraries[done].registered) setup::UnregisterHelper(libraries[done]);
        application.ShowMessageBox(product + " installation FAILED. Unable to register " +
                                       libraries[i].shownName,
                                   application.Title, MB_OK);
        return false;
    }
    try {
        if (machineWide) {
            // Once for every user, in the machine's folders; the shortcuts an older version
            // gave the installing account alone would start Quellor a second time.
            const ShortcutFolders machine = MachineShortcutFolders();
            for (const auto& [path, csidl] : {std::pair{machine.startup, CSIDL_COMMON_STARTUP},
                                              std::pair{machine.programs, CSIDL_COMMON_PROGRAMS}})
                if (path.empty()) {
                    std::string folder = setup::SpecialFolderForMessage(csidl);
                    folder[0] = static_cast<char>(toupper(static_cast<unsigned char>(folder[0])));
                    throw win::EQuellorError(folder +
                                             " cannot be used, so no shortcut could be made");
                }
            DeleteShortcuts(UserShortcutFolders());
            CreateShortcuts(machine);
        } else {
            CreateShortcuts(UserShortcutFolders());
        }
        // Install runs before the form reads its version; the entry shows the same one.
        ReadVersion();
        WriteUninstallEntry({std::to_string(VersionMajor) + "." + std::to_string(VersionMinor) +
                                 "." + std::to_string(VersionRelease) + "." +
                                 std::to_string(VersionBuild),
                             lblWebsiteHyperlink.Text()});
    } catch (const std::exception& e) {
        // Install reports its own failures and always goes back to the normal start.
        application.ShowMessageBox(ui::ErrorBoxText(e.what()), application.Title,
                                   MB_OK | MB_ICONERROR);
        return false;
    } catch (...) {
        application.ShowMessageBox(ui::ErrorBoxText("Unexpected error"), application.Title,
                                   MB_OK | MB_ICONERROR);
        return false;
    }
    return true;
}

void TfrmMain::RemoveOldUserShortcuts()
{
    // Installed for the machine: the user's own Startup shortcut, left by an older version,
    // would start a second Quellor at every logon.
    if (!setup::SetupSystem().machineWide()) return;
    const ShortcutFolders user = UserShortcutFolders(), machine = MachineShortcutFolders();
    const std::string link = ProductName() + ".lnk";
    if (user.startup.empty() || machine.startup.empty() || !win::FileExists(user.startup + link) ||
        !win::FileExists(machine.startup + link))
        return;
    DeleteShortcuts(user);
}

void TfrmMain::Uninstall()
{
    ui::TApplication& application = ui::Application();
    const std::string product = ProductName();
    const std::string programPath = app::ProgramPath();
    if (!HaveProgramPath(programPath)) return;
    setup::TSetupSystem& system = setup::SetupSystem();

    // The elevated part another Quellor asked for: the user already said yes there.
    if (app::HasWord(app::CommandArguments(GetCommandLineA(), programPath),
                     app::kMachinePartSwitch)) {
        application.ExitCode = UninstallForMachine();
        return;
    }
    if (application.ShowMessageBox("Do you wish to completely uninstall " + product, "Confirm",
                                   MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON1) != IDYES)
        return;

    // The package's files and keys are the Windows Installer's to remove: removed behind its
    // back, it would repair them, or keep listing a product that is gone.
    if (const setup::TInstalledPackage package = system.installedPackage();
        !package.productCode.empty()) {
        UninstallPackage(package.productCode, package.folder);
        return;
    }

    if (!system.machineWide()) {
        // Everything is the user's, in the order it always went.
        DeleteShortcuts(UserShortcutFolders());
        RemoveProductFiles();
        if (RemoveRegistrationAndProgram()) ShowUninstalled();
        return;
    }

    // The machine's part first, with the rights it needs: until it is done, the user's
    // rules and history stay.
    int machine = kMachineNoRights;
    if (system.hasAdministratorRights()) {
        machine = UninstallForMachine();
    } else {
        win::ElevatedRun run = system.runElevated(std::string("/u ") + app::kMachinePartSwitch);
        if (run.outcome == win::ElevatedRun::Outcome::Refused) {
            ShowNotUninstalled("removing it from this computer needs an administrator's "
                               "permission, which was not given.",
                               MB_ICONWARNING);
            return;
        }
        if (run.outcome == win::ElevatedRun::Outcome::Failed) {
            ShowNotUninstalled(win::SystemErrorText(HRESULT_FROM_WIN32(run.error)), MB_ICONERROR);
            return;
        }
        machine = static_cast<int>(run.exitCode);
    }
    if (machine == kMachineNoRights) {
        ShowNotUninstalled("removing it from this computer needs an administrator's rights.",
                           MB_ICONERROR);
        return;
    }
    // Incomplete: the machine's part said what it left. Anything else: it ended abnormally.
    if (machine != kMachineDone) {
        if (machine != kMachineIncomplete)
            application.ShowMessageBox(product + " was not uninstalled completely. Your rules "
                                                 "and history were kept.",
                                       application.Title, MB_OK | MB_ICONERROR);
        return;
    }
    // The user's own: shortcuts an older version made, the rule file, the log.
    DeleteShortcuts(UserShortcutFolders());
    app::RemoveUserData();
    ShowUninstalled();
}

int TfrmMain::UninstallForMachine()
{
    if (!setup::SetupSystem().hasAdministratorRights()) return kMachineNoRights;
    DeleteShortcuts(MachineShortcutFolders());
    RemoveProductFiles();
    return RemoveRegistrationAndProgram() ? kMachineDone : kMachineIncomplete;
}

void TfrmMain::UninstallPackage(const std::string& productCode, const std::string& folder)
{
    setup::TSetupSystem& system = setup::SetupSystem();
    const win::ElevatedRun run = system.removePackage(productCode);
    const DWORD result = run.outcome == win::ElevatedRun::Outcome::Ran ? run.exitCode : run.error;
    // A file a running program holds goes at the next restart, as the installer's do.
    if (run.outcome != win::ElevatedRun::Outcome::Ran ||
        (result != ERROR_SUCCESS && result != ERROR_SUCCESS_REBOOT_REQUIRED &&
         result != ERROR_SUCCESS_REBOOT_INITIATED)) {
        // The Windows Installer undoes a removal that fails.
        ShowNotUninstalled(win::SystemErrorText(HRESULT_FROM_WIN32(result)),
                           result == ERROR_INSTALL_USEREXIT ? MB_ICONWARNING : MB_ICONERROR);
        return;
    }
    // The program file this process runs from, when it is the package's, cannot be deleted
    // now: it goes at the next restart, with its folder, as the installer's does.
    const std::string programPath = app::ProgramPath();
    if (lstrcmpiA(folder.c_str(), app::ProgramFolder().c_str()) == 0 &&
        win::FileExists(programPath)) {
        ScheduleDeletion(programPath);
        ScheduleDeletion(folder);
    }
    // The user's own: shortcuts an older version made, the rule file, the log (before Vista,
    // in the program folder).
    DeleteShortcuts(UserShortcutFolders());
    if (system.machineWide())
        app::RemoveUserData();
    else
        RemoveProductFiles();
    ShowUninstalled();
}

void TfrmMain::RemoveProductFiles()
{
    const std::string folder = app::ProgramFolder();
    for (const char* file : {"license.txt", "quellor.chm", "quellor.rul", "quellor.log",
                             "gunshot.wav", "whoosh.wav", "laser.wav"})
        DeleteFileA((folder + file).c_str());
    // Before Vista nothing: the user's files are the program folder's, just deleted.
    if (!setup::SetupSystem().machineWide()) app::RemoveUserData();
}

bool TfrmMain::RemoveRegistrationAndProgram()
{
    ui::TApplication& application = ui::Application();
    const std::string product = ProductName();
    const std::string folder = app::ProgramFolder();

    ScheduleDeletion(folder + "quellor.exe");
    std::string left;
    // Each library in its own registry view; the 64-bit one, unused on 32-bit Windows, is
    // only deleted there, so that the folder can go.
    for (const setup::THelperLibrary& library :
         setup::HelperLibraries(app::HelperLibraryPath(), setup::Is64BitWindows())) {
        const REGSAM view = library.View();
        if (library.registered && !setup::UnregisterHelper(library)) {
            left += setup::RemoveMachineKey(contract::kHelperKey, view);
            application.ShowMessageBox("Unregister of " + library.shownName +
                                           " failed. The file will be removed after reboot.",
                                       application.Title, MB_OK);
        } else if (library.registered && setup::MachineKeyExists(contract::kHelperKey, view)) {
            // Registered off, yet its key is still there: removed here where we may.
            left += setup::RemoveMachineKey(contract::kHelperKey, view);
        }
        ScheduleDeletion(folder + library.fixedName);
    }
    ScheduleDeletion(folder);
    left += setup::RemoveMachineKey(kUninstallRoot + product, 0);

    // A user without the rights to these keys would otherwise be told all went well while
    // Internet Explorer still loads the helper, or the entry stays in the program list.
    if (left.empty()) return true;
    const std::string text =
        product + " was uninstalled, but these registry keys could not be removed:\r\n\r\n";
    application.ShowMessageBox(text + left, application.Title, MB_OK | MB_ICONERROR, nullptr);
    return false;
}

void TfrmMain::ShowUninstalled()
{
    ui::Application().ShowMessageBox(ProductName() + " has been successfully uninstalled.",
                                     "Uninstall Completed", MB_OK | MB_ICONINFORMATION, nullptr);
}
