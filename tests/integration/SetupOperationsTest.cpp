// The setup operations on their own: library registration, shortcut files, special folders.
#include <gtest/gtest.h>

#include <thread>

#include "../e2e/SetupSupport.h"
#include "TestSupport.h"
#include "setup/FolderLocations.h"
#include "setup/Package.h"
#include "setup/SetupOps.h"
#include "ui/Application.h"
#include "win/Modules.h"

using setuptest::KeyExists;
using setuptest::kHelperKey;
using setuptest::ReadShortcut;

namespace {

std::string SystemText(DWORD error)
{
    char text[512] = {};
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
                   text, sizeof text, nullptr);
    std::string s = text;
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' '))
        s.pop_back();
    return s;
}

// The message of the error CreateShortcut raises, or "" when it raised none.
template <typename Call> std::string ErrorOf(Call call)
{
    try {
        call();
    } catch (const win::EQuellorError& e) {
        return e.what();
    }
    return "";
}

} // namespace

TEST(SetupOperations, ServerDllEntryPointsSucceedOnlyForALoadableDotDllThatAgrees)
{
    std::string folder = testsupport::FreshFolder("libraries");
    std::string helper = testsupport::StageDir() + "QUELLOR.DLL";
    testsupport::CopyFileOrFail(helper, folder + "helper.DLL");
    testsupport::CopyFileOrFail(helper, folder + "helper.ocx");
    testsupport::CopyFileOrFail(helper, folder + "helper");
    testsupport::CopyFileOrFail(setuptest::SpecialFolder(CSIDL_SYSTEM) + "version.dll",
                                folder + "plain.dll");
    testsupport::CopyFileOrFail(testsupport::HostPath(REFUSING_DLL), folder + "refusing.dll");
    testsupport::WriteFileBytes(folder + "text.dll", "MZ but not really a library");
    CreateDirectoryA((folder + "folder.dll").c_str(), nullptr);

    struct Case {
        std::string file;
        bool called;
    };
    for (const Case& c : {Case{"helper.DLL", true}, Case{"helper.ocx", false},
                          Case{"helper", false}, Case{"plain.dll", false}, Case{"text.dll", false},
                          Case{"refusing.dll", false}, // entry points found, both fail
                          Case{"missing.dll", false}, Case{"folder.dll", false}}) {
        SCOPED_TRACE(c.file);
        testsupport::DeleteKeyTree(HKEY_LOCAL_MACHINE, kHelperKey);
        EXPECT_EQ(setup::RegisterServerDll(folder + c.file), c.called);
        // Only the stand-in helper's DllRegisterServer makes the key.
        EXPECT_EQ(KeyExists(HKEY_LOCAL_MACHINE, kHelperKey), c.called);
        EXPECT_EQ(setup::UnregisterServerDll(folder + c.file), c.called);
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kHelperKey));
    }
    // The library is released again: it can be deleted at once.
    EXPECT_TRUE(DeleteFileA((folder + "helper.DLL").c_str()));
}

TEST(SetupOperations, ShortcutIsWrittenWithEveryFieldAndReplacesAnOldFile)
{
    std::string base = testsupport::FreshFolder("links");
    std::string target = base + "target.exe";
    testsupport::WriteFileBytes(target, "MZ");

    struct Case {
        const char* what;
        std::string folder, expectedFile, iconFile, arguments;
    };
    for (const Case& c : {
             Case{"nested missing folders", base + "one\\two three\\four",
                  base + "one\\two three\\four\\My Link.lnk", target, "-x \"a b\""},
             Case{"folder with its backslash, no icon", base + "flat\\", base + "flat\\My Link.lnk",
                  "", ""},
         }) {
        SCOPED_TRACE(c.what);
        if (c.iconFile.empty()) {
            // An unreadable old file of the same name is replaced.
            CreateDirectoryA(c.folder.c_str(), nullptr);
            testsupport::WriteFileBytes(c.expectedFile, "not a shortcut");
        }
        EXPECT_TRUE(setup::CreateShortcut("My Link", "Says what it is", target, c.folder, base,
                                          c.iconFile, 2, c.arguments));
        std::optional<setuptest::Shortcut> link = ReadShortcut(c.expectedFile);
        ASSERT_TRUE(link);
        EXPECT_EQ(setuptest::Lower(link->target), setuptest::Lower(target));
        EXPECT_EQ(link->description, "Says what it is");
        EXPECT_EQ(link->workingFolder, base);
        EXPECT_EQ(link->arguments, c.arguments);
        EXPECT_EQ(setuptest::Lower(link->iconFile), setuptest::Lower(c.iconFile));
        if (!c.iconFile.empty()) EXPECT_EQ(link->iconIndex, 2);
    }
}

TEST(SetupOperations, ShortcutFailuresAreRaisedWithTheSystemsDescription)
{
    std::string base = testsupport::FreshFolder("failing");
    testsupport::WriteFileBytes(base + "a file", "in the way");
    // A folder short enough to be made, so that only the shortcut's own name decides.
    std::string longFolder = base + std::string(200 - base.size(), 'f');
    auto named = [&](size_t pathLength) { return std::string(pathLength - 205, 'n'); };

    struct Case {
        const char* what;
        std::string folder, name, error; // error "*": any text of the system's
    };
    for (const Case& c : {
             Case{"no folder", "", "n", "Unable to create directory"},
             Case{"folder cannot be made", base + "a file\\sub", "n", "*"},
             // folder, backslash, name, ".lnk" and the terminator in 260 characters
             Case{"259 characters", longFolder, named(259), ""},
             Case{"260 characters", longFolder, named(260), SystemText(ERROR_FILENAME_EXCED_RANGE)},
         }) {
        SCOPED_TRACE(c.what);
        std::string error =
            ErrorOf([&] { setup::CreateShortcut(c.name, "", base, c.folder, base, "", 0, ""); });
        std::string path = c.folder + "\\" + c.name + ".lnk";
        if (c.error == "*") {
            EXPECT_NE(error.find_first_not_of("\r\n "), std::string::npos);
            EXPECT_NE(error.back(), '\n');
        } else {
            EXPECT_EQ(error, c.error);
        }
        EXPECT_EQ(testsupport::FileExists(path), c.error.empty()) << path.size();
    }
}

TEST(SetupOperations, ShortcutLeavesTheThreadsComAsItFoundIt)
{
    std::string folder = testsupport::FreshFolder("com");
    HRESULT afterPlainThread = S_OK, initAfterMta = S_OK;
    std::string plainError = "not run", mtaError;
    std::thread([&] {
        plainError =
            ErrorOf([&] { setup::CreateShortcut("plain", "", folder, folder, folder, "", 0, ""); });
        // Still uninitialised afterwards: COM refuses to create anything.
        IUnknown* object = nullptr;
        afterPlainThread = CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER,
                                            IID_IUnknown, reinterpret_cast<void**>(&object));
        if (object) object->Release();
    }).join();
    std::thread([&] {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        // A thread of the other apartment kind cannot take a single-threaded one.
        mtaError =
            ErrorOf([&] { setup::CreateShortcut("mta", "", folder, folder, folder, "", 0, ""); });
        // S_FALSE: the thread's own initialisation was not undone by the failed call.
        initAfterMta = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        if (SUCCEEDED(initAfterMta)) CoUninitialize();
        CoUninitialize();
    }).join();

    EXPECT_EQ(plainError, "");
    EXPECT_TRUE(testsupport::FileExists(folder + "plain.lnk"));
    EXPECT_EQ(afterPlainThread, CO_E_NOTINITIALIZED);
    EXPECT_EQ(mtaError, win::SystemErrorText(RPC_E_CHANGED_MODE));
    EXPECT_EQ(initAfterMta, S_FALSE);
    EXPECT_FALSE(testsupport::FileExists(folder + "mta.lnk"));
}

TEST(SetupOperations, FolderLocationsHoldFifteenFoldersEndingInABackslash)
{
    const setup::TFolderLocations& f = setup::FolderLocations();
    EXPECT_EQ(&f, &setup::FolderLocations()); // one record for the whole process

    using Field = std::string setup::TFolderLocations::*;
    const std::pair<const char*, Field> fields[] = {
        {"WindowsDrive", &setup::TFolderLocations::WindowsDrive},
        {"WindowsDir", &setup::TFolderLocations::WindowsDir},
        {"SystemDir", &setup::TFolderLocations::SystemDir},
        {"TempDir", &setup::TFolderLocations::TempDir},
        {"ProgramFilesDir", &setup::TFolderLocations::ProgramFilesDir},
        {"CommonFilesDir", &setup::TFolderLocations::CommonFilesDir},
        {"DesktopDir", &setup::TFolderLocations::DesktopDir},
        {"PersonalDir", &setup::TFolderLocations::PersonalDir},
        {"StartMenuDir", &setup::TFolderLocations::StartMenuDir},
        {"ProgramsDir", &setup::TFolderLocations::ProgramsDir},
        {"StartupDir", &setup::TFolderLocations::StartupDir},
        {"CommonDesktopDir", &setup::TFolderLocations::CommonDesktopDir},
        {"CommonStartMenuDir", &setup::TFolderLocations::CommonStartMenuDir},
        {"CommonProgramsDir", &setup::TFolderLocations::CommonProgramsDir},
        {"CommonStartupDir", &setup::TFolderLocations::CommonStartupDir},
    };
    static_assert(sizeof(setup::TFolderLocations) == 15 * sizeof(std::string));
    for (const auto& [name, field] : fields) {
        const std::string& folder = f.*field;
        // Every one of them exists on a Windows installation, and so in a Wine prefix.
        ASSERT_FALSE(folder.empty()) << name;
        EXPECT_EQ(folder.back(), '\\') << name << ": " << folder;
        EXPECT_EQ(folder.find("\\\\"), std::string::npos) << name << ": " << folder;
    }
    EXPECT_EQ(f.WindowsDrive, f.WindowsDir.substr(0, 3));
    EXPECT_EQ(f.WindowsDrive[1], ':');
    EXPECT_EQ(f.ProgramFilesDir,
              *setuptest::StringValue(HKEY_LOCAL_MACHINE,
                                      "SOFTWARE\\Microsoft\\Windows\\CurrentVersion",
                                      "ProgramFilesDir") +
                  "\\");
    EXPECT_EQ(f.StartupDir, setuptest::StartupFolder(false));
    EXPECT_EQ(f.CommonStartupDir, setuptest::StartupFolder(true));
    EXPECT_EQ(f.ProgramsDir, setuptest::SpecialFolder(CSIDL_PROGRAMS));
    // Virtual folders have no path, unknown numbers nothing at all.
    EXPECT_EQ(setup::GetSpecialFolder(CSIDL_DRIVES), "");
    EXPECT_EQ(setup::GetSpecialFolder(0x7E), "");
}

TEST(SetupOperations, AModulePathLongerThan260CharactersIsReadWhole)
{
    // Setup deletes files beside the program: a path cut to nothing would aim at the
    // current folder instead.
    auto wide = [](const std::string& text) {
        std::wstring result(text.size(), L'\0');
        result.resize(MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()),
                                          result.data(), static_cast<int>(result.size())));
        return L"\\\\?\\" + result;
    };
    std::string path = testsupport::FreshFolder("long");
    while (path.size() < 300) {
        path += std::string(60, 'd') + "\\";
        ASSERT_TRUE(CreateDirectoryW(wide(path).c_str(), nullptr)) << path;
    }
    path += "refusing.dll";
    ASSERT_TRUE(
        CopyFileW(wide(testsupport::HostPath(REFUSING_DLL)).c_str(), wide(path).c_str(), FALSE));
    HMODULE library = LoadLibraryW(wide(path).c_str());
    ASSERT_TRUE(library);
    std::string got = win::ModulePath(library);
    FreeLibrary(library);
    ASSERT_GE(got.size(), path.size());
    EXPECT_STRCASEEQ(got.substr(got.size() - path.size()).c_str(), path.c_str());
}

// The value goes onto msiexec's command line when Quellor is uninstalled.
TEST(SetupOperations, APackagesProductCodeIsTakenOnlyWhenItIsOne)
{
    const std::string code = "{9c12a259-1873-4F82-9715-82A923BBAB0E}";
    for (const auto& [type, data, taken] :
         {std::tuple{REG_SZ, code, true}, std::tuple{REG_SZ, code + " REMOVE=ALL", false},
          std::tuple{REG_SZ, code.substr(1, 36), false}, std::tuple{REG_EXPAND_SZ, code, false}}) {
        SCOPED_TRACE(data);
        HKEY key = nullptr; // where the packages write it
        ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, setup::kPackageKey, 0, nullptr, 0,
                                  KEY_SET_VALUE | KEY_WOW64_32KEY, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        RegSetValueExA(key, "ProductCode", 0, type, reinterpret_cast<const BYTE*>(data.c_str()),
                       static_cast<DWORD>(data.size() + 1));
        RegCloseKey(key);
        EXPECT_EQ(setup::InstalledPackage().productCode, taken ? data : "");
    }
    setuptest::DeleteKeyTreeIn(HKEY_LOCAL_MACHINE, setup::kPackageKey, KEY_WOW64_32KEY);
    EXPECT_EQ(setup::InstalledPackage().productCode, "") << "no package";
}
