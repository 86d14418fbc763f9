// The Windows installer that make dist packs, run silently as an administrator would run
// it: into a folder whose path holds blanks, then again over itself as an upgrade (over
// damaged files, and over helpers a browser holds), then removed through the entry it left
// in Add or Remove Programs.
#include "E2eSupport.h"
#include "SetupSupport.h"

#include <fstream>
#include <sstream>

using namespace setuptest;
using testsupport::FileExists;

namespace {

const char kSettingsKey[] = "Software\\Tandrel\\Quellor";

std::string ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool StartCommandLine(const std::string& commandLine, PROCESS_INFORMATION& info)
{
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back('\0');
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    return CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                          &startup, &info);
}

struct Answered {
    std::vector<robot::DialogSeen> boxes;
    bool ended = false;
};

// Starts the command line and answers, with `script`, the boxes of the process that shows
// a box captioned `boxCaption` (the installer starts QUELLOR.EXE /i, which is not our child).
Answered RunAnswering(const std::string& commandLine, const char* boxCaption,
                      const std::vector<std::string>& script)
{
    Answered run;
    PROCESS_INFORMATION info{};
    EXPECT_TRUE(StartCommandLine(commandLine, info)) << commandLine;
    if (!info.hProcess) return run;
    DWORD pid = 0;
    if (HWND box = robot::FindTopWindow(0, "#32770", boxCaption, 60000))
        GetWindowThreadProcessId(box, &pid);
    if (pid) {
        robot::Robot robot(pid, script);
        robot.WaitForCount(script.size(), 30000);
        run.boxes = robot.Seen();
    }
    run.ended = WaitForSingleObject(info.hProcess, 60000) == WAIT_OBJECT_0;
    if (!run.ended) TerminateProcess(info.hProcess, 1);
    CloseHandle(info.hProcess);
    CloseHandle(info.hThread);
    return run;
}

BOOL CALLBACK NoteMainWindow(HWND window, LPARAM found)
{
    char name[16] = {};
    GetClassNameA(window, name, sizeof name);
    if (strcmp(name, "TfrmMain") == 0) *reinterpret_cast<bool*>(found) = true;
    return TRUE;
}

// Whether a window of Quellor's class is on the desktop.
bool MainWindowOn(HDESK desktop)
{
    bool found = false;
    EnumDesktopWindows(desktop, NoteMainWindow, reinterpret_cast<LPARAM>(&found));
    return found;
}

// The Quellor the installer left running in the tray, ended as the session's end would.
void EndRunningQuellor()
{
    if (HWND main = robot::FindTopWindow(0, "TfrmMain", "Quellor", 0)) EndTrayProgram(main);
}

class InstallerE2e : public ::testing::Test {
  protected:
    void SetUp() override
    {
#ifdef _WIN64
        GTEST_SKIP() << "the installer is a 32-bit program, and this build is 64-bit whole";
#endif
        EndRunningQuellor();
        RemoveInstallation();
        savedMaxLogSize_ = DwordValue(HKEY_CURRENT_USER, kSettingsKey, "MaxLogSize");
        defaultFolder_ = SpecialFolder(CSIDL_PROGRAM_FILES) + "Quellor";
        hadDefaultFolder_ = GetFileAttributesA(defaultFolder_.c_str()) != INVALID_FILE_ATTRIBUTES;
        parent_ = testsupport::FreshFolder("installer");
        folder_ = parent_ + "Quellor Program";
    }
    void TearDown() override
    {
        if (IsSkipped()) return;
        EndRunningQuellor();
        RemoveInstallation();
        ForgetPendingOperationsUnder(folder_);
        // An upgrade that went astray must not leave its copy for the next run to find.
        for (const std::string& folder :
             hadDefaultFolder_ ? std::vector{folder_} : std::vector{folder_, defaultFolder_}) {
            for (const std::string& name : FilesIn(folder))
                DeleteFileA((folder + "\\" + name).c_str());
            RemoveDirectoryA(folder.c_str());
        }
        RemoveDirectoryA(parent_.c_str());
        HKEY key = nullptr;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, kSettingsKey, 0, KEY_SET_VALUE, &key) == 0) {
            if (savedMaxLogSize_)
                RegSetValueExA(key, "MaxLogSize", 0, REG_DWORD,
                               reinterpret_cast<const BYTE*>(&*savedMaxLogSize_), sizeof(DWORD));
            else
                RegDeleteValueA(key, "MaxLogSize");
            RegCloseKey(key);
        }
    }

    // Silent; /D must come last and unquoted, blanks and all. Without it the installer
    // goes where the installed copy's entry says.
    Answered Install(bool withFolder)
    {
        std::string line = "\"" + std::string(QUELLOR_INSTALLER) + "\" /S";
        if (withFolder) line += " /D=" + folder_;
        return RunAnswering(line, "Quellor", {"OK"});
    }

    // Every product file as packed, except those a browser holds (left to the restart).
    void ExpectInstalled(const std::vector<std::string>& held = {})
    {
        const std::string program = folder_ + "\\QUELLOR.EXE";
        for (const std::string& file : kProductFiles)
            if (std::find(held.begin(), held.end(), file) == held.end())
                EXPECT_TRUE(ReadAll(folder_ + "\\" + file) ==
                            ReadAll(testsupport::StageDir() + file))
                    << file << " is not the packed one";
        EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kHelperKey));
        EXPECT_EQ(Lower(StringValue(HKEY_CLASSES_ROOT, kClsidServer, nullptr).value_or("")),
                  Lower(folder_ + "\\QUELLOR.DLL"));
        std::optional<Shortcut> startup = ReadShortcut(StartupFolder() + "Quellor.lnk");
        ASSERT_TRUE(startup);
        EXPECT_EQ(Lower(startup->target), Lower(program));
        EXPECT_EQ(
            FilesIn(ProgramGroup()),
            (std::vector<std::string>{"License Agreement.lnk", "Quellor Help.lnk", "Quellor.lnk"}));
        ExpectUninstallEntry(program);
    }

    std::string parent_, folder_, defaultFolder_;
    bool hadDefaultFolder_ = false;
    std::optional<DWORD> savedMaxLogSize_;
};

} // namespace

TEST_F(InstallerE2e, InstallsUpgradesInPlaceKeepingTheUsersDataAndUninstallsThroughItsEntry)
{
    ASSERT_TRUE(FileExists(QUELLOR_INSTALLER)) << "make dist packs " << QUELLOR_INSTALLER;
    ASSERT_NE(folder_.find(' '), std::string::npos);

    Answered first = Install(true);
    EXPECT_TRUE(first.ended);
    ASSERT_EQ(first.boxes.size(), 1u);
    EXPECT_EQ(first.boxes[0].text, "Quellor has been successfully installed and is now running.");
    ASSERT_NO_FATAL_FAILURE(ExpectInstalled());

    // What the user made meanwhile, with the first version still running in the tray; the
    // installer never reads these, so any bytes do.
    const std::string rules = "0|http://ads.example.com/*|0\r\n1|http://news.example.org/|0\r\n";
    const std::string log = "a log the user keeps\r\n";
    testsupport::WriteFileBytes(folder_ + "\\quellor.rul", rules);
    testsupport::WriteFileBytes(folder_ + "\\quellor.log", log);
    HKEY settings = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kSettingsKey, 0, nullptr, 0, KEY_SET_VALUE,
                              nullptr, &settings, nullptr),
              ERROR_SUCCESS);
    const DWORD maxLogSize = 777;
    RegSetValueExA(settings, "MaxLogSize", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&maxLogSize),
                   sizeof maxLogSize);
    RegCloseKey(settings);
    HWND running = robot::FindTopWindow(0, "TfrmMain", "Quellor", 10000);
    ASSERT_TRUE(running) << "the installer left no Quellor running";

    // Damaged files, so that the upgrade has to replace them all (the running program's
    // own file cannot be written).
    for (const std::string& file : kProductFiles)
        if (file != "QUELLOR.EXE") testsupport::WriteFileBytes(folder_ + "\\" + file, "damaged");

    // The upgrade: no folder given, the running copy closed, everything replaced in place.
    Answered second = Install(false);
    EXPECT_TRUE(second.ended);
    EXPECT_EQ(second.boxes.size(), 1u);
    EXPECT_FALSE(IsWindow(running)) << "the first version still runs";
    EXPECT_FALSE(FileExists(defaultFolder_ + "\\QUELLOR.EXE"))
        << "the upgrade went to the default folder, not over the installed copy";
    ASSERT_NO_FATAL_FAILURE(ExpectInstalled());
    EXPECT_EQ(ReadAll(folder_ + "\\quellor.rul"), rules);
    EXPECT_EQ(ReadAll(folder_ + "\\quellor.log"), log);
    EXPECT_EQ(DwordValue(HKEY_CURRENT_USER, kSettingsKey, "MaxLogSize"), maxLogSize);

    // Add or Remove Programs starts the entry's command line.
    EndRunningQuellor();
    std::optional<std::string> uninstall =
        StringValue(HKEY_LOCAL_MACHINE, kUninstallKey, "UninstallString");
    ASSERT_TRUE(uninstall);
    Answered removal = RunAnswering(*uninstall, "Confirm", {"Yes", "OK"});
    EXPECT_TRUE(removal.ended);
    ASSERT_EQ(removal.boxes.size(), 2u);
    EXPECT_EQ(removal.boxes[1].text, "Quellor has been successfully uninstalled.");
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kUninstallKey));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kHelperKey));
    EXPECT_FALSE(FileExists(StartupFolder() + "Quellor.lnk"));
    EXPECT_FALSE(FileExists(ProgramGroup()));
    EXPECT_FALSE(FileExists(folder_ + "\\quellor.rul"));
    EXPECT_EQ(PendingDeletionsUnder(folder_).size(), 4u) << "program, helpers and folder";
}

TEST_F(InstallerE2e, HelpersABrowserHoldsAreReplacedAtTheNextRestart)
{
    Answered first = Install(true);
    ASSERT_EQ(first.boxes.size(), 1u);
    ASSERT_NO_FATAL_FAILURE(ExpectInstalled());
    EndRunningQuellor();
    // A 32-bit browser has the helper loaded; a 64-bit one holds QUELLOR64.DLL just as fast.
    HMODULE loaded = LoadLibraryA((folder_ + "\\QUELLOR.DLL").c_str());
    ASSERT_TRUE(loaded);
    HANDLE held = CreateFileA((folder_ + "\\QUELLOR64.DLL").c_str(), GENERIC_READ, FILE_SHARE_READ,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);

    Answered upgrade = Install(false);
    FreeLibrary(loaded);
    CloseHandle(held);
    EXPECT_TRUE(upgrade.ended);
    EXPECT_EQ(upgrade.boxes.size(), 1u);
    ASSERT_NO_FATAL_FAILURE(ExpectInstalled({"QUELLOR.DLL", "QUELLOR64.DLL"}));
    // Each new helper waits beside the old one, to be renamed over it at the restart.
    std::vector<std::string> pending = ReadPendingOperations(), renames;
    for (size_t i = 0; i + 1 < pending.size(); i += 2)
        if (Lower(pending[i]).find(Lower(folder_)) != std::string::npos)
            renames.push_back(Lower(pending[i] + " -> " + pending[i + 1]));
    const std::string at = Lower("\\??\\" + folder_ + "\\");
    EXPECT_EQ(renames, (std::vector<std::string>{
                           at + "quellor.dll.new -> !" + at + "quellor.dll",
                           at + "quellor64.dll.new -> !" + at + "quellor64.dll",
                       }));
    for (const char* file : {"QUELLOR.DLL", "QUELLOR64.DLL"})
        EXPECT_TRUE(ReadAll(folder_ + "\\" + file + ".new") ==
                    ReadAll(testsupport::StageDir() + file))
            << file;
}

// Quellor running in another user's session: its window is out of the installer's reach
// (here, on another desktop) and its program file is held as a running program's is. The
// upgrade moves that file aside, to be deleted at the next restart, and writes the new one
// in its place, without a box; the running copy goes on until that user's next start.
TEST_F(InstallerE2e, AnUpgradeMovesAsideTheProgramQuellorRunsFromInAnotherSession)
{
    Answered first = Install(true);
    ASSERT_EQ(first.boxes.size(), 1u);
    EndRunningQuellor();
    // An older version's file, which still runs: the loader ignores what follows the image.
    const std::string program = folder_ + "\\QUELLOR.EXE";
    const std::string older = ReadAll(program) + "an older version";
    testsupport::WriteFileBytes(program, older);
    struct Desktop {
        HDESK handle =
            CreateDesktopA("Quellor Elsewhere", nullptr, nullptr, 0, GENERIC_ALL, nullptr);
        ~Desktop() { CloseDesktop(handle); }
    } elsewhere;
    ASSERT_TRUE(elsewhere.handle);
    robot::Process running =
        robot::Process::Start(program, "", folder_, nullptr, "Quellor Elsewhere");
    ASSERT_TRUE(running) << running.StartError();
    ASSERT_TRUE(e2e::WaitFor([&] { return MainWindowOn(elsewhere.handle); }, 10000))
        << "Quellor did not start on the other desktop";
    ASSERT_EQ(FindWindowA("TfrmMain", "Quellor"), nullptr) << "within the installer's reach";
    ASSERT_FALSE(DeleteFileA(program.c_str())) << "the running program's file is not held";

    Answered upgrade = Install(false);
    EXPECT_TRUE(upgrade.ended);
    EXPECT_EQ(upgrade.boxes.size(), 1u) << "only setup's own";
    ASSERT_NO_FATAL_FAILURE(ExpectInstalled());
    EXPECT_FALSE(running.WaitExit(0, nullptr)) << "the other session's Quellor was ended";
    std::vector<std::string> pending = PendingDeletionsUnder(folder_);
    ASSERT_EQ(pending.size(), 1u) << "the old program, at the next restart";
    EXPECT_NE(pending[0], Lower(program));
    EXPECT_TRUE(ReadAll(pending[0]) == older) << pending[0] << " is not the old program";
}
