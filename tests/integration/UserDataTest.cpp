// Where the rule file and the log live: the user's folders from Windows Vista on (the
// test's program folder stands in for the profile), the program folder before it; the
// first start that brings the program folder's files along, and their removal.
#include <gtest/gtest.h>

#include "MainFormFixture.h"
#include "SettingsKey.h"
#include "app/UserData.h"

using settingskey::Raw;
using settingskey::Sz;
using testsupport::FileExists;
using testsupport::ReadFileBytes;
using testsupport::WriteFileBytes;

namespace {

} // namespace

class UserDataTest : public MainFormTest {
  protected:
    // A start of the program as `exe` in a new folder holding `besideProgram`, with the
    // user's folders as `folders` (none: the test folder's stand-ins).
    void Start(const std::string& exe,
               const std::vector<std::pair<std::string, std::string>>& files,
               const app::UserFolders* folders = nullptr)
    {
        form.reset();
        folder = testsupport::FreshFolder("user data");
        app::SetProgramPathForTests(folder + exe);
        if (folders) app::SetUserFoldersForTests(*folders);
        for (const auto& [path, bytes] : files)
            WriteFileBytes(folder + path, bytes);
        form = std::make_unique<TfrmMain>();
    }
    void Restart()
    {
        form.reset();
        form = std::make_unique<TfrmMain>();
    }
    static std::string Stored(const char* name)
    {
        std::optional<Raw> raw = settingskey::Get(name);
        return raw && raw->type == REG_SZ ? raw->bytes.substr(0, raw->bytes.size() - 1) : "";
    }
};

TEST_F(UserDataTest, EachWindowsKeepsTheFilesWhereItsWritersCanWriteThem)
{
    const std::string rules(257, 'r'), log(520, 'l'), pageLog(1040, 'p');
    const std::string local = "AppData\\Local\\Tandrel\\Quellor\\";
    const std::string low = "AppData\\LocalLow\\Tandrel\\Quellor\\";
    struct Case {
        const char* what;
        std::string exe;
        std::optional<app::UserFolders> folders; // nothing: Vista and later, as Wine reports
        std::string ruleFile, logFile;           // stored, below the program folder
        std::vector<std::pair<std::string, std::string>> expected; // files after the start
    };
    const app::UserFolders xp{};
    const Case cases[] = {
        {"first start on Vista and later: the program folder's files come along",
         "QUELLOR.EXE",
         std::nullopt,
         local + "QUELLOR.rul",
         low + "QUELLOR.log",
         {{local + "QUELLOR.rul", rules}, {low + "QUELLOR.log", log}}},
        {"another name: its own files, and the page's QUELLOR.log",
         "Pops.exe",
         std::nullopt,
         local + "Pops.rul",
         low + "Pops.log",
         {{local + "Pops.rul", rules}, {low + "Pops.log", log}, {low + "QUELLOR.log", pageLog}}},
        {"Windows XP: beside the program, as ever",
         "QUELLOR.EXE",
         xp,
         "QUELLOR.rul",
         "QUELLOR.log",
         {{"QUELLOR.rul", rules}, {"QUELLOR.log", log}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string stem = c.exe.substr(0, c.exe.find('.'));
        std::vector<std::pair<std::string, std::string>> beside = {{stem + ".rul", rules},
                                                                   {stem + ".log", log}};
        if (stem != "QUELLOR") beside.push_back({"QUELLOR.log", pageLog});
        Start(c.exe, beside, c.folders ? &*c.folders : nullptr);
        EXPECT_EQ(Stored("RuleFile"), folder + c.ruleFile);
        EXPECT_EQ(Stored("LogFile"), folder + c.logFile);
        for (const auto& [path, bytes] : c.expected)
            EXPECT_EQ(ReadFileBytes(folder + path), bytes) << path;
        for (const auto& [path, bytes] : beside)
            EXPECT_EQ(ReadFileBytes(folder + path), bytes) << "the program folder's " << path;
        EXPECT_EQ(testsupport::FolderExists(folder + "AppData"), !c.folders)
            << "no user folder on XP";
    }
}

TEST_F(UserDataTest, OnlyTheFirstStartBringsFilesAlongAndNeverOverTheUsersOwn)
{
    Start("QUELLOR.EXE", {{"QUELLOR.rul", "old rules"}, {"QUELLOR.log", "old log"}});
    ASSERT_EQ(ReadFileBytes(LogFolder() + "QUELLOR.log"), "old log");
    // The user clears the log and changes the rules; the next start leaves both alone.
    form->pageMain.SetActivePage(form->tabHistory);
    answer = IDYES;
    form->btnClearLogFileClick(nullptr);
    ASSERT_FALSE(FileExists(LogFolder() + "QUELLOR.log"));
    WriteFileBytes(RuleFolder() + "QUELLOR.rul", "my rules");
    Restart();
    EXPECT_FALSE(FileExists(LogFolder() + "QUELLOR.log")) << "a cleared log stays cleared";
    EXPECT_EQ(ReadFileBytes(RuleFolder() + "QUELLOR.rul"), "my rules");

    // A user who already has files of their own (the folders made by another copy of the
    // program) keeps them.
    Start("QUELLOR.EXE", {{"QUELLOR.rul", "program's"}});
    WriteFileBytes(folder + "QUELLOR.log", "program's");
    std::string mine = RuleFolder() + "QUELLOR.rul";
    WriteFileBytes(mine, "mine");
    Restart();
    EXPECT_EQ(ReadFileBytes(mine), "mine");
    EXPECT_FALSE(FileExists(LogFolder() + "QUELLOR.log")) << "not the first start any more";
}

TEST_F(UserDataTest, ARootTheSystemCannotGiveLeavesThatFileBesideTheProgram)
{
    app::UserFolders noLow;
    noLow.perUser = true;
    noLow.localAppData = testsupport::FreshFolder("profile") + "Local\\";
    Start("QUELLOR.EXE", {{"QUELLOR.log", "log"}}, &noLow);
    EXPECT_EQ(Stored("RuleFile"), noLow.localAppData + "Tandrel\\Quellor\\QUELLOR.rul");
    EXPECT_EQ(Stored("LogFile"), folder + "QUELLOR.log");
    EXPECT_EQ(ReadFileBytes(folder + "QUELLOR.log"), "log");
}

TEST_F(UserDataTest, UninstallRemovesTheUsersFilesAndTheirEmptyFolders)
{
    struct Case {
        const char* what;
        bool foreignFile; // a file of the user's own in the log folder
    };
    for (const Case& c : {Case{"only ours", false}, Case{"one of the user's own", true}}) {
        SCOPED_TRACE(c.what);
        Start("Pops.exe", {{"Pops.rul", "rules"}, {"QUELLOR.log", "page"}, {"Pops.log", "log"}});
        if (c.foreignFile) WriteFileBytes(LogFolder() + "notes.txt", "mine");
        form.reset();
        app::RemoveUserData();
        for (const std::string& file :
             {RuleFolder() + "Pops.rul", LogFolder() + "Pops.log", LogFolder() + "QUELLOR.log"})
            EXPECT_FALSE(FileExists(file)) << file;
        EXPECT_FALSE(testsupport::FolderExists(folder + "AppData\\Local\\Tandrel"));
        EXPECT_EQ(testsupport::FolderExists(LogFolder()), c.foreignFile);
        EXPECT_EQ(testsupport::FolderExists(folder + "AppData\\LocalLow\\Tandrel"), c.foreignFile);
        // The program folder's files are the uninstaller's fixed list, not ours.
        for (const char* file : {"Pops.rul", "QUELLOR.log", "Pops.log"})
            EXPECT_TRUE(FileExists(folder + file)) << file;
    }

    // Windows XP: nothing of the user's lies apart, and the program folder is left to the
    // fixed list.
    const app::UserFolders xp{};
    Start("QUELLOR.EXE", {{"QUELLOR.rul", "rules"}}, &xp);
    form.reset();
    app::RemoveUserData();
    EXPECT_TRUE(FileExists(folder + "QUELLOR.rul"));
}
