// Installation and uninstallation from the command line.
#include <windows.h>

#include "app/Paths.h"
#include "app/UserData.h"
#include "app/frmMain.h"
#include "helper_contract/HelperContract.h"
#include "setup/FolderLocations.h"
#include "setup/HelperRegistration.h"
#include "setup/SetupOps.h"
#include "win/Error.h"
#include "win/Handles.h"

namespace {

const char kUninstallRoot[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

std::string ProductName()
{
    return ui::Application().Title;
}

std::string ProgramGroup()
{
    return setup::FolderLocations().ProgramsDir + ProductName();
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

} // namespace

void TfrmMain::Install()
{
    ui::TApplication& application = ui::Application();
    const std::string product = ProductName();
    const std::string programPath = app::ProgramPath();
    const std::string folder = app::ProgramFolder();
    if (!HaveProgramPath(programPath)) return;

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
        return;
    }
    try {
        const std::string startup = setup::FolderLocations().StartupDir;
        const std::string group = ProgramGroup();
        setup::CreateShortcut(product, product, programPath, startup, folder, programPath, 0, "");
        setup::CreateShortcut(product, product, programPath, group, folder, programPath, 0, "");
        setup::CreateShortcut(product + " Help", product + " Help", app::HelpShortcutTarget(),
                              group, folder, "", 0, "");
        setup::CreateShortcut("License Agreement", "License Agreement", folder + "license.txt",
                              group, folder, "", 0, "");
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
        return;
    } catch (...) {
        application.ShowMessageBox(ui::ErrorBoxText("Unexpected error"), application.Title,
                                   MB_OK | MB_ICONERROR);
        return;
    }
    application.ShowMessageBox(product + " has been successfully installed and is now running.",
                               application.Title, MB_OK);
}

void TfrmMain::Uninstall()
{
    ui::TApplication& application = ui::Application();
    const std::string product = ProductName();
    const std::string programPath = app::ProgramPath();
    const std::string folder = app::ProgramFolder();
    const std::string group = ProgramGroup();
    if (!HaveProgramPath(programPath)) return;

    if (application.ShowMessageBox("Do you wish to completely uninstall " + product, "Confirm",
                                   MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON1) != IDYES)
        return;

    DeleteFileA((setup::FolderLocations().StartupDir + product + ".lnk").c_str());
    DeleteFileA((group + "\\" + product + ".lnk").c_str());
    DeleteFileA((group + "\\" + product + " Help.lnk").c_str());
    DeleteFileA((group + "\\License Agreement.lnk").c_str());
    RemoveDirectoryA(group.c_str());

    for (const char* file : {"license.txt", "quellor.chm", "quellor.rul", "quellor.log",
                             "gunshot.wav", "whoosh.wav", "laser.wav"})
        DeleteFileA((folder + file).c_str());
    // From Windows Vista on the rule file and the log are the user's own, apart.
    app::RemoveUserData();

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
    if (!left.empty()) {
        const std::string text =
            product + " was uninstalled, but these registry keys could not be removed:\r\n\r\n";
        application.ShowMessageBox(text + left, application.Title, MB_OK | MB_ICONERROR, nullptr);
        return;
    }
    application.ShowMessageBox(product + " has been successfully uninstalled.",
                               "Uninstall Completed", MB_OK | MB_ICONINFORMATION, nullptr);
}
