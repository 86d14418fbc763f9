// Installation and uninstallation from the command line, seen from outside: the boxes
// the robot answers, the shortcuts as the shell reads them, the machine's registry and
// the deletions Windows is to carry out at the next restart.
#include "E2eSupport.h"
#include "SetupSupport.h"

using namespace setuptest;
using testsupport::FileExists;

namespace {

// Windows Vista and later, as Wine reports itself: setup is the machine's.
class SetupVistaE2e : public ProgramFolders {
  protected:
    void SetUp() override
    {
        RemoveInstallation();
        e2e::ClearUserData();
    }
    void TearDown() override
    {
        RemoveInstallation();
        e2e::ClearUserData();
        ForgetFolders();
    }
};

// Windows XP and earlier: setup is the installing user's, as it always was.
class SetupE2e : public SetupVistaE2e {
    e2e::WindowsVersionForQuellor xp_{"winxp"}, renamedXp_{"winxp", "POPS.EXE"};
};

std::vector<std::string> GroupFiles(bool machine = false)
{
    return FilesIn(ProgramGroup(machine));
}

} // namespace

TEST_F(SetupE2e, InstallRegistersTheHelperMakesFourShortcutsAndTheEntryThenStarts)
{
    struct Case {
        std::string exe, library, help;
    };
    // A renamed program looks for its library and help file under its own name.
    for (const Case& c : {Case{"QUELLOR.EXE", "QUELLOR.DLL", "QUELLOR.chm"},
                          Case{"POPS.EXE", "POPS.DLL", "POPS.chm"}}) {
        SCOPED_TRACE(c.exe);
        RemoveInstallation();
        std::string folder = Folder("install", kProductFiles, c.exe);
        if (c.library != "QUELLOR.DLL")
            testsupport::CopyFileOrFail(testsupport::StageDir() + "QUELLOR.DLL",
                                        folder + c.library);
        std::string program = folder + c.exe;

        for (int run = 1; run <= 2; ++run) {
            SCOPED_TRACE("run " + std::to_string(run));
            Outcome outcome = RunQuellor(Quoted(program) + " /i", folder, {"OK"}, 1, true);
            ExpectBoxes(outcome.boxes, {kInstalledBox});
            EXPECT_TRUE(outcome.startedNormally);
            EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kHelperKey));

            struct Link {
                std::string path, target, description, iconFile;
                int iconIndex;
            };
            const std::string group = ProgramGroup(false);
            for (const Link& expected :
                 {Link{StartupFolder(false) + "Quellor.lnk", program, "Quellor", program, 0},
                  Link{group + "\\Quellor.lnk", program, "Quellor", program, 0},
                  Link{group + "\\Quellor Help.lnk", folder + c.help, "Quellor Help", "", 0},
                  Link{group + "\\License Agreement.lnk", folder + "license.txt",
                       "License Agreement", "", 0}}) {
                std::optional<Shortcut> link = ReadShortcut(expected.path);
                ASSERT_TRUE(link) << expected.path;
                EXPECT_EQ(Lower(link->target), Lower(expected.target)) << expected.path;
                EXPECT_EQ(link->workingFolder, folder) << expected.path;
                EXPECT_EQ(link->description, expected.description) << expected.path;
                EXPECT_EQ(link->arguments, "") << expected.path;
                EXPECT_EQ(Lower(link->iconFile), Lower(expected.iconFile)) << expected.path;
                if (!expected.iconFile.empty()) EXPECT_EQ(link->iconIndex, 0) << expected.path;
            }
            // Running it again replaces the set instead of adding to it.
            EXPECT_EQ(GroupFiles(), (std::vector<std::string>{"License Agreement.lnk",
                                                              "Quellor Help.lnk", "Quellor.lnk"}));

            ASSERT_NE(folder.find(' '), std::string::npos);
            ExpectUninstallEntry(program);
            if (c.exe != "QUELLOR.EXE") break; // the second run is the first case's
        }
    }
}

TEST_F(SetupE2e, InstallWithoutAUsableLibraryOnlySaysSoAndStartsAsUsual)
{
    struct Case {
        const char* what;
        std::string exe;
        std::vector<std::string> files;
        std::string libraryFrom; // copied in as QUELLOR.DLL
    };
    const std::string system = SpecialFolder(CSIDL_SYSTEM);
    for (const Case& c : {
             Case{"no library", "QUELLOR.EXE", {"QUELLOR.EXE", "license.txt"}, ""},
             Case{"renamed program", "POPS.EXE", kProductFiles, ""},
             Case{"library without the entry point",
                  "QUELLOR.EXE",
                  {"QUELLOR.EXE"},
                  system + "version.dll"},
             Case{"not a library", "QUELLOR.EXE", {"QUELLOR.EXE"}, "text"},
         }) {
        SCOPED_TRACE(c.what);
        std::string folder = Folder("no library", c.files, c.exe);
        if (c.libraryFrom == "text")
            testsupport::WriteFileBytes(folder + "QUELLOR.DLL", "this is not a library\r\n");
        else if (!c.libraryFrom.empty())
            testsupport::CopyFileOrFail(c.libraryFrom, folder + "QUELLOR.DLL");

        Outcome outcome = RunQuellor(Quoted(folder + c.exe) + " /i", folder, {"OK"}, 1, true);
        ExpectBoxes(outcome.boxes, {kInstallFailedBox});
        EXPECT_TRUE(outcome.startedNormally);
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kHelperKey));
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kUninstallKey));
        EXPECT_FALSE(FileExists(StartupFolder(false) + "Quellor.lnk"));
        EXPECT_FALSE(FileExists(ProgramGroup(false)));
    }
}

TEST_F(SetupE2e, AShortcutOrEntryThatCannotBeWrittenStopsTheInstallWithAnErrorBox)
{
    struct Case {
        const char* what;
        int shortcutsMade; // of the four, in their order
        std::string text;  // "" when it is the system's own description
    };
    for (const Case& c :
         {Case{"group blocked by a file", 1, ""},
          Case{"entry's key cannot be opened", 4, "Failed to set data for 'DisplayName'"}}) {
        SCOPED_TRACE(c.what);
        RemoveInstallation();
        std::string folder = Folder("blocked", kProductFiles);
        if (c.shortcutsMade == 1)
            testsupport::WriteFileBytes(ProgramGroup(false), "in the way");
        else
            ASSERT_TRUE(MakeDanglingLink(HKEY_LOCAL_MACHINE, kUninstallKey));

        Outcome outcome =
            RunQuellor(Quoted(folder + "QUELLOR.EXE") + " /i", folder, {"OK"}, 1, true);
        ASSERT_EQ(outcome.boxes.size(), 1u) << Describe(outcome.boxes);
        const robot::DialogSeen& box = outcome.boxes[0];
        EXPECT_EQ(box.caption, "Quellor");
        EXPECT_EQ(box.icon, "stop");
        EXPECT_EQ(box.buttons, std::vector<std::string>{"OK"});
        if (!c.text.empty()) EXPECT_EQ(box.text, c.text);
        EXPECT_NE(box.text, kInstalled);
        EXPECT_FALSE(box.text.empty());
        EXPECT_TRUE(outcome.startedNormally);

        // What came before the failing step stays; nothing after it is done.
        EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kHelperKey));
        EXPECT_TRUE(ReadShortcut(StartupFolder(false) + "Quellor.lnk").has_value());
        EXPECT_EQ(GroupFiles().size(), static_cast<size_t>(c.shortcutsMade - 1));
        EXPECT_FALSE(StringValue(HKEY_LOCAL_MACHINE, kUninstallKey, "DisplayName"));
        if (c.shortcutsMade == 1)
            EXPECT_EQ(testsupport::ReadFileBytes(ProgramGroup(false)), "in the way");
    }
}

TEST_F(SetupVistaE2e, UninstallAnsweredYesRemovesTheProductAndSchedulesTheRest)
{
    std::string folder = InstalledFolder("uninstall");
    ASSERT_FALSE(HasFatalFailure());
    // What the program and its user add over time.
    testsupport::WriteFileBytes(folder + "QUELLOR.rul", std::string(257, '\0'));
    testsupport::WriteFileBytes(folder + "QUELLOR.log", std::string(520, '\0'));
    testsupport::WriteFileBytes(folder + "my alert.wav", "RIFF");
    // From Windows Vista on the program keeps them in the user's own folders.
    const std::string userRules = e2e::StoredPath("RuleFile"), userLog = e2e::StoredPath("LogFile");
    ASSERT_EQ(Lower(userRules), Lower(e2e::UserRuleFolder() + "QUELLOR.rul"));
    ASSERT_EQ(Lower(userLog), Lower(e2e::UserLogFolder() + "QUELLOR.log"));
    testsupport::WriteFileBytes(userRules, std::string(257, '\0'));
    testsupport::WriteFileBytes(userLog, std::string(520, '\0'));
    HKEY settings = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Tandrel\\Quellor", 0, nullptr, 0,
                              KEY_WRITE, nullptr, &settings, nullptr),
              ERROR_SUCCESS);
    RegSetValueExA(settings, "SoundFile", 0, REG_SZ, reinterpret_cast<const BYTE*>("x.wav"), 6);
    RegCloseKey(settings);

    testsupport::WriteFileBytes(StartupFolder(false) + "Quellor.lnk", "an older version's");

    // Started as Windows starts it from the list of installed programs.
    std::optional<std::string> command =
        StringValue(HKEY_LOCAL_MACHINE, kUninstallKey, "UninstallString");
    ASSERT_TRUE(command);
    Outcome outcome = RunQuellor(*command, folder, {"Yes", "OK"}, 2, false);
    ExpectBoxes(outcome.boxes, {kConfirmBox, kUninstalledBox});
    EXPECT_TRUE(outcome.endedByItself);

    EXPECT_FALSE(FileExists(StartupFolder() + "Quellor.lnk"));
    EXPECT_FALSE(FileExists(ProgramGroup()));
    EXPECT_FALSE(FileExists(StartupFolder(false) + "Quellor.lnk")) << "an older version's";
    for (const char* file : {"license.txt", "quellor.chm", "QUELLOR.rul", "QUELLOR.log",
                             "gunshot.wav", "whoosh.wav", "laser.wav"})
        EXPECT_FALSE(FileExists(folder + file)) << file;
    EXPECT_TRUE(FileExists(folder + "my alert.wav"));
    // The user's files go, and so do their folders, which held nothing else.
    EXPECT_FALSE(FileExists(userRules));
    EXPECT_FALSE(FileExists(userLog));
    for (const std::string& tandrel : {e2e::UserRuleFolder(), e2e::UserLogFolder()})
        EXPECT_EQ(GetFileAttributesA(tandrel.substr(0, tandrel.size() - 8).c_str()),
                  INVALID_FILE_ATTRIBUTES)
            << tandrel;
    // The running program and the libraries go at the next restart, then the folder; the
    // 64-bit library, of no use on 32-bit Windows, with them.
    EXPECT_EQ(
        PendingDeletionsUnder(folder),
        (std::vector<std::string>{Lower(folder + "quellor.exe"), Lower(folder + "quellor.dll"),
                                  Lower(folder + "quellor64.dll"), Lower(folder)}));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kHelperKey)); // the library's own unregistering
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kUninstallKey));
    EXPECT_EQ(StringValue(HKEY_CURRENT_USER, "Software\\Tandrel\\Quellor", "SoundFile"), "x.wav");
    testsupport::DeleteKeyTree(HKEY_CURRENT_USER, "Software\\Tandrel\\Quellor");
}

TEST_F(SetupVistaE2e, InstallIsTheMachinesAndHandsTheTrayProgramToTheDesktopsUser)
{
    std::string folder = Folder("for the machine", kProductFiles);
    const std::string program = folder + "QUELLOR.EXE";
    {
        // What an older version left: the installing user's own shortcuts.
        e2e::WindowsVersionForQuellor xp("winxp");
        Outcome old = RunQuellor(Quoted(program) + " /i", folder, {"OK"}, 1, true);
        ASSERT_TRUE(old.startedNormally);
        ASSERT_FALSE(old.handedOver);
        ASSERT_EQ(GroupFiles(false).size(), 3u);
    }
    for (int run = 1; run <= 2; ++run) {
        SCOPED_TRACE("run " + std::to_string(run));
        Outcome outcome = RunQuellor(Quoted(program) + " /i", folder, {"OK"}, 1, true);
        ExpectBoxes(outcome.boxes, {kInstalledBox});
        // This process ends; the tray program is the desktop's, started by its shell.
        EXPECT_TRUE(outcome.endedByItself);
        EXPECT_TRUE(outcome.startedNormally);
        EXPECT_TRUE(outcome.handedOver);
        EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kHelperKey));
        ExpectUninstallEntry(program);
        std::optional<Shortcut> startup = ReadShortcut(StartupFolder() + "Quellor.lnk");
        ASSERT_TRUE(startup);
        EXPECT_EQ(Lower(startup->target), Lower(program));
        EXPECT_EQ(GroupFiles(true), (std::vector<std::string>{"License Agreement.lnk",
                                                              "Quellor Help.lnk", "Quellor.lnk"}));
        // Exactly one way to start at logon.
        EXPECT_FALSE(FileExists(StartupFolder(false) + "Quellor.lnk"));
        EXPECT_FALSE(FileExists(ProgramGroup(false)));
    }

    // Without a library only the failure is said, and the tray program starts all the same.
    RemoveInstallation();
    std::string bare = Folder("no library for the machine", {"QUELLOR.EXE", "license.txt"});
    Outcome failed = RunQuellor(Quoted(bare + "QUELLOR.EXE") + " /i", bare, {"OK"}, 1, true);
    ExpectBoxes(failed.boxes, {kInstallFailedBox});
    EXPECT_TRUE(failed.endedByItself);
    EXPECT_TRUE(failed.handedOver);
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kUninstallKey));
    EXPECT_FALSE(FileExists(StartupFolder() + "Quellor.lnk"));
}

// A standard user's token: the administrators group only denies. Under Wine the elevation
// prompt gives the elevated copy the same token, so the machine's part finds no rights.
TEST_F(SetupVistaE2e, AnUninstallThatGetsNoAdministratorsRightsRemovesNothing)
{
    std::string folder = InstalledFolder("standard user");
    ASSERT_FALSE(HasFatalFailure());
    const std::string rules = e2e::StoredPath("RuleFile"), log = e2e::StoredPath("LogFile");
    ASSERT_FALSE(rules.empty());
    testsupport::WriteFileBytes(rules, std::string(257, '\0'));
    testsupport::WriteFileBytes(log, std::string(520, '\0'));
    win::Kernel standard = testsupport::StandardUserToken();
    ASSERT_TRUE(standard);

    robot::Process uninstall =
        robot::Process::Start(folder + "QUELLOR.EXE", "-u", folder, standard.get());
    ASSERT_TRUE(uninstall) << uninstall.StartError();
    std::vector<robot::DialogSeen> seen;
    {
        robot::Robot robot(uninstall.Pid(), {"Yes", "OK"});
        robot.WaitForCount(2, 30000);
        EXPECT_TRUE(uninstall.WaitExit(20000, nullptr));
        seen = robot.Seen();
    }
    ExpectBoxes(seen, {kConfirmBox,
                       {"Quellor",
                        "Quellor was not uninstalled: removing it from this computer needs an "
                        "administrator's rights. Nothing was removed.",
                        "stop",
                        {"OK"}}});
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kHelperKey));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kUninstallKey));
    EXPECT_TRUE(FileExists(StartupFolder() + "Quellor.lnk"));
    EXPECT_EQ(GroupFiles(true).size(), 3u);
    EXPECT_TRUE(FileExists(folder + "license.txt"));
    EXPECT_TRUE(FileExists(rules));
    EXPECT_TRUE(FileExists(log));
    EXPECT_TRUE(PendingDeletionsUnder(folder).empty());
}

TEST_F(SetupE2e, UninstallWithoutTheLibraryRemovesItsKeyAndSaysSo)
{
    struct Case {
        const char* what;
        std::string exe;
        std::vector<std::string> files;
    };
    // A second uninstall finds the library gone; a renamed program looks for POPS.DLL,
    // but the files it deletes keep their fixed names.
    for (const Case& c : {Case{"library gone", "QUELLOR.EXE", {"QUELLOR.EXE", "quellor.chm"}},
                          Case{"renamed program", "POPS.EXE", kProductFiles}}) {
        SCOPED_TRACE(c.what);
        std::string folder = Folder("gone", c.files, c.exe);
        HKEY helper = nullptr;
        ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kHelperKey, 0, nullptr, 0, KEY_WRITE, nullptr,
                                  &helper, nullptr),
                  ERROR_SUCCESS);
        RegCloseKey(helper);

        Outcome outcome =
            RunQuellor(Quoted(folder + c.exe) + " -u", folder, {"Yes", "OK", "OK"}, 3, false);
        ExpectBoxes(outcome.boxes, {kConfirmBox, kUnregisterFailedBox, kUninstalledBox});
        EXPECT_TRUE(outcome.endedByItself);
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kHelperKey));
        EXPECT_FALSE(FileExists(folder + "quellor.chm"));
        EXPECT_EQ(
            PendingDeletionsUnder(folder),
            (std::vector<std::string>{Lower(folder + "quellor.exe"), Lower(folder + "quellor.dll"),
                                      Lower(folder + "quellor64.dll"), Lower(folder)}));
    }
}

TEST_F(SetupE2e, UninstallAnsweredNoChangesNothing)
{
    // Both switches: only the uninstall runs, so nothing gets installed either.
    std::string fresh = Folder("both", kProductFiles);
    Outcome both = RunQuellor(Quoted(fresh + "QUELLOR.EXE") + " /i -u", fresh, {"No"}, 1, false);
    ExpectBoxes(both.boxes, {kConfirmBox});
    EXPECT_TRUE(both.endedByItself);
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kHelperKey));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kUninstallKey));
    EXPECT_FALSE(FileExists(StartupFolder(false) + "Quellor.lnk"));

    std::string folder = InstalledFolder("keep");
    ASSERT_FALSE(HasFatalFailure());
    std::vector<std::string> files = FilesIn(folder);
    std::vector<std::string> group = GroupFiles();
    Outcome no = RunQuellor(Quoted(folder + "QUELLOR.EXE") + " -u", folder, {"No"}, 1, false);
    ExpectBoxes(no.boxes, {kConfirmBox});
    EXPECT_TRUE(no.endedByItself);
    EXPECT_EQ(FilesIn(folder), files);
    EXPECT_EQ(GroupFiles(), group);
    EXPECT_TRUE(FileExists(StartupFolder(false) + "Quellor.lnk"));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kHelperKey));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kUninstallKey));
    EXPECT_TRUE(PendingDeletionsUnder(fresh).empty());
    EXPECT_TRUE(PendingDeletionsUnder(folder).empty());
}

TEST_F(SetupE2e, UninstallThatCannotRemoveTheEntryOrTheHelpersKeySaysSoLast)
{
    // Wine does not enforce registry rights: a link inside each key that leads nowhere
    // stops its deletion as a standard user's lack of rights would.
    const std::string blocked = "\\blocked";
    for (const char* key : {kUninstallKey, kHelperKey}) {
        HKEY made = nullptr;
        ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, key, 0, nullptr, 0, KEY_WRITE, nullptr, &made,
                                  nullptr),
                  ERROR_SUCCESS);
        RegCloseKey(made);
        ASSERT_TRUE(MakeDanglingLink(HKEY_LOCAL_MACHINE, key + blocked));
    }
    std::string folder = Folder("stuck", {"QUELLOR.EXE", "license.txt"});
    Outcome outcome =
        RunQuellor(Quoted(folder + "QUELLOR.EXE") + " -u", folder, {"Yes", "OK", "OK"}, 3, false);
    for (const char* key : {kUninstallKey, kHelperKey}) {
        EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, key));
        DeleteKeyOrLink(HKEY_LOCAL_MACHINE, key + blocked);
        SHDeleteKeyA(HKEY_LOCAL_MACHINE, key);
    }

    ASSERT_EQ(outcome.boxes.size(), 3u) << Describe(outcome.boxes);
    const robot::DialogSeen& last = outcome.boxes[2];
    EXPECT_EQ(last.caption, "Quellor");
    EXPECT_EQ(last.icon, "stop");
    EXPECT_EQ(last.text.find("successfully"), std::string::npos) << last.text;
    for (const char* key : {kUninstallKey, kHelperKey})
        EXPECT_NE(last.text.find(std::string("HKEY_LOCAL_MACHINE\\") + key), std::string::npos)
            << last.text;
    // What could go, went.
    EXPECT_FALSE(FileExists(folder + "license.txt"));
    EXPECT_TRUE(outcome.endedByItself);
}
