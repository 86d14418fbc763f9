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

TEST_F(DataLocations, AProfileFolderNamedOutsideTheCodePageIsTakenByItsShortNameOrNamedToTheUser)
{
    const std::wstring profile = testsupport::Wide(testsupport::FreshFolder("profile"));
    wchar_t missing = L'Q'; // a drive that does not exist
    while (missing < L'Y' && (GetLogicalDrives() & (1u << (missing - L'A'))))
        ++missing;
    const struct {
        const wchar_t* value; // in User Shell Folders
        std::wstring root;
        const char* stored; // the value that names the file
        std::string file, bytes;
        std::string shown; // for a root that cannot be used: as the box names it
    } cases[] = {
        {L"Local AppData", profile + L"\u0141ukasz\\Local", "RuleFile", "QUELLOR.rul", kRules, ""},
        {L"{A520A1A4-1780-4FF6-BD18-167343C5AF16}",
         profile + L"\u0416\u0443\u0440\u043D\u0430\u043B\\LocalLow", "LogFile", "QUELLOR.log",
         kLog, ""},
        {L"Local AppData", std::wstring(1, missing) + L":\\\u0141ukasz\\Local", "RuleFile",
         "QUELLOR.rul", kRules, std::string(1, static_cast<char>(missing)) + ":\\?ukasz\\Local\\"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.root.size());
        testsupport::DeleteKeyTree(HKEY_CURRENT_USER, kKey);
        e2e::ClearUserData();
        folder_ = e2e::FreshProgramFolder("locations");
        testsupport::WriteFileBytes(folder_ + "QUELLOR.rul", kRules);
        testsupport::WriteFileBytes(folder_ + "QUELLOR.log", kLog);
        CreateDirectoryW(c.root.substr(0, c.root.find_last_of(L'\\')).c_str(), nullptr);
        CreateDirectoryW(c.root.c_str(), nullptr);
        testsupport::MovedUserFolder moved(c.value, c.root);
        quellor_ = Process::Start(folder_ + "QUELLOR.EXE", "", folder_);
        robot::Robot robot(quellor_.Pid(), {"OK"});
        HWND main = robot::FindTopWindow(quellor_.Pid(), "TfrmMain", "Quellor", 10000);
        ASSERT_NE(main, nullptr);
        if (c.shown.empty()) {
            ASSERT_TRUE(e2e::WaitFor([&] { return !StoredPath(c.stored).empty(); }, 10000));
            wchar_t data[MAX_PATH] = {};
            GetShortPathNameW((c.root + L"\\Tandrel\\Quellor\\").c_str(), data, MAX_PATH);
            EXPECT_EQ(lstrcmpiW(testsupport::Wide(StoredPath(c.stored)).c_str(),
                                (data + testsupport::Wide(c.file)).c_str()),
                      0)
                << StoredPath(c.stored);
            EXPECT_EQ(ReadFileBytes(StoredPath(c.stored)), c.bytes);
            EXPECT_TRUE(robot.Seen().empty()) << robot.Seen()[0].text;
        } else {
            ASSERT_TRUE(robot.WaitForCount(1, 10000));
            const robot::DialogSeen box = robot.Seen()[0];
            EXPECT_EQ(box.caption, "Quellor");
            EXPECT_EQ(box.icon, "stop");
            EXPECT_NE(box.text.find("\"" + c.shown + "\" cannot be used."), std::string::npos)
                << box.text;
            EXPECT_NE(box.text.find("your rules"), std::string::npos) << box.text;
            EXPECT_EQ(StoredPath(c.stored), "");
        }
        End(main);
        EXPECT_EQ(testsupport::FolderEntries(folder_),
                  (std::vector<std::string>{"QUELLOR.EXE", "QUELLOR.log", "QUELLOR.rul"}))
            << "nothing new beside the program";
    }
}
