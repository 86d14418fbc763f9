// The real browser helper QUELLOR.DLL, from outside: its registration read back from the
// registry, and what it does inside a browser (the stand-in IEHOST.EXE, which loads it as
// Internet Explorer does) while QUELLOR.EXE runs: windows killed and allowed, the log, the
// counters, the window options, browsers killing at once, changes applied while it runs,
// and a browser that is short of memory, closes under it or shares the writers' lock.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

#include "E2eSupport.h"
#include "SetupSupport.h"

using e2e::FreshProgramFolder;
using e2e::KillListener;
using e2e::Meeting;
using e2e::WaitFor;
using robot::FindTopWindow;
using robot::Process;
using testsupport::LogRecord;
using testsupport::ReadLog;
using testsupport::RuleBytes;

namespace {

const char kKey[] = "Software\\Tandrel\\Quellor";
const char kClsidKey[] = "CLSID\\{2E6E1467-2E6F-424F-B42D-CB3B6995A0A3}";
const char kLoaded[] = "loaded {2E6E1467-2E6F-424F-B42D-CB3B6995A0A3}";
const char kEnd[] = "end references=0 sinks=0";

using Entry = HRESULT(STDAPICALLTYPE*)();

// Calls one of the library's entry points in this process, as setup does.
HRESULT CallEntry(const std::string& dll, const char* name)
{
    HMODULE library = LoadLibraryA(dll.c_str());
    if (!library) return HRESULT_FROM_WIN32(GetLastError());
    auto entry = reinterpret_cast<Entry>(reinterpret_cast<void*>(GetProcAddress(library, name)));
    HRESULT hr = entry ? entry() : E_NOINTERFACE;
    FreeLibrary(library);
    return hr;
}

std::optional<std::string> StringValue(HKEY root, const std::string& path, const char* name)
{
    char data[1024] = {};
    DWORD size = sizeof data - 1, type = 0;
    if (RegGetValueA(root, path.c_str(), name, RRF_RT_REG_SZ, &type, data, &size) != ERROR_SUCCESS)
        return std::nullopt;
    return std::string(data);
}

std::optional<DWORD> DwordValue(HKEY root, const std::string& path, const char* name)
{
    DWORD data = 0, size = sizeof data;
    if (RegGetValueA(root, path.c_str(), name, RRF_RT_REG_DWORD, nullptr, &data, &size) !=
        ERROR_SUCCESS)
        return std::nullopt;
    return data;
}

bool KeyExists(HKEY root, const std::string& path)
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

void SetValue(const char* name, DWORD type, const void* data, DWORD size)
{
    HKEY key = nullptr;
    RegCreateKeyExA(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size);
    RegCloseKey(key);
}

void SetDword(const char* name, DWORD value)
{
    SetValue(name, REG_DWORD, &value, sizeof value);
}

// A new LastChange, as an apply in the tray program writes it.
void Touch()
{
    static double stamp = 46000;
    stamp += 0.001;
    SetValue("LastChange", REG_BINARY, &stamp, sizeof stamp);
}

DWORD Counter(const char* name)
{
    return DwordValue(HKEY_CURRENT_USER, kKey, name).value_or(0xFFFFFFFF);
}

// A file of size bytes, zeros (no rule, an empty log record) but for the pieces given by
// their offsets: the zeros cost no disk.
void WriteSparse(const std::string& path, uint64_t size,
                 const std::vector<std::pair<uint64_t, std::string>>& pieces = {})
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(size);
    SetFilePointerEx(file, at, nullptr, FILE_BEGIN);
    SetEndOfFile(file);
    for (const auto& [offset, bytes] : pieces) {
        at.QuadPart = static_cast<LONGLONG>(offset);
        DWORD written = 0;
        SetFilePointerEx(file, at, nullptr, FILE_BEGIN);
        WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    }
    CloseHandle(file);
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

class BrowserHelper : public ::testing::Test {
  protected:
    void SetUp() override
    {
        testsupport::DeleteKeyTree(HKEY_CURRENT_USER, kKey);
        testsupport::PolicyKeys::Clear();
        e2e::ClearUserData();
        folder_ = FreshProgramFolder("helper", {"QUELLOR.EXE", "QUELLOR.DLL"});
        ASSERT_EQ(CallEntry(folder_ + "QUELLOR.DLL", "DllRegisterServer"), S_OK);
    }
    void TearDown() override
    {
        if (quellor_) {
            HWND main = FindTopWindow(quellor_.Pid(), "TfrmMain", "Quellor", 1000);
            DWORD_PTR answer = 0;
            if (main)
                SendMessageTimeoutA(main, WM_QUERYENDSESSION, 0, 0, SMTO_ABORTIFHUNG, 5000,
                                    &answer);
            quellor_.WaitExit(10000, nullptr);
        }
        CallEntry(folder_ + "QUELLOR.DLL", "DllUnregisterServer");
        testsupport::DeleteKeyTree(HKEY_CURRENT_USER, kKey);
    }

    // Quellor stores the log and rule paths at start-up; the helper finds them there.
    void StartQuellor(HANDLE token = nullptr)
    {
        quellor_ = Process::Start(folder_ + "QUELLOR.EXE", "", folder_, token);
        ASSERT_TRUE(quellor_) << quellor_.StartError();
        ASSERT_NE(FindTopWindow(quellor_.Pid(), "TfrmMain", "Quellor", 10000), nullptr);
        ASSERT_TRUE(WaitFor(
            [&] {
                return Counter("KillsToDate") == 0xFFFFFFFF &&
                       StringValue(HKEY_CURRENT_USER, kKey, "RuleFile");
            },
            10000));
        // Wherever this Windows keeps them.
        logPath_ = StringValue(HKEY_CURRENT_USER, kKey, "LogFile").value_or("");
        rulePath_ = StringValue(HKEY_CURRENT_USER, kKey, "RuleFile").value_or("");
        ASSERT_FALSE(logPath_.empty());
    }

    // Starts IEHOST.EXE on a script; its output goes to a file of its own.
    Process StartBrowser(const std::string& name, const std::string& script,
                         const std::string& options = "", HANDLE token = nullptr)
    {
        testsupport::WriteFileBytes(folder_ + name + ".txt", script);
        return Process::Start(testsupport::HostPath(IEHOST_EXE),
                              options + "--script \"" + folder_ + name + ".txt\" --out \"" +
                                  folder_ + name + ".out\"",
                              folder_, token);
    }

    // Nothing at all when the browser wrote nothing: the caller's expectations fail.
    std::vector<std::string> Output(const std::string& name)
    {
        std::string path = folder_ + name + ".out";
        return testsupport::FileExists(path) ? Lines(testsupport::ReadFileBytes(path))
                                             : std::vector<std::string>{};
    }

    // Waits for a started browser to end well and gives its output lines, without the
    // loading line and the end line, which says the helper let go of the browser.
    std::vector<std::string> Finish(Process& browser, const std::string& name)
    {
        EXPECT_TRUE(browser) << browser.StartError();
        DWORD code = 99;
        EXPECT_TRUE(browser.WaitExit(60000, &code));
        EXPECT_EQ(code, 0u);
        std::vector<std::string> lines = Output(name);
        auto loaded = std::find(lines.begin(), lines.end(), kLoaded);
        auto end = std::find(lines.begin(), lines.end(), kEnd);
        if (loaded == lines.end() || end == lines.end()) {
            ADD_FAILURE() << "the helper did not load, or kept a reference after SetSite(nullptr)";
            return lines;
        }
        lines.erase(end);
        lines.erase(loaded);
        return lines;
    }

    std::vector<std::string> Browse(const std::string& script, const std::string& name = "ie",
                                    const std::string& options = "")
    {
        Process browser = StartBrowser(name, script, options);
        return Finish(browser, name);
    }

    std::string folder_;
    std::string logPath_, rulePath_; // as Quellor stored them
    Process quellor_;
};

} // namespace

TEST(BrowserHelperRegistration, WritesItsClassAndHelperKeysAndRemovesThemAgain)
{
    std::string folder = FreshProgramFolder("register", {"QUELLOR.DLL"});
    std::string dll = folder + "QUELLOR.DLL";
    ASSERT_EQ(CallEntry(dll, "DllRegisterServer"), S_OK);
    EXPECT_EQ(StringValue(HKEY_CLASSES_ROOT, kClsidKey, nullptr), "Quellor Browser Helper");
    std::string server = std::string(kClsidKey) + "\\InprocServer32";
    EXPECT_EQ(setuptest::Lower(StringValue(HKEY_CLASSES_ROOT, server, nullptr).value_or("")),
              setuptest::Lower(dll));
    EXPECT_EQ(StringValue(HKEY_CLASSES_ROOT, server, "ThreadingModel"), "Apartment");
    EXPECT_EQ(DwordValue(HKEY_LOCAL_MACHINE, setuptest::kHelperKey, "NoExplorer"), 1u);

    EXPECT_EQ(CallEntry(dll, "DllUnregisterServer"), S_OK);
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kClsidKey));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, setuptest::kHelperKey));
    EXPECT_EQ(CallEntry(dll, "DllUnregisterServer"), S_OK) << "nothing left to remove";

    // A helper key that cannot be written: the failure is reported and nothing is left.
    ASSERT_TRUE(setuptest::MakeDanglingLink(HKEY_LOCAL_MACHINE, setuptest::kHelperKey));
    EXPECT_TRUE(FAILED(CallEntry(dll, "DllRegisterServer")));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kClsidKey));
    setuptest::DeleteKeyOrLink(HKEY_LOCAL_MACHINE, setuptest::kHelperKey);
}

// One browsing session against the defaults and a few rules: every new window judged in
// the fixed order, the kills logged with both addresses and counted once each.
TEST_F(BrowserHelper, JudgesEachNewWindowByCtrlUserRulesAndDefault)
{
    StartQuellor();
    testsupport::WriteFileBytes(rulePath_, RuleBytes("partner.example", 2) +
                                               RuleBytes("trusted.example", 1) +
                                               RuleBytes("trusted.example/kill/", 3) +
                                               RuleBytes("http://ads.example.com/bad", 4));
    std::vector<std::string> lines = Browse(R"(visit http://www.news.example/today.html
popup http://ads.example.com/a.html
popup http://ads.example.com/b.html ctrl
popup http://ads.example.com/c.html user
popup http://ads.example.com/d.html nw3
popup http://www.partner.example/offer.html
popup http://ads.example.com/e.html both
popup http://ads.example.com/f.html nw3first both
visit http://trusted.example/page.html
popup http://ads.example.com/g.html
popup http://ads.example.com/bad/h.html
visit http://www.trusted.example/kill/page.html
popup http://www.partner.example/i.html
popup http://www.partner.example.evil.net/j.html
)");
    std::vector<std::string> expected = {
        "visit http://www.news.example/today.html",
        "popup http://ads.example.com/a.html -> killed",          // the default
        "popup http://ads.example.com/b.html -> allowed",         // CTRL held
        "popup http://ads.example.com/c.html -> allowed",         // the user asked for it
        "popup http://ads.example.com/d.html -> killed",          // NewWindow3 alone
        "popup http://www.partner.example/offer.html -> allowed", // allowed pop-up address
        "popup http://ads.example.com/e.html -> killed",          // both events: one kill
        "popup http://ads.example.com/f.html -> killed",          // the other order
        "visit http://trusted.example/page.html",
        "popup http://ads.example.com/g.html -> allowed",    // allowed site
        "popup http://ads.example.com/bad/h.html -> killed", // longer address rule wins
        "visit http://www.trusted.example/kill/page.html",
        "popup http://www.partner.example/i.html -> killed", // longer site rule wins
        "popup http://www.partner.example.evil.net/j.html -> killed",
    };
    EXPECT_EQ(lines, expected);

    std::vector<std::pair<std::string, std::string>> got,
        want = {
            {"http://ads.example.com/a.html", "http://www.news.example/today.html"},
            {"http://ads.example.com/d.html", "http://www.news.example/today.html"},
            {"http://ads.example.com/e.html", "http://www.news.example/today.html"},
            {"http://ads.example.com/f.html", "http://www.news.example/today.html"},
            {"http://ads.example.com/bad/h.html", "http://trusted.example/page.html"},
            {"http://www.partner.example/i.html", "http://www.trusted.example/kill/page.html"},
            {"http://www.partner.example.evil.net/j.html",
             "http://www.trusted.example/kill/page.html"},
            {"", "http://www.news.example/old.html"}, // NewWindow2 knows no pop-up address
        };
    // An older browser, which sends NewWindow2 alone.
    EXPECT_EQ(Browse("visit http://www.news.example/old.html\n"
                     "popup http://www.partner.example/k.html nw2\n",
                     "old", "--browser 6 "),
              std::vector<std::string>({"visit http://www.news.example/old.html",
                                        "popup http://www.partner.example/k.html -> killed"}))
        << "no pop-up address, so no rule on it applies";
    for (const LogRecord& r : ReadLog(logPath_))
        got.emplace_back(r.url, r.source);
    EXPECT_EQ(got, want);
    EXPECT_EQ(Counter("KillsToDate"), want.size());
    EXPECT_EQ(Counter("KillsToday"), want.size());
}

// An apply while the browser runs, in its own order: LastChange, the values, the rule file.
// A window opened between LastChange and the values must not keep the old values for good;
// the change reaches every window of the process, on its own thread (one after the other:
// while one thread reads a new view, another goes on with the last).
TEST_F(BrowserHelper, PicksUpEveryStepOfAnApplyOnEveryWindowsThread)
{
    StartQuellor();
    Meeting opened("quellor-test-opened"), stamped("quellor-test-stamped"),
        between("quellor-test-between"), applied("quellor-test-applied"),
        firstDone("quellor-test-first");
    // The browser's writer reads the key again after each kill it records (its counters
    // changed it), then tells us: each change below is made once that reading is done.
    KillListener recorded;
    Process browser = StartBrowser("live", R"(visit http://www.news.example/
popup http://ads.example.com/1.html
signal quellor-test-opened
waitfor quellor-test-stamped
popup http://ads.example.com/2.html
signal quellor-test-between
waitfor quellor-test-applied
popup http://ads.example.com/3.html
popup http://ads.example.com/kill/4.html
signal quellor-test-first
window other
waitfor quellor-test-first
visit http://other.example/
popup http://ads.example.com/5.html
popup http://ads.example.com/kill/6.html
)");
    ASSERT_TRUE(opened.Wait());
    ASSERT_TRUE(testsupport::PumpUntil([&] { return recorded.Heard().size() == 1; }, 10000));
    Touch();
    stamped.Signal();
    ASSERT_TRUE(between.Wait());
    ASSERT_TRUE(testsupport::PumpUntil([&] { return recorded.Heard().size() == 2; }, 10000));
    SetDword("DefaultNoPopups", 0);
    SetDword("IgnoreWhenCtrlKey", 1);
    testsupport::WriteFileBytes(rulePath_, RuleBytes("ads.example.com/kill", 4));
    applied.Signal();

    std::vector<std::string> lines = Finish(browser, "live");
    std::vector<std::string> first, other;
    for (const std::string& line : lines)
        if (line.rfind("other: ", 0) == 0)
            other.push_back(line.substr(7));
        else
            first.push_back(line);
    EXPECT_EQ(first, std::vector<std::string>({
                         "visit http://www.news.example/",
                         "popup http://ads.example.com/1.html -> killed",
                         "popup http://ads.example.com/2.html -> killed", // old values
                         "popup http://ads.example.com/3.html -> allowed",
                         "popup http://ads.example.com/kill/4.html -> killed",
                     }));
    EXPECT_EQ(other, std::vector<std::string>({
                         kLoaded,
                         "visit http://other.example/",
                         "popup http://ads.example.com/5.html -> allowed",
                         "popup http://ads.example.com/kill/6.html -> killed",
                         kEnd,
                     }));
}

// While one thread reads a new view (here a long rule file), the others go on with the last
// one instead of waiting for it: two windows judge a pop-up at once after the rules
// changed, and one of them judges it by the old rules.
TEST_F(BrowserHelper, WhileOneThreadReadsANewViewTheOthersGoOnWithTheLast)
{
    StartQuellor();
    SetDword("DefaultNoPopups", 0);
    testsupport::WriteFileBytes(rulePath_, RuleBytes("filler.example", 1));
    Touch();
    Meeting firstRead("quellor-test-first-read"), otherRead("quellor-test-other-read"),
        go("quellor-test-go");
    Process browser = StartBrowser("views", R"(visit http://www.news.example/
popup http://ads.example.com/x.html
signal quellor-test-first-read
waitfor quellor-test-go
popup http://ads.example.com/late/y.html
window other
visit http://www.news.example/
popup http://ads.example.com/x.html
signal quellor-test-other-read
waitfor quellor-test-go
popup http://ads.example.com/late/y.html
)");
    ASSERT_TRUE(firstRead.Wait());
    ASSERT_TRUE(otherRead.Wait());
    std::string rules;
    for (int i = 0; i < 99'999; ++i)
        rules += RuleBytes("filler" + std::to_string(i) + ".example", 1);
    testsupport::WriteFileBytes(rulePath_, rules + RuleBytes("http://ads.example.com/late/", 4));
    Touch();
    go.Signal();
    std::vector<std::string> verdicts;
    for (const std::string& line : Finish(browser, "views"))
        if (line.find("/late/y.html") != std::string::npos)
            verdicts.push_back(line.substr(line.rfind("->")));
    std::sort(verdicts.begin(), verdicts.end());
    EXPECT_EQ(verdicts, std::vector<std::string>({"-> allowed", "-> killed"}))
        << "one by the new view, the other by the last";
}

// An apply may leave the rule file's size and time as they were: LastChange alone then says
// the rules changed, and they are read again.
TEST_F(BrowserHelper, RulesRewrittenInTheSameSizeAndTimeAreReadAgainWhenLastChangeMoves)
{
    StartQuellor();
    testsupport::WriteFileBytes(rulePath_, RuleBytes("www.news.example", 1));
    SetDword("DefaultNoPopups", 0);
    Touch();
    Meeting judged("quellor-test-judged"), rewritten("quellor-test-rewritten");
    Process browser = StartBrowser("stamp", R"(visit http://www.news.example/
popup http://ads.example.com/x.html
signal quellor-test-judged
waitfor quellor-test-rewritten
popup http://ads.example.com/x.html
)");
    ASSERT_TRUE(judged.Wait());
    WIN32_FILE_ATTRIBUTE_DATA before{};
    ASSERT_TRUE(GetFileAttributesExA(rulePath_.c_str(), GetFileExInfoStandard, &before));
    testsupport::WriteFileBytes(rulePath_, RuleBytes("www.news.example", 3));
    HANDLE file = CreateFileA(rulePath_.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    SetFileTime(file, nullptr, nullptr, &before.ftLastWriteTime);
    CloseHandle(file);
    Touch();
    rewritten.Signal();
    EXPECT_EQ(Finish(browser, "stamp"),
              std::vector<std::string>({"visit http://www.news.example/",
                                        "popup http://ads.example.com/x.html -> allowed",
                                        "popup http://ads.example.com/x.html -> killed"}));
}

// Group Policy in a running browser, its keys made only after the browser started: the
// computer's rules judged before the user's, the computer's settings over the user policy's
// over the user's own, the user's rules left out while only the administrator's are used,
// and the user's own back once the keys are gone.
TEST_F(BrowserHelper, PolicyComesFirstAndReachesARunningBrowser)
{
    testsupport::PolicyKeys policy;
    StartQuellor();
    testsupport::WriteFileBytes(rulePath_,
                                RuleBytes("ads.example.com", 2) + RuleBytes("trusted.example", 1));
    Meeting before("quellor-test-before"), made("quellor-test-made"), judged("quellor-test-judged"),
        only("quellor-test-only"), onlyJudged("quellor-test-only-judged"),
        gone("quellor-test-gone");
    Process browser = StartBrowser("policy", R"(visit http://www.news.example/
popup http://ads.example.com/1.html
popup http://other.example/2.html
signal quellor-test-before
waitfor quellor-test-made
popup http://ads.example.com/3.html
popup http://other.example/4.html
signal quellor-test-judged
waitfor quellor-test-only
visit http://trusted.example/
popup http://other.example/5.html
signal quellor-test-only-judged
waitfor quellor-test-gone
popup http://other.example/6.html
popup http://ads.example.com/7.html
)");
    ASSERT_TRUE(before.Wait());
    policy.AddRule(HKEY_LOCAL_MACHINE, "CloseStartingWith", "ads.example.com/");
    policy.SetDword(HKEY_CURRENT_USER, "DefaultNoPopups", 0);
    made.Signal();
    ASSERT_TRUE(judged.Wait());
    policy.SetDword(HKEY_LOCAL_MACHINE, "DefaultNoPopups", 1);
    policy.SetDword(HKEY_CURRENT_USER, "OnlyAdministratorRules", 1);
    only.Signal();
    ASSERT_TRUE(onlyJudged.Wait());
    policy.Clear();
    gone.Signal();
    EXPECT_EQ(Finish(browser, "policy"),
              std::vector<std::string>({
                  "visit http://www.news.example/",
                  "popup http://ads.example.com/1.html -> allowed", // the user's rule
                  "popup http://other.example/2.html -> killed",    // the user's default
                  "popup http://ads.example.com/3.html -> killed",  // the computer's rule first
                  "popup http://other.example/4.html -> allowed",   // the user policy's default
                  "visit http://trusted.example/",
                  "popup http://other.example/5.html -> killed",  // no user's rule; the computer's
                  "popup http://other.example/6.html -> allowed", // the user's rule again
                  "popup http://ads.example.com/7.html -> allowed",
              }));
}

// The writer's thread ends when no kill came for a while; the next kill starts another,
// and nothing of it is lost.
TEST_F(BrowserHelper, TheWriterStartsAgainForAKillAfterItEnded)
{
    StartQuellor();
    KillListener heard;
    Process browser = StartBrowser("linger", R"(visit http://www.news.example/
popup http://ads.example.com/1.html
wait 3000
popup http://ads.example.com/2.html
)");
    Finish(browser, "linger");
    EXPECT_TRUE(WaitFor([&] { return heard.Heard().size() == 2; }, 10000));
    EXPECT_EQ(ReadLog(logPath_).size(), 2u);
    EXPECT_EQ(Counter("KillsToDate"), 2u);
}

// The eight window options, each only when its setting is on; advert frames only with
// "block ads", and never the page itself.
TEST_F(BrowserHelper, PutsTheWindowOptionsRightAndBlocksAdvertFramesOnlyWhenAsked)
{
    const char* script = R"(visit http://www.news.example/
theater on
fullscreen on
toolbar off
statusbar off
addressbar off
menubar off
resizable off
frame http://ad.doubleclick.net/banner.html
frame http://www.news.example/sidebar.html
visit http://ad.doubleclick.net/page.html
)";
    const char* options[] = {"DisableTheater",       "DisableFullScreen", "SilentMode",
                             "AlwaysAllowRezize",    "AlwaysShowToolBar", "AlwaysShowStatusBar",
                             "AlwaysShowAddressBar", "AlwaysShowMenuBar", "BlockAds"};
    std::vector<std::string> off = Browse(script, "off");
    EXPECT_EQ(std::count_if(off.begin(), off.end(),
                            [](const std::string& l) { return l.rfind("set ", 0) == 0; }),
              0)
        << "an option that is off is never touched";
    EXPECT_NE(
        std::find(off.begin(), off.end(), "frame http://ad.doubleclick.net/banner.html -> allowed"),
        off.end());

    for (const char* option : options)
        SetDword(option, 1);
    Touch();
    std::vector<std::string> on = Browse(script, "on");
    for (const char* line :
         {"set Silent 1", "set TheaterMode 0", "set FullScreen 0", "set ToolBar 1",
          "set StatusBar 1", "set AddressBar 1", "set MenuBar 1", "set Resizable 1",
          "frame http://ad.doubleclick.net/banner.html -> cancelled",
          "frame http://www.news.example/sidebar.html -> allowed",
          "visit http://ad.doubleclick.net/page.html"})
        EXPECT_NE(std::find(on.begin(), on.end(), line), on.end()) << line;

    // A window opened with its bars hidden and in full screen (window.open's features) is
    // put right as the helper is sited, before the page has done anything.
    std::vector<std::string> opened =
        Browse("print sited\n", "opened",
               "--features toolbar=no,status=no,location=no,menubar=no,resizable=no,"
               "fullscreen=yes,channelmode=yes ");
    std::sort(opened.begin(), opened.end() - 1);
    EXPECT_EQ(opened,
              std::vector<std::string>({"set AddressBar 1", "set FullScreen 0", "set MenuBar 1",
                                        "set Resizable 1", "set Silent 1", "set StatusBar 1",
                                        "set TheaterMode 0", "set ToolBar 1", "sited"}));
}

// A window that closes inside a call the helper makes into it (the page's script closes it
// as the helper leaves theater mode): the helper finishes its work on the browser it held,
// here at DocumentComplete, where the options changed since are put right too.
TEST_F(BrowserHelper, AWindowClosedInsideTheHelpersCallIsLetGoOfSafely)
{
    SetDword("DisableFullScreen", 1);
    Touch();
    Meeting ready("quellor-test-ready"), applied("quellor-test-applied");
    Process browser = StartBrowser("closing", R"(visit http://www.news.example/
theater on
toolbar off
signal quellor-test-ready
waitfor quellor-test-applied
closeon TheaterMode
complete
)");
    ASSERT_TRUE(ready.Wait());
    SetDword("DisableTheater", 1);
    SetDword("AlwaysShowToolBar", 1);
    Touch();
    applied.Signal();
    EXPECT_EQ(
        Finish(browser, "closing"),
        std::vector<std::string>({"visit http://www.news.example/", "theater on", "toolbar off",
                                  "set TheaterMode 0", "closing", "set ToolBar 1", "complete"}));
}

// Two browser processes killing at once, from one signal: their records interleave in the
// log, each whole, the counters exact, the log within MaxLogSize although it is trimmed on
// the way.
TEST_F(BrowserHelper, TwoBrowsersKillingAtOnceLeaveWholeRecordsAndExactCounters)
{
    StartQuellor();
    SetDword("MaxLogSize", 20);
    Touch();
    Meeting go("quellor-test-go"), oneReady("quellor-test-ready-one"),
        twoReady("quellor-test-ready-two");
    auto script = [](const std::string& name) {
        // Each says it is ready, and both start on one signal: neither is done before the
        // other has begun, however long a process takes to start.
        std::string text = "visit http://" + name + ".example/\nsignal quellor-test-ready-" + name +
                           "\nwaitfor quellor-test-go\n";
        // Paced so that each browser kills over most of a second: both are at it together,
        // also on a loaded machine, and the log's kept tail shows it.
        for (int i = 0; i < 40; ++i)
            text += "popup http://ads.example.com/" + name + "\nwait 20\n";
        return text;
    };
    Process first = StartBrowser("first", script("one"));
    Process second = StartBrowser("second", script("two"));
    ASSERT_TRUE(first && second);
    ASSERT_TRUE(oneReady.Wait() && twoReady.Wait());
    go.Signal();
    // Both within one deadline, inside the test runner's own.
    DWORD code = 99, deadline = GetTickCount() + 60000;
    auto left = [&] { return std::max<LONG>(0, static_cast<LONG>(deadline - GetTickCount())); };
    EXPECT_TRUE(first.WaitExit(static_cast<DWORD>(left()), &code));
    EXPECT_TRUE(second.WaitExit(static_cast<DWORD>(left()), &code));

    EXPECT_EQ(Counter("KillsToDate"), 80u);
    EXPECT_EQ(Counter("KillsToday"), 80u);
    std::string bytes = testsupport::ReadFileBytes(logPath_);
    EXPECT_EQ(bytes.size() % 520, 0u) << "no torn record";
    EXPECT_LE(bytes.size(), 20u * 1024);
    EXPECT_GE(bytes.size(), 520u * 20) << "trimmed to about 90%, not emptied";
    int turns = 0;
    std::string last;
    for (const LogRecord& r : ReadLog(logPath_)) {
        bool one = r.url == "http://ads.example.com/one" && r.source == "http://one.example/";
        bool two = r.url == "http://ads.example.com/two" && r.source == "http://two.example/";
        EXPECT_TRUE(one || two) << r.url << " from " << r.source;
        turns += !last.empty() && r.url != last;
        last = r.url;
    }
    EXPECT_GE(turns, 2) << "the two browsers' records do not interleave: they did not overlap";
}

// Quellor run elevated (started by the installer, or as administrator) makes the writers'
// lock at its start, where its token's default access list admits administrators and SYSTEM
// alone. A browser of the user's, whose administrators group only denies, still records its
// kills: logged, counted and told.
TEST_F(BrowserHelper, AStandardUsersBrowserRecordsItsKillsWhenAnElevatedQuellorMadeTheLock)
{
    win::Kernel elevated = testsupport::ElevatedToken();
    win::Kernel standard = testsupport::StandardUserToken();
    ASSERT_TRUE(elevated && standard);
    StartQuellor(elevated.get());
    ASSERT_TRUE(WaitFor(
        [] {
            return bool(win::Kernel(OpenMutexA(SYNCHRONIZE, FALSE, "Local\\Quellor.LogWriter")));
        },
        10000))
        << "Quellor made no writers' lock";
    KillListener listener;
    Process browser = StartBrowser("standard",
                                   "visit http://www.news.example/\n"
                                   "popup http://ads.example.com/a.html\n",
                                   "", standard.get());
    EXPECT_EQ(Finish(browser, "standard"),
              std::vector<std::string>({"visit http://www.news.example/",
                                        "popup http://ads.example.com/a.html -> killed"}));
    std::vector<LogRecord> log = ReadLog(logPath_);
    ASSERT_EQ(log.size(), 1u) << "the browser was refused the writers' lock";
    EXPECT_EQ(log[0].url, "http://ads.example.com/a.html");
    EXPECT_EQ(Counter("KillsToDate"), 1u);
    EXPECT_TRUE(WaitFor([&] { return !listener.Heard().empty(); }, 5000));
    EXPECT_EQ(listener.Heard(), std::vector<WPARAM>{0}) << "told once, counted already";
}

// Every object and lock is counted: the library may go exactly when none is left.
TEST(BrowserHelperRegistration, CanUnloadOnlyWhenNoObjectOrLockIsLeft)
{
    std::string folder = FreshProgramFolder("unload", {"QUELLOR.DLL"});
    HMODULE library = LoadLibraryA((folder + "QUELLOR.DLL").c_str());
    ASSERT_NE(library, nullptr);
    auto canUnload = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
        reinterpret_cast<void*>(GetProcAddress(library, "DllCanUnloadNow")));
    auto getClass = reinterpret_cast<HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**)>(
        reinterpret_cast<void*>(GetProcAddress(library, "DllGetClassObject")));
    ASSERT_TRUE(canUnload && getClass);
    CLSID clsid{};
    ASSERT_EQ(CLSIDFromString(L"{2E6E1467-2E6F-424F-B42D-CB3B6995A0A3}", &clsid), S_OK);
    IClassFactory* factory = nullptr;
    IUnknown* helper = nullptr;
    EXPECT_EQ(canUnload(), S_OK);
    EXPECT_EQ(getClass(IID_IUnknown, IID_IClassFactory, reinterpret_cast<void**>(&factory)),
              CLASS_E_CLASSNOTAVAILABLE);
    ASSERT_EQ(getClass(clsid, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
    EXPECT_EQ(canUnload(), S_FALSE) << "a factory is alive";
    factory->LockServer(TRUE);
    ASSERT_EQ(
        factory->CreateInstance(nullptr, IID_IObjectWithSite, reinterpret_cast<void**>(&helper)),
        S_OK);
    factory->Release();
    EXPECT_EQ(canUnload(), S_FALSE) << "a helper and a lock";
    helper->Release();
    EXPECT_EQ(canUnload(), S_FALSE) << "a lock";
    ASSERT_EQ(getClass(clsid, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
    factory->LockServer(FALSE);
    factory->Release();
    EXPECT_EQ(canUnload(), S_OK);
    FreeLibrary(library);
}

// New windows as a real browser sends them: opened by a frame (NewWindow3's URL context is
// the frame's document), let through from the information bar, cancelled by another add-on
// first, or with an address that only looks like a trusted one.
TEST_F(BrowserHelper, JudgesByThePageVisitedWhateverFrameOpensTheWindow)
{
    StartQuellor();
    testsupport::WriteFileBytes(
        rulePath_, RuleBytes("http://www.mybank.example/", 1) + RuleBytes("widgets.example", 4) +
                       RuleBytes("badsite.example", 3) + RuleBytes("trusted.example", 2));
    // "ｔｒｕｓｔｅｄ.example" in full-width letters, which a best-fit conversion makes ASCII.
    const std::string lookAlike =
        "http://\xEF\xBD\x94\xEF\xBD\x92\xEF\xBD\x95\xEF\xBD\x93\xEF\xBD\x94\xEF\xBD\x85\xEF\xBD"
        "\x84.example/";
    std::vector<std::string> lines = Browse("visit http://www.news.example/\n"
                                            "popup " +
                                            lookAlike +
                                            "\n"
                                            "popup http://ads.example.com/a.html infobar\n"
                                            "visit http://www.mybank.example/account.html\n"
                                            "popup http://widgets.example/chat.html from "
                                            "http://widgets.example/frame.html\n"
                                            "popup http://www.mybank.example/b.html cancelled\n");
    EXPECT_EQ(lines, std::vector<std::string>({
                         "visit http://www.news.example/",
                         "popup " + lookAlike + " -> killed",              // no trusted site
                         "popup http://ads.example.com/a.html -> allowed", // the user let it
                         "visit http://www.mybank.example/account.html",
                         "popup http://widgets.example/chat.html -> allowed", // the bank's page
                         "popup http://www.mybank.example/b.html -> killed",  // not undone
                     }));

    SetDword("DefaultNoPopups", 0);
    Touch();
    EXPECT_EQ(Browse("visit http://www.badsite.example/\n"
                     "popup http://ads.example.com/c.html from http://ads.example.com/banner\n",
                     "bad"),
              std::vector<std::string>({"visit http://www.badsite.example/",
                                        "popup http://ads.example.com/c.html -> killed"}));
    std::vector<std::pair<std::string, std::string>> got;
    for (const LogRecord& r : ReadLog(logPath_))
        got.emplace_back(r.url, r.source);
    EXPECT_EQ(got, (std::vector<std::pair<std::string, std::string>>{
                       {"http://???????.example/", "http://www.news.example/"},
                       {"http://ads.example.com/c.html", "http://www.badsite.example/"},
                   }));
}

// Another browser process holds the writers' lock: the kills are made at once and kept on
// disk, then recorded after it is released, in their order, counted and told, whether the
// browser waits for it (its library stays loaded past the window's close, free to go
// afterwards), ends as usual meanwhile (the close waits 1 s at most), or is ended 200 ms
// after its last kill.
enum class Ending { waits, closes, isEnded };
class HeldLock : public BrowserHelper, public ::testing::WithParamInterface<Ending> {};

TEST_P(HeldLock, AKillWhileAnotherProcessHoldsTheWritersLockIsDelayedNeverLost)
{
    const Ending ending = GetParam();
    StartQuellor();
    KillListener listener;
    Meeting held("quellor-test-held"), release("quellor-test-release"),
        killed("quellor-test-killed"), closed("quellor-test-closed"),
        released("quellor-test-released");
    // The other process's part, played by a thread of ours, which a browser process is not.
    struct Holder {
        Meeting& release;
        std::thread thread;
        ~Holder()
        {
            release.Signal();
            thread.join();
        }
    } holder{release, std::thread([&] {
                 HANDLE lock = CreateMutexA(nullptr, FALSE, "Local\\Quellor.LogWriter");
                 WaitForSingleObject(lock, 30000);
                 held.Signal();
                 release.Wait();
                 ReleaseMutex(lock);
                 CloseHandle(lock);
             })};
    ASSERT_TRUE(held.Wait());
    const char* after = ending == Ending::waits    ? R"(closed
library
signal quellor-test-closed
waitfor quellor-test-released
unload
)"
                        : ending == Ending::closes ? "closed\n"
                                                   : "wait 30000\n";
    Process browser = StartBrowser("held", std::string(R"(visit http://www.news.example/
popup http://ads.example.com/a.html
popup http://ads.example.com/b.html
popup http://ads.example.com/c.html
signal quellor-test-killed
)") + after);
    EXPECT_TRUE(killed.Wait());
    EXPECT_FALSE(testsupport::FileExists(logPath_));
    EXPECT_EQ(Counter("KillsToDate"), 0xFFFFFFFFu);
    if (ending == Ending::waits) {
        EXPECT_TRUE(closed.Wait());
    } else if (ending == Ending::closes) {
        DWORD code = 99;
        EXPECT_TRUE(browser.WaitExit(5000, &code)) << "the close waits for the lock";
        EXPECT_EQ(code, 0u);
    } else {
        Sleep(200);
        TerminateProcess(browser.Handle(), 1);
        EXPECT_TRUE(browser.WaitExit(5000, nullptr));
    }
    release.Signal();
    released.Signal();

    if (ending == Ending::waits) {
        std::vector<std::string> lines = Finish(browser, "held");
        lines.erase(lines.begin(), lines.end() - std::min<size_t>(lines.size(), 2));
        EXPECT_EQ(lines, std::vector<std::string>(
                             {"library {2E6E1467-2E6F-424F-B42D-CB3B6995A0A3} loaded",
                              "library {2E6E1467-2E6F-424F-B42D-CB3B6995A0A3} unloaded"}));
    }
    // Taken in by the tray program when no browser is left to do it.
    std::vector<std::string> urls;
    EXPECT_TRUE(WaitFor([&] { return Counter("KillsToDate") == 3u; }, 10000));
    for (const LogRecord& r : ReadLog(logPath_))
        urls.push_back(r.url);
    EXPECT_EQ(urls, std::vector<std::string>({"http://ads.example.com/a.html",
                                              "http://ads.example.com/b.html",
                                              "http://ads.example.com/c.html"}));
    EXPECT_TRUE(WaitFor([&] { return listener.Heard().size() == 3; }, 5000));
    EXPECT_EQ(listener.Heard(), std::vector<WPARAM>(3, 0)) << "counted already";
}

INSTANTIATE_TEST_SUITE_P(BrowserHelper, HeldLock,
                         ::testing::Values(Ending::waits, Ending::closes, Ending::isEnded));

// A browser whose address space has only small holes left: the pop-up is closed all the
// same, and the full log is still trimmed for its record (in small pieces).
TEST_F(BrowserHelper, AKillIsNotLetThroughWhenMemoryToRecordItRunsShort)
{
    StartQuellor();
    SetDword("MaxLogSize", 10000);
    Touch();
    const uint64_t full = 10000 * 1024 / 520;
    WriteSparse(logPath_, full * 520);
    EXPECT_EQ(Browse("visit http://www.news.example/\n"
                     "memory low\n"
                     "popup http://ads.example.com/short.html\n"
                     "memory normal\n"),
              std::vector<std::string>({"visit http://www.news.example/", "memory low",
                                        "popup http://ads.example.com/short.html -> killed",
                                        "memory normal"}));
    std::vector<LogRecord> log = ReadLog(logPath_);
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back().url, "http://ads.example.com/short.html");
    EXPECT_LT(log.size(), full * 95 / 100) << "trimmed";
    EXPECT_EQ(Counter("KillsToDate"), 1u);
}

// An apply whose new view cannot be built (the browser is short of memory for the rules):
// the last view serves, and the change is taken in when it is tried again, not lost.
TEST_F(BrowserHelper, AViewThatCannotBeBuiltIsTriedAgainNotLost)
{
#ifdef _WIN64
    GTEST_SKIP() << "the stand-in browser cannot use up a 64-bit address space";
#endif
    StartQuellor();
    Meeting opened("quellor-test-opened"), applied("quellor-test-applied");
    KillListener recorded; // the writer's reading after the first kill is done before the apply
    Process browser = StartBrowser("retry", R"(visit http://www.news.example/
popup http://ads.example.com/1.html
signal quellor-test-opened
waitfor quellor-test-applied
memory low
popup http://ads.example.com/2.html
memory normal
wait 1200
popup http://ads.example.com/3.html
)");
    ASSERT_TRUE(opened.Wait());
    ASSERT_TRUE(testsupport::PumpUntil([&] { return recorded.Heard().size() == 1; }, 10000));
    Touch();
    SetDword("DefaultNoPopups", 0);
    std::string rules;
    for (int i = 0; i < 80000; ++i)
        rules += RuleBytes("site" + std::to_string(i) + ".example", 4);
    testsupport::WriteFileBytes(rulePath_, rules);
    applied.Signal();
    EXPECT_EQ(
        Finish(browser, "retry"),
        std::vector<std::string>({"visit http://www.news.example/",
                                  "popup http://ads.example.com/1.html -> killed", "memory low",
                                  "popup http://ads.example.com/2.html -> killed", "memory normal",
                                  "popup http://ads.example.com/3.html -> allowed"}));
}

// A browser reads at most 100,000 rule records: a rule after them is not seen.
TEST_F(BrowserHelper, ReadsAtMostAHundredThousandRuleRecords)
{
    StartQuellor();
    SetDword("DefaultNoPopups", 0);
    Touch();
    WriteSparse(rulePath_, 100001 * 257,
                {{99999 * 257, RuleBytes("last.example", 4)},
                 {100000 * 257, RuleBytes("past.example", 4)}});
    EXPECT_EQ(Browse("popup http://last.example/\npopup http://past.example/\n"),
              std::vector<std::string>({"popup http://last.example/ -> killed",
                                        "popup http://past.example/ -> allowed"}));
}
