// On 64-bit Windows (the tests' own 64-bit Wine prefix): QUELLOR.EXE /i registers each
// browser helper in its own view of the registry, a 64-bit and a 32-bit browser then kill
// pop-ups into the one log and counters, and -u takes both registrations away again.
#include "E2eSupport.h"
#include "SetupSupport.h"

using namespace setuptest;
using testsupport::FileExists;

namespace {

const char kSettingsKey[] = "Software\\Tandrel\\Quellor";
const char kClsidKey[] = "Software\\Classes\\CLSID\\{2E6E1467-2E6F-424F-B42D-CB3B6995A0A3}";

struct View {
    REGSAM flag;
    const char* name;
    const char* library; // registered there
    const char* browser; // IEHOST.EXE of that bitness
};
const View kViews[] = {{KEY_WOW64_32KEY, "32-bit", "QUELLOR.DLL", IEHOST_EXE},
                       {KEY_WOW64_64KEY, "64-bit", "QUELLOR64.DLL", IEHOST64_EXE}};

std::string FailedBoxText(const std::string& library)
{
    return "Quellor installation FAILED. Unable to register " + library;
}

bool RegisteredIn(const View& view)
{
    return KeyExists(HKEY_CLASSES_ROOT, kClsidServer, view.flag) ||
           KeyExists(HKEY_LOCAL_MACHINE, kHelperKey, view.flag);
}

class Win64Setup : public ProgramFolders {
  protected:
    void SetUp() override
    {
        BOOL wow64 = FALSE;
        ASSERT_TRUE(IsWow64Process(GetCurrentProcess(), &wow64) && wow64)
            << "not in the 64-bit prefix";
        Clean();
    }
    void TearDown() override
    {
        Clean();
        ForgetFolders();
    }
    static void Clean()
    {
        RemoveInstallation();
        for (const View& view : kViews) {
            DeleteKeyTreeIn(HKEY_LOCAL_MACHINE, kClsidKey, view.flag);
            DeleteKeyTreeIn(HKEY_LOCAL_MACHINE, kHelperKey, view.flag);
        }
        testsupport::DeleteKeyTree(HKEY_CURRENT_USER, kSettingsKey);
    }
};

// Runs the browser of that bitness on a script; its decisions, one a line.
std::string Browse(const View& view, const std::string& folder, const std::string& script)
{
    return e2e::Browse(view.browser, folder, view.name, script);
}

// The log as the tray program reads it: 520-byte records, the pop-up's address at 8 and
// the page's at 264, each a length byte and its text.
std::vector<std::string> LoggedAddresses(const std::string& log)
{
    std::vector<std::string> addresses;
    for (size_t at = 0; at + 520 <= log.size(); at += 520)
        for (size_t field : {8, 264})
            addresses.push_back(
                log.substr(at + field + 1, static_cast<unsigned char>(log[at + field])));
    if (log.size() % 520) addresses.push_back("(a torn record)");
    return addresses;
}

} // namespace

TEST_F(Win64Setup,
       InstallRegistersEachHelperInItsViewBothBrowsersKillIntoOneLogAndUninstallRemovesBoth)
{
    const std::string folder = InstalledFolder("both views");
    ASSERT_FALSE(HasFatalFailure());
    for (const View& view : kViews) {
        SCOPED_TRACE(view.name);
        EXPECT_EQ(
            Lower(StringValue(HKEY_CLASSES_ROOT, kClsidServer, nullptr, view.flag).value_or("")),
            Lower(folder + view.library));
        EXPECT_EQ(StringValue(HKEY_CLASSES_ROOT, kClsidServer, "ThreadingModel", view.flag),
                  "Apartment");
        EXPECT_EQ(DwordValue(HKEY_LOCAL_MACHINE, kHelperKey, "NoExplorer", view.flag), 1u);
    }

    // The files where the start-up stored them, written and read across the bitnesses: a
    // rule from this 32-bit process, records from both helpers.
    std::optional<std::string> rules = StringValue(HKEY_CURRENT_USER, kSettingsKey, "RuleFile");
    std::optional<std::string> log = StringValue(HKEY_CURRENT_USER, kSettingsKey, "LogFile");
    ASSERT_TRUE(rules && log);
    testsupport::WriteFileBytes(*rules,
                                testsupport::RuleBytes("http://ads.example.com/welcome", 2));
    for (const View& view : kViews) {
        std::string bits = view.flag == KEY_WOW64_64KEY ? "64" : "32";
        EXPECT_EQ(Browse(view, folder,
                         "visit http://www.example.com/\n"
                         "popup http://ads.example.com/" +
                             bits +
                             ".html\n"
                             "popup http://ads.example.com/welcome/" +
                             bits + ".html\n"),
                  "loaded {2E6E1467-2E6F-424F-B42D-CB3B6995A0A3}\n"
                  "visit http://www.example.com/\n"
                  "popup http://ads.example.com/" +
                      bits +
                      ".html -> killed\n"
                      "popup http://ads.example.com/welcome/" +
                      bits +
                      ".html -> allowed\n"
                      "end references=0 sinks=0\n")
            << view.name;
    }
    EXPECT_EQ(
        LoggedAddresses(testsupport::ReadFileBytes(*log)),
        (std::vector<std::string>{"http://ads.example.com/32.html", "http://www.example.com/",
                                  "http://ads.example.com/64.html", "http://www.example.com/"}));
    EXPECT_EQ(DwordValue(HKEY_CURRENT_USER, kSettingsKey, "KillsToDate"), 2u);
    EXPECT_EQ(DwordValue(HKEY_CURRENT_USER, kSettingsKey, "KillsToday"), 2u);

    std::optional<std::string> uninstall =
        StringValue(HKEY_LOCAL_MACHINE, kUninstallKey, "UninstallString");
    ASSERT_TRUE(uninstall);
    Outcome removal = RunQuellor(*uninstall, folder, {"Yes", "OK"}, 2, false);
    ExpectBoxes(removal.boxes, {kConfirmBox, kUninstalledBox});
    for (const View& view : kViews)
        EXPECT_FALSE(RegisteredIn(view)) << view.name;
    EXPECT_EQ(
        PendingDeletionsUnder(folder),
        (std::vector<std::string>{Lower(folder + "quellor.exe"), Lower(folder + "quellor.dll"),
                                  Lower(folder + "quellor64.dll"), Lower(folder)}));
}

TEST_F(Win64Setup, ALibraryThatCannotBeRegisteredIsNamedAndNeitherStaysRegistered)
{
    struct Case {
        const char* what;
        std::string library; // in the message
        std::string in64;    // copied in as QUELLOR64.DLL; "" leaves it out
        bool without32 = false;
    };
    for (const Case& c : {
             Case{"64-bit library missing", "QUELLOR64.DLL", ""},
             Case{"64-bit library refuses", "QUELLOR64.DLL", REFUSING64_DLL},
             Case{"a 32-bit library in its place", "QUELLOR64.DLL", "QUELLOR.DLL"},
             Case{"32-bit library missing", "QUELLOR.DLL", "QUELLOR64.DLL", true},
         }) {
        SCOPED_TRACE(c.what);
        Clean();
        std::vector<std::string> files;
        for (const std::string& file : kProductFiles)
            if (file != "QUELLOR64.DLL" && (file != "QUELLOR.DLL" || !c.without32))
                files.push_back(file);
        std::string folder = Folder("refused", files);
        if (!c.in64.empty())
            testsupport::CopyFileOrFail(c.in64[0] == '/' ? testsupport::HostPath(c.in64)
                                                         : testsupport::StageDir() + c.in64,
                                        folder + "QUELLOR64.DLL");

        Outcome outcome =
            RunQuellor(Quoted(folder + "QUELLOR.EXE") + " /i", folder, {"OK"}, 1, true);
        ExpectBoxes(outcome.boxes, {{"Quellor", FailedBoxText(c.library), "none", {"OK"}}});
        EXPECT_TRUE(outcome.startedNormally);
        for (const View& view : kViews)
            EXPECT_FALSE(RegisteredIn(view)) << view.name;
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kUninstallKey));
        EXPECT_FALSE(FileExists(StartupFolder() + "Quellor.lnk"));
        // The refusing library was really run by the system's 64-bit regsvr32.
        if (c.in64 == REFUSING64_DLL) EXPECT_TRUE(FileExists(folder + "QUELLOR64.DLL.loaded"));
    }
}

TEST_F(Win64Setup, UninstallWithoutThe64BitLibraryRemovesItsKeyInThe64BitViewAndSaysSo)
{
    const std::string folder = InstalledFolder("64 gone");
    ASSERT_FALSE(HasFatalFailure());
    ASSERT_TRUE(DeleteFileA((folder + "QUELLOR64.DLL").c_str()));

    Outcome outcome =
        RunQuellor(Quoted(folder + "QUELLOR.EXE") + " -u", folder, {"Yes", "OK", "OK"}, 3, false);
    ExpectBoxes(outcome.boxes,
                {kConfirmBox,
                 {"Quellor",
                  "Unregister of QUELLOR64.DLL failed. The file will be removed after reboot.",
                  "none",
                  {"OK"}},
                 kUninstalledBox});
    EXPECT_FALSE(RegisteredIn(kViews[0])) << "the 32-bit library unregistered itself";
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kHelperKey, KEY_WOW64_64KEY))
        << "64-bit browsers would still look for the helper";
    EXPECT_EQ(PendingDeletionsUnder(folder).size(), 4u);
}
