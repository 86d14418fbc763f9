// Setup under User Account Control, through the answers setup asks the system for (under
// Wine every process is an administrator on Windows 7): from Vista on the machine's part is
// done elevated and the tray program is handed to the desktop's user; before Vista all is
// the user's, as it always was.
#include <gtest/gtest.h>

#include "../e2e/SetupSupport.h"
#include "MainFormFixture.h"
#include "setup/SetupOps.h"
#include "setup/SetupSystem.h"

using setuptest::KeyExists;
using setuptest::kHelperKey;
using setuptest::kUninstallKey;
using setuptest::ProgramGroup;
using setuptest::StartupFolder;
using testsupport::FileExists;
using Outcome = win::ElevatedRun::Outcome;

namespace {

const char kRunning[] = "Quellor has been successfully installed and is now running.";

class SetupIdentityTest : public MainFormTest {
  protected:
    void SetUp() override
    {
        setuptest::RemoveInstallation();
        MainFormTest::SetUp();
        for (const char* file : {"QUELLOR.DLL", "QUELLOR64.DLL", "quellor.chm", "license.txt"})
            testsupport::CopyFileOrFail(testsupport::StageDir() + file, folder + file);
        answer = IDYES;
    }
    void TearDown() override
    {
        setup::SetupSystem() = setup::SystemSetup();
        MainFormTest::TearDown();
        setuptest::RemoveInstallation();
        setuptest::ForgetPendingOperationsUnder(folder);
    }

    // Setup's view of the system for one case: the elevated run records what it was asked and
    // answers `elevation`, or runs the machine's part in this process as the elevated copy would.
    void Answer(bool machineWide, bool admin, std::optional<Outcome> elevation = std::nullopt,
                DWORD exitCode = 0, bool startWorks = true)
    {
        setup::TSetupSystem& system = setup::SetupSystem();
        system.machineWide = [machineWide] { return machineWide; };
        system.hasAdministratorRights = [this, admin] { return admin || elevated_; };
        system.runElevated = [this, elevation, exitCode](const std::string& parameters) {
            elevatedWith_.push_back(parameters);
            win::ElevatedRun run;
            if (elevation) {
                run.outcome = *elevation;
                run.exitCode = exitCode;
                run.error = ERROR_FILE_NOT_FOUND;
                return run;
            }
            userDataDuringMachinePart_ = FileExists(app::RuleFilePath());
            elevated_ = true;
            run.exitCode = static_cast<DWORD>(form->UninstallForMachine());
            elevated_ = false;
            run.outcome = Outcome::Ran;
            return run;
        };
        system.startAsDesktopUser = [this, startWorks](const std::string& program,
                                                       const std::string& in) {
            handedOver_.push_back(program + "|" + in);
            return startWorks;
        };
    }

    std::vector<std::string> elevatedWith_, handedOver_;
    bool elevated_ = false, userDataDuringMachinePart_ = false;
};

std::vector<std::string> Texts(const std::vector<RecordedBox>& boxes)
{
    std::vector<std::string> texts;
    for (const RecordedBox& box : boxes)
        texts.push_back(box.text);
    return texts;
}

} // namespace

TEST_F(SetupIdentityTest, InstallPutsTheShortcutsForWhomItInstallsAndHandsTheTrayToTheDesktopsUser)
{
    struct Case {
        const char* what;
        bool machineWide, admin;
        std::optional<Outcome> elevation;
        bool startWorks;
        bool installed;
        std::string elevatedWith; // "" when no elevation was asked for
        bool handedOver;
        std::vector<std::string> boxes;
    };
    const std::string later = "Quellor has been successfully installed. It starts when you next "
                              "log on; to start it now, choose Quellor in the Start menu.";
    const Case cases[] = {
        {"XP: the user's own, this process goes on",
         false,
         true,
         {},
         true,
         true,
         "",
         false,
         {kRunning}},
        {"Vista, elevated", true, true, {}, true, true, "", true, {kRunning}},
        {"Vista, no desktop shell", true, true, {}, false, true, "", true, {later}},
        {"Vista, no rights: the prompt refused",
         true,
         false,
         Outcome::Refused,
         true,
         false,
         "/i",
         false,
         {"Quellor was not installed: installing it needs an administrator's permission, which "
          "was not given."}},
        {"Vista, no rights: the elevated copy did it",
         true,
         false,
         Outcome::Ran,
         true,
         false,
         "/i",
         false,
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        setuptest::RemoveInstallation();
        boxes.clear();
        elevatedWith_.clear();
        handedOver_.clear();
        // An older version's shortcut of this user, which would start Quellor a second time.
        testsupport::WriteFileBytes(StartupFolder(false) + "Quellor.lnk", "old");
        Answer(c.machineWide, c.admin, c.elevation, 0, c.startWorks);

        form->Install();

        EXPECT_EQ(Texts(boxes), c.boxes);
        EXPECT_EQ(elevatedWith_, c.elevatedWith.empty() ? std::vector<std::string>{}
                                                        : std::vector<std::string>{c.elevatedWith});
        EXPECT_EQ(handedOver_, c.handedOver
                                   ? std::vector<std::string>{folder + "QUELLOR.EXE|" + folder}
                                   : std::vector<std::string>{});
        EXPECT_EQ(KeyExists(HKEY_LOCAL_MACHINE, kHelperKey), c.installed);
        EXPECT_EQ(KeyExists(HKEY_LOCAL_MACHINE, kUninstallKey), c.installed);
        const bool machine = c.installed && c.machineWide;
        EXPECT_EQ(setuptest::ReadShortcut(StartupFolder(true) + "Quellor.lnk").has_value(),
                  machine);
        EXPECT_EQ(setuptest::FilesIn(ProgramGroup(true)).size(), machine ? 3u : 0u);
        // The user's own: made before Vista, taken away by a machine's installation.
        const bool userLink = c.installed && !c.machineWide;
        EXPECT_EQ(setuptest::ReadShortcut(StartupFolder(false) + "Quellor.lnk").has_value(),
                  userLink);
        EXPECT_EQ(FileExists(StartupFolder(false) + "Quellor.lnk"), !machine);
        EXPECT_EQ(setuptest::FilesIn(ProgramGroup(false)).size(), userLink ? 3u : 0u);
    }
}

TEST_F(SetupIdentityTest, UninstallRemovesTheUsersDataOnlyOnceTheMachinesPartSucceeded)
{
    const std::string permission = "Quellor was not uninstalled: removing it from this computer "
                                   "needs an administrator's permission, which was not given. "
                                   "Nothing was removed.";
    const std::string rights = "Quellor was not uninstalled: removing it from this computer needs "
                               "an administrator's rights. Nothing was removed.";
    const std::string confirm = "Do you wish to completely uninstall Quellor";
    const std::string done = "Quellor has been successfully uninstalled.";
    struct Case {
        const char* what;
        bool admin;
        std::optional<Outcome> elevation; // nothing: the elevated copy runs the machine's part
        DWORD exitCode;
        bool blockEntry; // the entry's key cannot be deleted
        bool machineRemoved, userDataRemoved;
        std::vector<std::string> boxes; // "*" for a text that only has to be there
    };
    const Case cases[] = {
        {"elevated already: all here", true, {}, 0, false, true, true, {confirm, done}},
        {"the prompt accepted", false, {}, 0, false, true, true, {confirm, done}},
        {"the prompt refused",
         false,
         Outcome::Refused,
         0,
         false,
         false,
         false,
         {confirm, permission}},
        {"the prompt failed", false, Outcome::Failed, 0, false, false, false, {confirm, "*"}},
        {"elevated without rights", false, Outcome::Ran, 2, false, false, false, {confirm, rights}},
        {"the machine's part left a key", false, {}, 0, true, true, false, {confirm, "*"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        setuptest::RemoveInstallation();
        testsupport::WriteFileBytes(folder + "license.txt", "license");
        Answer(true, true);
        form->Install();
        ASSERT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kUninstallKey));
        if (c.blockEntry)
            ASSERT_TRUE(setuptest::MakeDanglingLink(HKEY_LOCAL_MACHINE,
                                                    std::string(kUninstallKey) + "\\blocked"));
        setup::ForceDirectories(app::RuleFolder());
        setup::ForceDirectories(app::LogFolder());
        testsupport::WriteFileBytes(app::RuleFilePath(), std::string(257, 'r'));
        testsupport::WriteFileBytes(app::LogFilePath(), std::string(520, 'l'));
        boxes.clear();
        elevatedWith_.clear();
        userDataDuringMachinePart_ = false;
        Answer(true, c.admin, c.elevation, c.exitCode);

        form->Uninstall();

        std::vector<std::string> texts = Texts(boxes);
        ASSERT_EQ(texts.size(), c.boxes.size()) << ::testing::PrintToString(texts);
        for (size_t i = 0; i < texts.size(); ++i)
            if (c.boxes[i] != "*") EXPECT_EQ(texts[i], c.boxes[i]);
        if (c.elevation == Outcome::Failed)
            EXPECT_NE(texts.back().find("Nothing was removed."), std::string::npos);
        EXPECT_EQ(elevatedWith_,
                  c.admin ? std::vector<std::string>{} : std::vector<std::string>{"/u /machine"});
        if (!c.admin && !c.elevation)
            EXPECT_TRUE(userDataDuringMachinePart_) << "the user's data went first";
        EXPECT_EQ(KeyExists(HKEY_LOCAL_MACHINE, kHelperKey), !c.machineRemoved);
        EXPECT_EQ(FileExists(StartupFolder(true) + "Quellor.lnk"), !c.machineRemoved);
        EXPECT_EQ(FileExists(folder + "license.txt"), !c.machineRemoved);
        EXPECT_EQ(FileExists(app::RuleFilePath()), !c.userDataRemoved);
        EXPECT_EQ(FileExists(app::LogFilePath()), !c.userDataRemoved);
        if (c.blockEntry)
            setuptest::DeleteKeyOrLink(HKEY_LOCAL_MACHINE,
                                       std::string(kUninstallKey) + "\\blocked");
        setuptest::ForgetPendingOperationsUnder(folder);
    }
}

TEST_F(SetupIdentityTest, AStartTakesAwayTheUsersOldShortcutsOnlyWhereTheMachineHasItsOwn)
{
    struct Case {
        const char* what;
        bool machineWide, machineLink, kept;
    };
    for (const Case& c : {Case{"Vista, installed for the machine", true, true, false},
                          Case{"Vista, only the user's", true, false, true},
                          Case{"XP: the user's are the real ones", false, true, true}}) {
        SCOPED_TRACE(c.what);
        setuptest::RemoveInstallation();
        testsupport::WriteFileBytes(StartupFolder(false) + "Quellor.lnk", "old");
        CreateDirectoryA(ProgramGroup(false).c_str(), nullptr);
        testsupport::WriteFileBytes(ProgramGroup(false) + "\\Quellor Help.lnk", "old");
        if (c.machineLink) testsupport::WriteFileBytes(StartupFolder(true) + "Quellor.lnk", "new");
        Answer(c.machineWide, true);

        form.reset();
        form = std::make_unique<TfrmMain>();

        EXPECT_EQ(FileExists(StartupFolder(false) + "Quellor.lnk"), c.kept);
        EXPECT_EQ(testsupport::FolderExists(ProgramGroup(false)), c.kept);
        EXPECT_EQ(FileExists(StartupFolder(true) + "Quellor.lnk"), c.machineLink);
    }
}

TEST_F(SetupIdentityTest, UninstallLeavesAPackageMadeQuellorsMachinePartToTheWindowsInstaller)
{
    const std::string code = "{9C12A259-1873-4F82-9715-82A923BBAB0E}";
    struct Case {
        const char* what;
        Outcome outcome;
        DWORD result; // msiexec's exit code, or why it did not start
        bool fromPackageFolder, removed;
    };
    for (const Case& c :
         {Case{"removed, a file held", Outcome::Ran, 3010, true, true},
          Case{"removed, run from another copy", Outcome::Ran, 0, false, true},
          Case{"cancelled", Outcome::Ran, ERROR_INSTALL_USEREXIT, true, false},
          Case{"not started", Outcome::Failed, ERROR_FILE_NOT_FOUND, true, false}}) {
        SCOPED_TRACE(c.what);
        setuptest::RemoveInstallation();
        Answer(true, true);
        form->Install(); // the machine's part, as the package leaves it
        testsupport::WriteFileBytes(app::ProgramPath(), "the running program");
        setup::ForceDirectories(app::RuleFolder());
        testsupport::WriteFileBytes(app::RuleFilePath(), std::string(257, 'r'));
        boxes.clear();
        Answer(true, false, Outcome::Refused); // the rights it has not are not asked for
        std::vector<std::string> removals;
        setup::SetupSystem().installedPackage = [&] {
            return setup::TInstalledPackage{code, c.fromPackageFolder ? folder : "C:\\Other\\"};
        };
        setup::SetupSystem().removePackage = [&](const std::string& product) {
            removals.push_back(product);
            win::ElevatedRun run;
            run.outcome = c.outcome;
            (c.outcome == Outcome::Ran ? run.exitCode : run.error) = c.result;
            return run;
        };

        form->Uninstall();

        EXPECT_EQ(removals, std::vector<std::string>{code});
        EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kHelperKey) && FileExists(folder + "license.txt"))
            << "removed behind the Windows Installer's back";
        EXPECT_EQ(FileExists(app::RuleFilePath()), !c.removed);
        ASSERT_EQ(boxes.size(), 2u);
        EXPECT_EQ(boxes[1].text.find(c.removed ? "Quellor has been successfully uninstalled."
                                               : "Quellor was not uninstalled: "),
                  0u);
        // Its own program file, which the Windows Installer cannot delete while it runs.
        std::vector<std::string> pending;
        if (c.removed && c.fromPackageFolder)
            pending = {setuptest::Lower(app::ProgramPath()), setuptest::Lower(folder)};
        EXPECT_EQ(setuptest::PendingDeletionsUnder(folder), pending);
        setuptest::ForgetPendingOperationsUnder(folder);
    }
}
