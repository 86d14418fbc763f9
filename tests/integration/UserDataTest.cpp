// Where the rule file and the log live: the user's folders from Windows Vista on (the
// test's program folder stands in for the profile), the program folder before it; the
// first start that brings the program folder's files along, and their removal.
#include <gtest/gtest.h>

#include <shlobj.h>

#include "RulesFixture.h"
#include "SettingsKey.h"
#include "app/UserData.h"
#include "setup/FolderLocations.h"
#include "win/AnsiPath.h"
#include "win/Handles.h"

using settingskey::Raw;
using settingskey::Sz;
using testsupport::FileExists;
using testsupport::ReadFileBytes;
using testsupport::WriteFileBytes;

namespace {

// The process's current folder, given back however the test ends.
class CurrentFolder {
  public:
    explicit CurrentFolder(const std::string& folder)
    {
        GetCurrentDirectoryA(sizeof before_, before_);
        SetCurrentDirectoryA(folder.c_str());
    }
    ~CurrentFolder() { SetCurrentDirectoryA(before_); }
    CurrentFolder(const CurrentFolder&) = delete;
    CurrentFolder& operator=(const CurrentFolder&) = delete;

  private:
    char before_[MAX_PATH] = {};
};

} // namespace

// Setup's special folders and the user's data folders go through the same conversion.
TEST(AnsiPathTest, AFolderIsTakenExactlyOrByItsShortNameButNeverByALookAlike)
{
    const std::string base = testsupport::FreshFolder("names");
    // The folder a best-fit conversion of "Łukasz" names exists: taking it would show.
    CreateDirectoryA((base + "Lukasz").c_str(), nullptr);
    struct Case {
        std::wstring name;
        bool exists;
        std::string shown;
        bool exact; // taken as it is, not by its short name
    } cases[] = {
        {L"Zo\u00EB K\u00F6nig", true, "Zo\xEB K\xF6nig", true},
        {L"\u0141ukasz", true, "?ukasz", false},
        {L"\u0416\u0443\u0440\u043D\u0430\u043B", true, "??????", false},
        {L"\u0141ukasz \u0416", false, "?ukasz ?", false}, // no short name: none
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(base + c.shown);
        const std::wstring path = testsupport::Wide(base) + c.name;
        if (c.exists) {
            ASSERT_TRUE(CreateDirectoryW(path.c_str(), nullptr));
            CloseHandle(CreateFileW((path + L"\\probe").c_str(), GENERIC_WRITE, 0, nullptr,
                                    CREATE_NEW, 0, nullptr));
        }
        const win::AnsiPath got = win::ToAnsiFolder(path);
        if (!c.exists) EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
        EXPECT_EQ(got.shown, base + c.shown + "\\");
        EXPECT_EQ(got.usable.empty(), !c.exists) << got.problem;
        EXPECT_EQ(got.problem.empty(), c.exists);
        if (c.exact) EXPECT_EQ(got.usable, base + c.shown + "\\");
        if (c.exists) EXPECT_TRUE(FileExists(got.usable + "probe")) << got.usable;

        testsupport::MovedUserFolder programs(L"Programs", path);
        EXPECT_EQ(setup::GetSpecialFolder(CSIDL_PROGRAMS), got.usable);
        if (!c.exists)
            EXPECT_EQ(setup::SpecialFolderForMessage(CSIDL_PROGRAMS),
                      "the folder \"" + got.shown + "\"");
    }
}

class UserDataTest : public RulesTest {
  protected:
    // A start of the program as `exe` in a new folder holding `besideProgram`, with the
    // user's folders as `folders` (none: the test folder's stand-ins).
    // `held`, a file of the program folder, is held open without sharing meanwhile.
    void Start(const std::string& exe,
               const std::vector<std::pair<std::string, std::string>>& files,
               const app::UserFolders* folders = nullptr, const std::string& held = "")
    {
        form.reset();
        boxes.clear();
        folder = testsupport::FreshFolder("user data");
        app::SetProgramPathForTests(folder + exe);
        if (folders) app::SetUserFoldersForTests(*folders);
        for (const auto& [path, bytes] : files)
            WriteFileBytes(folder + path, bytes);
        win::File hold;
        if (!held.empty())
            hold.reset(CreateFileA((folder + held).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                   0, nullptr));
        EXPECT_EQ(!held.empty(), static_cast<bool>(hold)) << held;
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
        // The program folder's file held open without sharing at the first start: then
        // what comes of it is seen at the next, after the user saved `usersOwn` rules.
        std::string held = {}, usersOwn = {};
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
        {"the rule file's copy fails once: the next start makes it",
         "QUELLOR.EXE",
         std::nullopt,
         local + "QUELLOR.rul",
         low + "QUELLOR.log",
         {{local + "QUELLOR.rul", rules}, {low + "QUELLOR.log", log}},
         "QUELLOR.rul"},
        {"the page's log fails once, the other log came along: the next start copies the one",
         "Pops.exe",
         std::nullopt,
         local + "Pops.rul",
         low + "Pops.log",
         {{local + "Pops.rul", rules}, {low + "Pops.log", log}, {low + "QUELLOR.log", pageLog}},
         "QUELLOR.log"},
        {"the rule file's copy fails, the user saves rules: the next start keeps theirs",
         "QUELLOR.EXE",
         std::nullopt,
         local + "QUELLOR.rul",
         low + "QUELLOR.log",
         {{local + "QUELLOR.rul", "mine"}, {low + "QUELLOR.log", log}},
         "QUELLOR.rul",
         "mine"},
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
        Start(c.exe, beside, c.folders ? &*c.folders : nullptr, c.held);
        EXPECT_EQ(Stored("RuleFile"), folder + c.ruleFile);
        EXPECT_EQ(Stored("LogFile"), folder + c.logFile);
        if (!c.held.empty()) {
            const bool rule = c.held == beside[0].first;
            EXPECT_FALSE(FileExists(folder + (rule ? local : low) + c.held)) << "held at first";
            if (!c.usersOwn.empty()) WriteFileBytes(folder + local + c.held, c.usersOwn);
            Restart();
        }
        auto bytesOf = [&](const std::string& path) {
            return FileExists(folder + path) ? ReadFileBytes(folder + path) : "(none)";
        };
        for (const auto& [path, bytes] : c.expected)
            EXPECT_EQ(bytesOf(path), bytes) << path;
        for (const auto& [path, bytes] : beside)
            EXPECT_EQ(bytesOf(path), bytes) << "the program folder's " << path;
        EXPECT_EQ(testsupport::FolderExists(folder + "AppData"), !c.folders)
            << "no user folder on XP";
        EXPECT_TRUE(boxes.empty()) << boxes[0].text;
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

TEST_F(UserDataTest, ARootThatCannotBeUsedIsNamedOnceAndNothingOfItsGoesElsewhere)
{
    const std::string localProblem =
        "The folder \"C:\\Users\\?ukasz\\AppData\\Local\\\" cannot be used.";
    const std::string lowProblem = "Windows gives no path for your LocalLow folder.";
    const std::string noRules =
        localProblem + " Quellor cannot keep your rules until this is fixed.";
    const std::string noLog =
        lowProblem + " Quellor cannot keep the history log until this is fixed.";
    for (const auto& [rulesUsable, logUsable] :
         {std::pair{false, true}, {true, false}, {false, false}}) {
        SCOPED_TRACE(std::to_string(rulesUsable) + std::to_string(logUsable));
        const std::string profile = testsupport::FreshFolder("profile");
        app::UserFolders folders{true, rulesUsable ? profile + "Local\\" : "",
                                 logUsable ? profile + "LocalLow\\" : "",
                                 rulesUsable ? "" : localProblem, logUsable ? "" : lowProblem};
        // Whatever went to a relative path would land here.
        const std::string current = testsupport::FreshFolder("current");
        CurrentFolder here(current);
        Start("QUELLOR.EXE", {{"QUELLOR.log", "log"}}, &folders);
        ASSERT_EQ(boxes.size(), 1u) << "told once, at the start";
        EXPECT_EQ(boxes[0].caption, ui::Application().Title);
        EXPECT_EQ(boxes[0].flags & MB_ICONMASK, static_cast<UINT>(MB_ICONERROR));
        EXPECT_EQ(boxes[0].text.find(noRules) != std::string::npos, !rulesUsable) << boxes[0].text;
        EXPECT_EQ(boxes[0].text.find(noLog) != std::string::npos, !logUsable) << boxes[0].text;
        EXPECT_EQ(Stored("RuleFile").empty(), !rulesUsable);
        EXPECT_EQ(Stored("LogFile").empty(), !logUsable);

        // The user applies a new rule, looks at the History Log and clears it.
        boxes.clear();
        answer = IDYES;
        ClickTab(form->tabRules);
        form->lvwRules.AddItem({"http://ads.example/", kKindText[4]}, 4);
        form->RulesChanged = true;
        Press(form->btnApply);
        Pump(300);
        ClickTab(form->tabHistory);
        Press(form->btnClearLogFile);
        Pump(300);
        size_t ruleBoxes = 0, logBoxes = 0;
        for (const RecordedBox& box : boxes) {
            ruleBoxes += box.text == noRules;
            logBoxes += box.text == noLog;
        }
        EXPECT_EQ(ruleBoxes, rulesUsable ? 0u : 2u) << "on the Rules page and at Apply";
        EXPECT_EQ(logBoxes, logUsable ? 0u : 1u) << "at Clear Log File";
        EXPECT_EQ(form->RulesChanged, !rulesUsable) << "the rule not saved stays to apply";
        EXPECT_EQ(testsupport::FolderEntries(current), std::vector<std::string>{});
        EXPECT_EQ(testsupport::FolderEntries(folder), std::vector<std::string>{"QUELLOR.log"});
    }
}

TEST_F(UserDataTest, UninstallRemovesTheUsersFilesAndTheirEmptyFolders)
{
    struct Case {
        const char* what;
        bool foreignFile; // a file of the user's own in the log folder
        std::string held; // the program folder's file whose copy is still to be made
    };
    for (const Case& c : {Case{"only ours", false, ""}, Case{"one of the user's own", true, ""},
                          Case{"a copy still to be made", false, "Pops.rul"}}) {
        SCOPED_TRACE(c.what);
        Start("Pops.exe", {{"Pops.rul", "rules"}, {"QUELLOR.log", "page"}, {"Pops.log", "log"}},
              nullptr, c.held);
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
