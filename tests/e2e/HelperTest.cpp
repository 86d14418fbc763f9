// The real browser helper QUELLOR.DLL, from outside: its registration read back from the
// registry, and what it does inside a browser (the stand-in IEHOST.EXE, which loads it as
// Internet Explorer does) while QUELLOR.EXE runs: windows killed and allowed, the log, the
// counters, the window options, and two browsers killing at once.
#include <cmath>
#include <cstring>
#include <fstream>
#include <sstream>

#include "E2eSupport.h"
#include "SetupSupport.h"

using e2e::FreshProgramFolder;
using e2e::WaitFor;
using robot::FindTopWindow;
using robot::Process;

namespace {

const char kKey[] = "Software\\Tandrel\\Quellor";
const char kClsidKey[] = "CLSID\\{2E6E1467-2E6F-424F-B42D-CB3B6995A0A3}";

std::string WindowsPath(std::string path)
{
    for (char& c : path)
        if (c == '/') c = '\\';
    return "Z:" + path;
}

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

std::string RuleBytes(const std::string& url, unsigned char kind)
{
    std::string record(257, '\0');
    record[0] = static_cast<char>(url.size());
    memcpy(&record[1], url.data(), url.size());
    record[256] = static_cast<char>(kind);
    return record;
}

struct LogRecord {
    std::string url, source;
};

std::vector<LogRecord> ReadLog(const std::string& path)
{
    std::string bytes = testsupport::ReadFileBytes(path);
    std::vector<LogRecord> records;
    for (size_t at = 0; at + 520 <= bytes.size(); at += 520) {
        auto text = [&](size_t field) {
            return bytes.substr(at + field + 1, static_cast<unsigned char>(bytes[at + field]));
        };
        records.push_back({text(8), text(264)});
    }
    return records;
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
    void StartQuellor()
    {
        quellor_ = Process::Start(folder_ + "QUELLOR.EXE", "", folder_);
        ASSERT_TRUE(quellor_) << quellor_.StartError();
        ASSERT_NE(FindTopWindow(quellor_.Pid(), "TfrmMain", "Quellor", 10000), nullptr);
        ASSERT_TRUE(WaitFor(
            [&] {
                return Counter("KillsToDate") == 0xFFFFFFFF &&
                       StringValue(HKEY_CURRENT_USER, kKey, "RuleFile");
            },
            10000));
    }

    // Starts IEHOST.EXE on a script; its output goes to a file of its own.
    Process StartBrowser(const std::string& name, const std::string& script,
                         const std::string& options = "")
    {
        testsupport::WriteFileBytes(folder_ + name + ".txt", script);
        return Process::Start(WindowsPath(IEHOST_EXE),
                              options + "--script \"" + folder_ + name + ".txt\" --out \"" +
                                  folder_ + name + ".out\"",
                              folder_);
    }

    // Runs a script to its end and gives its output lines, without the loading line; the
    // last line says the helper let go of the browser.
    std::vector<std::string> Browse(const std::string& script, const std::string& name = "ie",
                                    const std::string& options = "")
    {
        Process browser = StartBrowser(name, script, options);
        EXPECT_TRUE(browser) << browser.StartError();
        DWORD code = 99;
        EXPECT_TRUE(browser.WaitExit(60000, &code));
        EXPECT_EQ(code, 0u);
        std::vector<std::string> lines = Lines(testsupport::ReadFileBytes(folder_ + name + ".out"));
        auto loaded =
            std::find(lines.begin(), lines.end(), "loaded {2E6E1467-2E6F-424F-B42D-CB3B6995A0A3}");
        EXPECT_NE(loaded, lines.end());
        if (loaded == lines.end()) return lines;
        lines.erase(loaded);
        EXPECT_EQ(lines.back(), "end references=0 sinks=0")
            << "no reference left after SetSite(nullptr)";
        lines.pop_back();
        return lines;
    }

    std::string folder_;
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
    testsupport::WriteFileBytes(e2e::StoredPath("RuleFile"),
                                RuleBytes("partner.example", 2) + RuleBytes("trusted.example", 1) +
                                    RuleBytes("trusted.example/kill/", 3) +
                                    RuleBytes("http://ads.example.com/bad", 4));
    std::vector<std::string> lines = Browse(R"(visit http://www.news.example/today.html
popup http://ads.example.com/a.html
popup http://ads.example.com/b.html ctrl
popup http://ads.example.com/c.html user
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
                     "old", "--browser 6 ")
                  .back(),
              "popup http://www.partner.example/k.html -> killed")
        << "no pop-up address, so no rule on it applies";
    for (const LogRecord& r : ReadLog(e2e::StoredPath("LogFile")))
        got.emplace_back(r.url, r.source);
    EXPECT_EQ(got, want);
    EXPECT_EQ(Counter("KillsToDate"), want.size());
    EXPECT_EQ(Counter("KillsToday"), want.size());
}

// Settings and rules changed while the browser runs are picked up at the next window.
TEST_F(BrowserHelper, PicksUpChangedSettingsAndRulesWhileTheBrowserRuns)
{
    StartQuellor();
    Process browser = StartBrowser("live", R"(visit http://www.news.example/
popup http://ads.example.com/1.html
print changed
wait 4000
popup http://ads.example.com/2.html
popup http://ads.example.com/kill/3.html
)");
    ASSERT_TRUE(browser);
    std::string out = folder_ + "live.out";
    ASSERT_TRUE(WaitFor(
        [&] {
            return testsupport::FileExists(out) &&
                   testsupport::ReadFileBytes(out).find("changed") != std::string::npos;
        },
        30000));
    SetDword("DefaultNoPopups", 0);
    Touch();
    testsupport::WriteFileBytes(e2e::StoredPath("RuleFile"), RuleBytes("ads.example.com/kill", 4));
    DWORD code = 99;
    ASSERT_TRUE(browser.WaitExit(60000, &code));
    std::vector<std::string> lines = Lines(testsupport::ReadFileBytes(out));
    ASSERT_GE(lines.size(), 6u);
    EXPECT_EQ(lines[2], "popup http://ads.example.com/1.html -> killed");
    EXPECT_EQ(lines[4], "popup http://ads.example.com/2.html -> allowed");
    EXPECT_EQ(lines[5], "popup http://ads.example.com/kill/3.html -> killed");
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
}

// Two browser processes killing at once: whole records, exact counters, the log within
// MaxLogSize although it is trimmed on the way.
TEST_F(BrowserHelper, TwoBrowsersKillingAtOnceLeaveWholeRecordsAndExactCounters)
{
    StartQuellor();
    SetDword("MaxLogSize", 10);
    Touch();
    Process first = StartBrowser(
        "first", "visit http://one.example/\nrepeat 40 popup http://ads.example.com/one\n");
    Process second = StartBrowser(
        "second", "visit http://two.example/\nrepeat 40 popup http://ads.example.com/two\n");
    ASSERT_TRUE(first && second);
    DWORD code = 99;
    EXPECT_TRUE(first.WaitExit(120000, &code));
    EXPECT_TRUE(second.WaitExit(120000, &code));

    EXPECT_EQ(Counter("KillsToDate"), 80u);
    EXPECT_EQ(Counter("KillsToday"), 80u);
    std::string bytes = testsupport::ReadFileBytes(e2e::StoredPath("LogFile"));
    EXPECT_EQ(bytes.size() % 520, 0u) << "no torn record";
    EXPECT_LE(bytes.size(), 10u * 1024);
    EXPECT_GE(bytes.size(), 520u * 10) << "trimmed to about 90%, not emptied";
    for (const LogRecord& r : ReadLog(e2e::StoredPath("LogFile"))) {
        bool one = r.url == "http://ads.example.com/one" && r.source == "http://one.example/";
        bool two = r.url == "http://ads.example.com/two" && r.source == "http://two.example/";
        EXPECT_TRUE(one || two) << r.url << " from " << r.source;
    }
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
