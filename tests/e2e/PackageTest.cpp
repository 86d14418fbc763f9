// The Windows Installer packages that make dist builds, run by the prefix's own Windows
// Installer (msiexec.exe) as an administrator runs them: silently, for the machine. The
// package that fits the prefix: x64 on 64-bit Windows (both helpers, each in its own view of
// the registry), x86 on 32-bit Windows.
#include "E2eSupport.h"
#include "SetupSupport.h"

#include <msi.h>

using namespace setuptest;
using testsupport::FileExists;

namespace {

// Under HKEY_LOCAL_MACHINE, in the 32-bit view: where the package notes what it installed.
const char kPackageKey[] = "Software\\Tandrel\\Quellor";
const char kSettingsKey[] = "Software\\Tandrel\\Quellor";
const char kClassKey[] = "CLSID\\{2E6E1467-2E6F-424F-B42D-CB3B6995A0A3}";

bool Windows64()
{
#ifdef _WIN64
    return true;
#else
    BOOL wow64 = FALSE;
    return IsWow64Process(GetCurrentProcess(), &wow64) && wow64;
#endif
}

enum class Version { This, Earlier, Later };
std::string Package(Version version = Version::This)
{
    const bool x64 = Windows64();
    switch (version) {
    case Version::Earlier:
        return testsupport::HostPath(x64 ? QUELLOR_EARLIER_PACKAGE_X64
                                         : QUELLOR_EARLIER_PACKAGE_X86);
    case Version::Later:
        return testsupport::HostPath(x64 ? QUELLOR_LATER_PACKAGE_X64 : QUELLOR_LATER_PACKAGE_X86);
    default:
        return testsupport::HostPath(x64 ? QUELLOR_PACKAGE_X64 : QUELLOR_PACKAGE_X86);
    }
}

struct View {
    REGSAM flag;
    const char* library; // registered there
};
std::vector<View> Views()
{
    if (Windows64()) return {{KEY_WOW64_32KEY, "QUELLOR.DLL"}, {KEY_WOW64_64KEY, "QUELLOR64.DLL"}};
    return {{0, "QUELLOR.DLL"}};
}

// The stand-in browsers there are: each loads the helper its own view names.
std::vector<std::string> Browsers()
{
#ifdef IEHOST64_EXE
    return {IEHOST_EXE, IEHOST64_EXE};
#else
    return {IEHOST_EXE};
#endif
}

std::string PackageCode()
{
    return StringValue(HKEY_LOCAL_MACHINE, kPackageKey, "ProductCode", KEY_WOW64_32KEY)
        .value_or("");
}

// The version the Windows Installer has installed for the machine under that product code.
std::string InstalledVersion(const std::string& code)
{
    char version[64] = {};
    DWORD size = sizeof version;
    if (MsiGetProductInfoExA(code.c_str(), nullptr, MSIINSTALLCONTEXT_MACHINE,
                             INSTALLPROPERTY_VERSIONSTRING, version, &size) != ERROR_SUCCESS)
        return {};
    return version;
}

// Wine's Windows Installer puts StartupFolder and ProgramMenuFolder in the installing user's
// profile whatever ALLUSERS says (Windows puts them in every user's): a shortcut is looked
// for in both.
std::optional<Shortcut> ReadEitherShortcut(const std::string& name, bool startup)
{
    for (bool machine : {true, false})
        if (std::optional<Shortcut> link = ReadShortcut(
                (startup ? StartupFolder(machine) : ProgramGroup(machine) + "\\") + name))
            return link;
    return std::nullopt;
}

class PackageE2e : public ProgramFolders {
  protected:
    void SetUp() override
    {
        logs_ = testsupport::FreshFolder("package logs");
        // The 32-bit Program Files, whatever this process is.
        defaultFolder_ =
            SpecialFolder(sizeof(void*) == 8 ? CSIDL_PROGRAM_FILESX86 : CSIDL_PROGRAM_FILES) +
            "Quellor\\";
        Clean();
    }
    void TearDown() override
    {
        Clean();
        ForgetFolders();
        ForgetPendingOperationsUnder(defaultFolder_);
    }
    // Nothing of Quellor on the machine, nor in the user's data.
    void Clean()
    {
        for (const std::string& code : {PackageCode(), earlierCode_})
            if (!code.empty()) Msiexec("/x " + code, "clean");
        RemoveInstallation();
        for (const View& view : Views()) {
            DeleteKeyTreeIn(HKEY_CLASSES_ROOT, kClassKey, view.flag);
            DeleteKeyTreeIn(HKEY_LOCAL_MACHINE, kHelperKey, view.flag);
            DeleteKeyTreeIn(HKEY_LOCAL_MACHINE, kUninstallKey, view.flag);
        }
        DeleteKeyTreeIn(HKEY_LOCAL_MACHINE, kPackageKey, KEY_WOW64_32KEY);
        testsupport::DeleteKeyTree(HKEY_CURRENT_USER, kSettingsKey);
        e2e::ClearUserData();
    }

    // Silent, with a verbose log (kept in the test's folder); msiexec's exit code.
    DWORD Msiexec(const std::string& arguments, const std::string& log)
    {
        robot::Process msiexec =
            robot::Process::Start(SpecialFolder(CSIDL_SYSTEM) + "msiexec.exe",
                                  arguments + " /qn /l*v \"" + logs_ + log + ".log\"", "");
        DWORD code = 99;
        EXPECT_TRUE(msiexec.WaitExit(60000, &code)) << arguments;
        return code;
    }

    // Everything the machine's part of setup leaves, in `folder`, by the package whose
    // version is `version`.
    void ExpectInstalled(const std::string& folder, const std::string& version = QUELLOR_VERSION)
    {
        for (const std::string& file : kProductFiles)
            if (file != "QUELLOR64.DLL" || Windows64())
                EXPECT_TRUE(testsupport::ReadFileBytes(folder + file) ==
                            testsupport::ReadFileBytes(testsupport::StageDir() + file))
                    << file << " is not the packed one";
        EXPECT_EQ(FileExists(folder + "QUELLOR64.DLL"), Windows64());
        for (const View& view : Views()) {
            SCOPED_TRACE(view.library);
            EXPECT_EQ(StringValue(HKEY_CLASSES_ROOT, kClassKey, nullptr, view.flag),
                      "Quellor Browser Helper");
            EXPECT_EQ(
                Lower(
                    StringValue(HKEY_CLASSES_ROOT, kClsidServer, nullptr, view.flag).value_or("")),
                Lower(folder + view.library));
            EXPECT_EQ(StringValue(HKEY_CLASSES_ROOT, kClsidServer, "ThreadingModel", view.flag),
                      "Apartment");
            EXPECT_EQ(DwordValue(HKEY_LOCAL_MACHINE, kHelperKey, "NoExplorer", view.flag), 1u);
        }
        struct Link {
            std::string name, target;
            bool startup;
        };
        for (const Link& expected :
             {Link{"Quellor.lnk", "QUELLOR.EXE", true}, Link{"Quellor.lnk", "QUELLOR.EXE", false},
              Link{"Quellor Help.lnk", "quellor.chm", false},
              Link{"License Agreement.lnk", "license.txt", false}}) {
            std::optional<Shortcut> link = ReadEitherShortcut(expected.name, expected.startup);
            ASSERT_TRUE(link) << expected.name;
            EXPECT_EQ(Lower(link->target), Lower(folder + expected.target)) << expected.name;
            EXPECT_EQ(Lower(link->workingFolder), Lower(folder)) << expected.name;
        }
        EXPECT_EQ(
            Lower(StringValue(HKEY_LOCAL_MACHINE, kPackageKey, "InstallFolder", KEY_WOW64_32KEY)
                      .value_or("")),
            Lower(folder));
        EXPECT_EQ(InstalledVersion(PackageCode()), version) << "not installed for the machine";
    }

    // Nothing of the machine's part left; `installerShortcuts` false where the machine's
    // shortcuts came from an installer-made Quellor (Wine's installer does not write there:
    // above).
    void ExpectRemoved(const std::string& folder, const std::string& code,
                       bool installerShortcuts = true)
    {
        // But what a running program holds, which goes at the next restart.
        const std::vector<std::string> pending = PendingDeletionsUnder(folder);
        auto left = [&](const std::string& path) {
            return std::find(pending.begin(), pending.end(), Lower(path)) == pending.end();
        };
        for (const std::string& file : FilesIn(folder))
            EXPECT_FALSE(left(folder + file)) << file;
        if (testsupport::FolderExists(folder)) EXPECT_FALSE(left(folder));
        for (const View& view : Views()) {
            EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kClassKey, view.flag)) << view.library;
            EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kHelperKey, view.flag)) << view.library;
        }
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kPackageKey, KEY_WOW64_32KEY));
        for (bool machine : {true, false}) {
            if (machine && !installerShortcuts) continue;
            EXPECT_FALSE(FileExists(StartupFolder(machine) + "Quellor.lnk"));
            EXPECT_FALSE(testsupport::FolderExists(ProgramGroup(machine)));
        }
        EXPECT_EQ(MsiQueryProductStateA(code.c_str()), INSTALLSTATE_UNKNOWN);
    }

    // What a user made meanwhile, which no package ever touches; any bytes do.
    void WriteUserData()
    {
        for (const std::string& folder : {e2e::UserRuleFolder(), e2e::UserLogFolder()})
            SHCreateDirectoryExA(nullptr, folder.c_str(), nullptr);
        testsupport::WriteFileBytes(e2e::UserRuleFolder() + "QUELLOR.rul", "the user's rules");
        testsupport::WriteFileBytes(e2e::UserLogFolder() + "QUELLOR.log", "the user's log");
        HKEY key = nullptr;
        const DWORD size = 777;
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kSettingsKey, 0, nullptr, 0, KEY_SET_VALUE,
                                  nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        RegSetValueExA(key, "MaxLogSize", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&size),
                       sizeof size);
        RegCloseKey(key);
    }
    void ExpectUserData()
    {
        EXPECT_EQ(testsupport::ReadFileBytes(e2e::UserRuleFolder() + "QUELLOR.rul"),
                  "the user's rules");
        EXPECT_EQ(testsupport::ReadFileBytes(e2e::UserLogFolder() + "QUELLOR.log"),
                  "the user's log");
        EXPECT_EQ(DwordValue(HKEY_CURRENT_USER, kSettingsKey, "MaxLogSize"), 777u);
    }

    std::string logs_, defaultFolder_, earlierCode_;
};

} // namespace

TEST_F(PackageE2e, InstallsForTheMachineSilentlyKillsThroughItsHelpersRepairsAndRemovesAll)
{
    ASSERT_EQ(Msiexec("/i \"" + Package() + "\"", "install"), 0u);
    ASSERT_NO_FATAL_FAILURE(ExpectInstalled(defaultFolder_));
    const std::string code = PackageCode();

    // A browser of each bitness there is, with the helper the package registered.
    const std::string folder = Folder("package browse", {});
    for (const std::string& browser : Browsers())
        EXPECT_EQ(
            e2e::Browse(browser, folder, "browser",
                        "visit http://www.example.com/\npopup http://ads.example.com/a.html\n"),
            "loaded {2E6E1467-2E6F-424F-B42D-CB3B6995A0A3}\n"
            "visit http://www.example.com/\n"
            "popup http://ads.example.com/a.html -> killed\n"
            "end references=0 sinks=0\n")
            << browser;

    // Wine's msiexec does not carry out /f; this is the same repair.
    ASSERT_TRUE(DeleteFileA((defaultFolder_ + "QUELLOR.DLL").c_str()));
    DeleteKeyTreeIn(HKEY_CLASSES_ROOT, kClsidServer, Views().back().flag);
    EXPECT_EQ(Msiexec("/i \"" + Package() + "\" REINSTALL=ALL REINSTALLMODE=amus", "repair"), 0u);
    ASSERT_NO_FATAL_FAILURE(ExpectInstalled(defaultFolder_));
    EXPECT_EQ(PackageCode(), code);

    EXPECT_EQ(Msiexec("/x \"" + Package() + "\"", "remove"), 0u);
    ExpectRemoved(defaultFolder_, code);
}

TEST_F(PackageE2e, UpgradesInPlaceKeepingTheUsersDataAndNeverGoesBack)
{
    const std::string folder = Folder("package upgrade", {});
    // Without the last backslash, which would quote the closing quote.
    const std::string given = folder.substr(0, folder.size() - 1);
    ASSERT_EQ(
        Msiexec("/i \"" + Package(Version::Earlier) + "\" INSTALLDIR=\"" + given + "\"", "earlier"),
        0u);
    ASSERT_NO_FATAL_FAILURE(ExpectInstalled(folder, QUELLOR_EARLIER_VERSION));
    earlierCode_ = PackageCode();
    ASSERT_NO_FATAL_FAILURE(WriteUserData());

    // No folder given: the upgrade goes where the earlier version lives.
    ASSERT_EQ(Msiexec("/i \"" + Package() + "\"", "upgrade"), 0u);
    ASSERT_NO_FATAL_FAILURE(ExpectInstalled(folder));
    EXPECT_NE(PackageCode(), earlierCode_);
    EXPECT_EQ(MsiQueryProductStateA(earlierCode_.c_str()), INSTALLSTATE_UNKNOWN)
        << "the earlier version is still installed beside it";
    EXPECT_FALSE(testsupport::FolderExists(defaultFolder_));
    ExpectUserData();

    // A later version replaces this one, which then does not go over it.
    ASSERT_EQ(Msiexec("/i \"" + Package(Version::Later) + "\"", "later"), 0u);
    ASSERT_NO_FATAL_FAILURE(ExpectInstalled(folder, QUELLOR_LATER_VERSION));
    EXPECT_EQ(Msiexec("/i \"" + Package() + "\"", "back"),
              static_cast<DWORD>(ERROR_INSTALL_FAILURE));
    ASSERT_NO_FATAL_FAILURE(ExpectInstalled(folder, QUELLOR_LATER_VERSION));

    const std::string code = PackageCode();
    EXPECT_EQ(Msiexec("/x " + code, "remove"), 0u);
    ExpectRemoved(folder, code);
    ExpectUserData();
}

// An installer-made Quellor: its files, and what QUELLOR.EXE /i did for the machine.
TEST_F(PackageE2e, TakesTheInstallerMadeQuellorsPlaceAndUninstallHandsOverToTheWindowsInstaller)
{
    const std::string folder = InstalledFolder("package over installer");
    ASSERT_FALSE(HasFatalFailure());
#ifdef _WIN64
    // The shipped QUELLOR.EXE is 32-bit and writes its entry in the 32-bit view.
    HKEY from = nullptr, to = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kUninstallKey, 0, KEY_READ, &from), ERROR_SUCCESS);
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kUninstallKey, 0, nullptr, 0,
                              KEY_ALL_ACCESS | KEY_WOW64_32KEY, nullptr, &to, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(RegCopyTreeA(from, nullptr, to), ERROR_SUCCESS);
    RegCloseKey(from);
    RegCloseKey(to);
    DeleteKeyTreeIn(HKEY_LOCAL_MACHINE, kUninstallKey, KEY_WOW64_64KEY);
#endif
    ASSERT_EQ(Msiexec("/i \"" + Package() + "\"", "takeover"), 0u);
    ASSERT_NO_FATAL_FAILURE(ExpectInstalled(folder));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kUninstallKey, KEY_WOW64_32KEY));
    const std::string code = PackageCode();

    ASSERT_NO_FATAL_FAILURE(WriteUserData());
    Outcome removal =
        RunQuellor(Quoted(folder + "QUELLOR.EXE") + " /u", folder, {"Yes", "OK"}, 2, false);
    ExpectBoxes(removal.boxes, {kConfirmBox, kUninstalledBox});
    EXPECT_TRUE(removal.endedByItself);
    ExpectRemoved(folder, code, false);
    EXPECT_FALSE(FileExists(e2e::UserRuleFolder() + "QUELLOR.rul")) << "the user's part was kept";
    EXPECT_FALSE(FileExists(e2e::UserLogFolder() + "QUELLOR.log"));
}
