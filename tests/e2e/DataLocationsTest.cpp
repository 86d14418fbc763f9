// Where QUELLOR.EXE keeps the rule file and the log, seen from outside: the paths it stores
// for the browser helper, the files in the user's folders and beside the program, the first
// start that brings the program folder's files along, and uninstall. Wine reports Windows
// 7; Windows XP is Wine's per-program version for QUELLOR.EXE.
#include "E2eSupport.h"
#include "SetupSupport.h"

using e2e::StoredPath;
using robot::Process;
using testsupport::FileExists;
using testsupport::ReadFileBytes;

namespace {

const char kKey[] = "Software\\Tandrel\\Quellor";
const std::string kRules = std::string(257, 'r'), kLog = std::string(520, 'l');

std::string Tandrel(const std::string& dataFolder)
{
    return dataFolder.substr(0, dataFolder.size() - 8);
}

class DataLocations : public ::testing::Test {
  protected:
    void SetUp() override
    {
        testsupport::DeleteKeyTree(HKEY_CURRENT_USER, kKey);
        e2e::ClearUserData();
        folder_ = e2e::FreshProgramFolder("locations");
        testsupport::WriteFileBytes(folder_ + "QUELLOR.rul", kRules);
        testsupport::WriteFileBytes(folder_ + "QUELLOR.log", kLog);
    }
    void TearDown() override
    {
        setuptest::RemoveInstallation();
        setuptest::ForgetPendingOperationsUnder(folder_);
        e2e::ClearUserData();
        testsupport::DeleteKeyTree(HKEY_CURRENT_USER, kKey);
    }

    // Starts Quellor, waits for the paths it stores, and gives its main window.
    HWND Start()
    {
        quellor_ = Process::Start(folder_ + "QUELLOR.EXE", "", folder_);
        EXPECT_TRUE(quellor_) << quellor_.StartError();
        HWND main = robot::FindTopWindow(quellor_.Pid(), "TfrmMain", "Quellor", 10000);
        EXPECT_TRUE(e2e::WaitFor([] { return !StoredPath("RuleFile").empty(); }, 10000));
        return main;
    }
    void End(HWND main)
    {
        DWORD_PTR answer = 0;
        SendMessageTimeoutA(main, WM_QUERYENDSESSION, 0, 0, SMTO_ABORTIFHUNG, 5000, &answer);
        EXPECT_TRUE(quellor_.WaitExit(10000, nullptr));
    }
    // QUELLOR.EXE -u answered Yes; the boxes after it (no library here) are acknowledged.
    void Uninstall()
    {
        Process uninstall = Process::Start(folder_ + "QUELLOR.EXE", "-u", folder_);
        ASSERT_TRUE(uninstall);
        robot::Robot robot(uninstall.Pid(), {"Yes", "OK", "OK"});
        EXPECT_TRUE(uninstall.WaitExit(30000, nullptr));
        ASSERT_FALSE(robot.Seen().empty());
        EXPECT_EQ(robot.Seen()[0].clicked, "Yes");
    }

    std::string folder_;
    Process quellor_;
};

DWORD Counter(const char* name)
{
    DWORD value = 0, size = sizeof value;
    if (RegGetValueA(HKEY_CURRENT_USER, kKey, name, RRF_RT_REG_DWORD, nullptr, &value, &size) !=
        ERROR_SUCCESS)
        return 0xFFFFFFFF;
    return value;
}

} // namespace

TEST_F(DataLocations, OnWindows7TheUsersFoldersHoldTheFilesFromTheFirstStartUntilUninstall)
{
    HWND main = Start();
    ASSERT_NE(main, nullptr);
    const std::string rules = e2e::UserRuleFolder() + "QUELLOR.rul";
    const std::string log = e2e::UserLogFolder() + "QUELLOR.log";
    EXPECT_EQ(setuptest::Lower(StoredPath("RuleFile")), setuptest::Lower(rules));
    EXPECT_EQ(setuptest::Lower(StoredPath("LogFile")), setuptest::Lower(log));
    // The first start brought the program folder's files along and left them there.
    EXPECT_EQ(ReadFileBytes(rules), kRules);
    EXPECT_EQ(ReadFileBytes(log), kLog);
    EXPECT_EQ(ReadFileBytes(folder_ + "QUELLOR.rul"), kRules);
    EXPECT_EQ(ReadFileBytes(folder_ + "QUELLOR.log"), kLog);

    // A Protected Mode helper's kills (wParam 1) are counted here; wParam 0 were counted.
    UINT kill = RegisterWindowMessageA("WM_POPUP_KILLED");
    for (WPARAM wp : {1, 0, 1})
        PostMessageA(main, kill, wp, 0);
    EXPECT_TRUE(e2e::WaitFor([] { return Counter("KillsToDate") == 2; }, 5000))
        << Counter("KillsToDate");
    EXPECT_EQ(Counter("KillsToday"), 2u);
    End(main);

    Uninstall();
    EXPECT_FALSE(FileExists(rules));
    EXPECT_FALSE(FileExists(log));
    EXPECT_FALSE(testsupport::FolderExists(Tandrel(e2e::UserRuleFolder())));
    EXPECT_FALSE(testsupport::FolderExists(Tandrel(e2e::UserLogFolder())));
    EXPECT_FALSE(FileExists(folder_ + "QUELLOR.rul"));
    EXPECT_FALSE(FileExists(folder_ + "QUELLOR.log"));
}

TEST_F(DataLocations, OnWindowsXPEverythingStaysBesideTheProgram)
{
    e2e::WindowsVersionForQuellor xp("winxp");
    ASSERT_TRUE(xp);
    HWND main = Start();
    ASSERT_NE(main, nullptr);
    EXPECT_EQ(setuptest::Lower(StoredPath("RuleFile")), setuptest::Lower(folder_ + "QUELLOR.rul"));
    EXPECT_EQ(setuptest::Lower(StoredPath("LogFile")), setuptest::Lower(folder_ + "QUELLOR.log"));
    EXPECT_FALSE(testsupport::FolderExists(Tandrel(e2e::UserRuleFolder())));
    EXPECT_FALSE(testsupport::FolderExists(Tandrel(e2e::UserLogFolder())));
    End(main);

    Uninstall();
    EXPECT_FALSE(FileExists(folder_ + "QUELLOR.rul"));
    EXPECT_FALSE(FileExists(folder_ + "QUELLOR.log"));
    EXPECT_FALSE(testsupport::FolderExists(Tandrel(e2e::UserRuleFolder())));
}
