// The Windows Installer packages of make dist under the prefix's own Windows Installer
// (msiexec.exe), run silently for the machine as an administrator runs them: the x64 package
// on 64-bit Windows (each helper in its own registry view), the x86 one on 32-bit Windows.
#include "E2eSupport.h"
#include "SetupSupport.h"

#include <msi.h>

using namespace setuptest;
using testsupport::FileExists;

// Beside the 32-bit build's own, in its 64-bit prefix (win64_tests), under another name.
#ifdef IEHOST64_EXE
#define PackageE2e Package64E2e
#endif

namespace {

// Under HKEY_LOCAL_MACHINE (32-bit view) what the package noted; under HKEY_CURRENT_USER the
// user's settings.
const char kQuellorKey[] = "Software\\Tandrel\\Quellor";
const char kClassKey[] = "CLSID\\{2E6E1467-2E6F-424F-B42D-CB3B6995A0A3}";

bool Windows64()
{
    BOOL wow64 = FALSE;
    return sizeof(void*) == 8 || (IsWow64Process(GetCurrentProcess(), &wow64) && wow64);
}

std::string Package(bool earlier = false)
{
    if (Windows64())
        return testsupport::HostPath(earlier ? QUELLOR_EARLIER_PACKAGE_X64 : QUELLOR_PACKAGE_X64);
    return testsupport::HostPath(earlier ? QUELLOR_EARLIER_PACKAGE_X86 : QUELLOR_PACKAGE_X86);
}

// Each registry view and the helper registered there.
std::vector<std::pair<REGSAM, std::string>> Views()
{
    if (!Windows64()) return {{0, "QUELLOR.DLL"}};
    return {{KEY_WOW64_32KEY, "QUELLOR.DLL"}, {KEY_WOW64_64KEY, "QUELLOR64.DLL"}};
}

std::string PackageCode()
{
    return StringValue(HKEY_LOCAL_MACHINE, kQuellorKey, "ProductCode", KEY_WOW64_32KEY)
        .value_or("");
}

class PackageE2e : public ProgramFolders {
  protected:
    void SetUp() override
    {
        logs_ = testsupport::FreshFolder("package logs");
        Clean();
    }
    void TearDown() override
    {
        Clean();
        ForgetFolders();
    }
    void Clean()
    {
        for (const std::string& code : {PackageCode(), earlierCode_})
            if (!code.empty()) Msiexec("/x " + code, "clean");
        RemoveInstallation();
        DeleteKeyTreeIn(HKEY_LOCAL_MACHINE, kUninstallKey, KEY_WOW64_32KEY);
        testsupport::DeleteKeyTree(HKEY_CURRENT_USER, kQuellorKey);
        e2e::ClearUserData();
    }

    // Silent, with a verbose log kept in the test's folder; msiexec's exit code.
    DWORD Msiexec(const std::string& arguments, const std::string& log)
    {
        robot::Process msiexec =
            robot::Process::Start(SpecialFolder(CSIDL_SYSTEM) + "msiexec.exe",
                                  arguments + " /qn /l*v \"" + logs_ + log + ".log\"", "");
        DWORD code = 99;
        EXPECT_TRUE(msiexec.WaitExit(60000, &code)) << arguments;
        return code;
    }

    void ExpectInstalled(const std::string& folder, const std::string& version = QUELLOR_VERSION)
    {
        for (const std::string& file : kProductFiles)
            EXPECT_TRUE(file == "QUELLOR64.DLL" && !Windows64()
                            ? !FileExists(folder + file)
                            : testsupport::ReadFileBytes(folder + file) ==
                                  testsupport::ReadFileBytes(testsupport::StageDir() + file))
                << file;
        for (const auto& [view, library] : Views()) {
            EXPECT_EQ(StringValue(HKEY_CLASSES_ROOT, kClassKey, nullptr, view),
                      "Quellor Browser Helper");
            EXPECT_EQ(
                Lower(StringValue(HKEY_CLASSES_ROOT, kClsidServer, nullptr, view).value_or("")),
                Lower(folder + library));
            EXPECT_EQ(StringValue(HKEY_CLASSES_ROOT, kClsidServer, "ThreadingModel", view),
                      "Apartment");
            EXPECT_EQ(DwordValue(HKEY_LOCAL_MACHINE, kHelperKey, "NoExplorer", view), 1u)
                << library;
        }
        // Wine's Windows Installer puts StartupFolder and ProgramMenuFolder in the installing
        // user's profile whatever ALLUSERS says; Windows in every user's.
        const bool machine = FileExists(StartupFolder(true) + "Quellor.lnk");
        std::optional<Shortcut> startup = ReadShortcut(StartupFolder(machine) + "Quellor.lnk");
        ASSERT_TRUE(startup);
        EXPECT_EQ(Lower(startup->target + "|" + startup->workingFolder),
                  Lower(folder + "QUELLOR.EXE|" + folder));
        EXPECT_EQ(
            FilesIn(ProgramGroup(machine)),
            (std::vector<std::string>{"License Agreement.lnk", "Quellor Help.lnk", "Quellor.lnk"}));
        char installed[64] = {};
        DWORD size = sizeof installed;
        MsiGetProductInfoExA(PackageCode().c_str(), nullptr, MSIINSTALLCONTEXT_MACHINE,
                             INSTALLPROPERTY_VERSIONSTRING, installed, &size);
        EXPECT_EQ(installed, version) << "not installed for the machine";
    }

    // Nothing left but what a running program holds, which goes at the next restart; the
    // machine's shortcuts are not looked at where an installer-made Quellor made them.
    void ExpectRemoved(const std::string& folder, const std::string& code,
                       bool machineShortcuts = true)
    {
        std::vector<std::string> left = FilesIn(folder);
        for (std::string& file : left)
            file = Lower(folder + file);
        if (testsupport::FolderExists(folder)) left.push_back(Lower(folder));
        EXPECT_EQ(left, PendingDeletionsUnder(folder));
        for (const auto& [view, library] : Views())
            EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kClassKey, view) ||
                         KeyExists(HKEY_LOCAL_MACHINE, kHelperKey, view))
                << library;
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kQuellorKey, KEY_WOW64_32KEY));
        for (bool machine : {false, machineShortcuts})
            EXPECT_FALSE(FileExists(StartupFolder(machine) + "Quellor.lnk") ||
                         testsupport::FolderExists(ProgramGroup(machine)));
        EXPECT_EQ(MsiQueryProductStateA(code.c_str()), INSTALLSTATE_UNKNOWN);
    }

    // What the user made, which no package touches: any bytes do.
    const std::vector<std::string> userFiles_ = {e2e::UserRuleFolder() + "QUELLOR.rul",
                                                 e2e::UserLogFolder() + "QUELLOR.log"};
    void WriteUserData()
    {
        for (const std::string& file : userFiles_) {
            SHCreateDirectoryExA(nullptr, file.substr(0, file.rfind('\\')).c_str(), nullptr);
            testsupport::WriteFileBytes(file, file);
        }
        const DWORD size = 777;
        RegSetKeyValueA(HKEY_CURRENT_USER, kQuellorKey, "MaxLogSize", REG_DWORD, &size,
                        sizeof size);
    }
    void ExpectUserData(bool kept)
    {
        for (const std::string& file : userFiles_)
            EXPECT_TRUE(kept ? FileExists(file) && testsupport::ReadFileBytes(file) == file
                             : !FileExists(file))
                << file;
        if (kept) EXPECT_EQ(DwordValue(HKEY_CURRENT_USER, kQuellorKey, "MaxLogSize"), 777u);
    }

    std::string logs_, earlierCode_;
};

} // namespace

// The earlier version into a folder of the administrator's; the upgrade, no folder given.
TEST_F(PackageE2e, UpgradesInPlaceKillsThroughItsHelpersRepairsAndRemovesAllButTheUsersData)
{
    const std::string folder = Folder("package", {});
    // Without the last backslash, which would quote the closing quote.
    ASSERT_EQ(Msiexec("/i \"" + Package(true) + "\" INSTALLDIR=\"" +
                          folder.substr(0, folder.size() - 1) + "\"",
                      "earlier"),
              0u);
    ASSERT_NO_FATAL_FAILURE(ExpectInstalled(folder, QUELLOR_EARLIER_VERSION));
    earlierCode_ = PackageCode();
    WriteUserData();
    ASSERT_EQ(Msiexec("/i \"" + Package() + "\"", "upgrade"), 0u);
    ASSERT_NO_FATAL_FAILURE(ExpectInstalled(folder));
    EXPECT_EQ(MsiQueryProductStateA(earlierCode_.c_str()), INSTALLSTATE_UNKNOWN)
        << "the earlier version stays beside it";
    ExpectUserData(true);

    // A browser of each bitness there is, with the helper the package registered.
    const std::vector<std::string> browsers = {
        IEHOST_EXE,
#ifdef IEHOST64_EXE
        IEHOST64_EXE,
#endif
    };
    for (const std::string& browser : browsers)
        EXPECT_EQ(
            e2e::Browse(browser, Folder("package browse", {}), "browser",
                        "visit http://www.example.com/\npopup http://ads.example.com/a.html\n"),
            "loaded {2E6E1467-2E6F-424F-B42D-CB3B6995A0A3}\n"
            "visit http://www.example.com/\n"
            "popup http://ads.example.com/a.html -> killed\n"
            "end references=0 sinks=0\n")
            << browser;

    // Wine's msiexec does not carry out /f: this is the same repair.
    ASSERT_TRUE(DeleteFileA((folder + "QUELLOR.DLL").c_str()));
    DeleteKeyTreeIn(HKEY_CLASSES_ROOT, kClsidServer, Views().back().first);
    EXPECT_EQ(Msiexec("/i \"" + Package() + "\" REINSTALL=ALL REINSTALLMODE=amus", "repair"), 0u);
    ASSERT_NO_FATAL_FAILURE(ExpectInstalled(folder));

    const std::string code = PackageCode();
    EXPECT_EQ(Msiexec("/x \"" + Package() + "\"", "remove"), 0u);
    ExpectRemoved(folder, code);
    ExpectUserData(true);
}

TEST_F(PackageE2e, TakesTheInstallerMadeQuellorsPlaceAndUninstallHandsOverToTheWindowsInstaller)
{
    // Its files, and what QUELLOR.EXE /i did for the machine.
    const std::string folder = InstalledFolder("package over installer");
    ASSERT_FALSE(HasFatalFailure());
#ifdef _WIN64
    // The shipped QUELLOR.EXE is 32-bit: its entry lies in the 32-bit view.
    HKEY from = nullptr, to = nullptr;
    RegOpenKeyExA(HKEY_LOCAL_MACHINE, kUninstallKey, 0, KEY_READ, &from);
    RegCreateKeyExA(HKEY_LOCAL_MACHINE, kUninstallKey, 0, nullptr, 0,
                    KEY_ALL_ACCESS | KEY_WOW64_32KEY, nullptr, &to, nullptr);
    ASSERT_EQ(RegCopyTreeA(from, nullptr, to), ERROR_SUCCESS);
    RegCloseKey(from);
    RegCloseKey(to);
    DeleteKeyTreeIn(HKEY_LOCAL_MACHINE, kUninstallKey, KEY_WOW64_64KEY);
#endif
    ASSERT_EQ(Msiexec("/i \"" + Package() + "\"", "takeover"), 0u);
    ASSERT_NO_FATAL_FAILURE(ExpectInstalled(folder));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kUninstallKey, KEY_WOW64_32KEY));
    const std::string code = PackageCode();

    WriteUserData();
    Outcome removal =
        RunQuellor(Quoted(folder + "QUELLOR.EXE") + " /u", folder, {"Yes", "OK"}, 2, false);
    ExpectBoxes(removal.boxes, {kConfirmBox, kUninstalledBox});
    ExpectRemoved(folder, code, false);
    ExpectUserData(false);
}
