// A pop-up window closed by the real browser helper inside the stand-in browser
// (IEHOST.EXE), with QUELLOR.EXE running as a process: its tray icon flashes, seen on the
// screen, and the kill is logged and counted.
#include <cmath>
#include <cstring>

#include "E2eSupport.h"

using e2e::FreshProgramFolder;
using e2e::KillListener;
using e2e::Meeting;
using e2e::TrayIconsWidth;
using e2e::WaitFor;
using robot::FindTopWindow;
using robot::Process;

namespace {

const char kKey[] = "Software\\Tandrel\\Quellor";

// Registers the folder's QUELLOR.DLL as setup does, so that the browser loads it.
HRESULT CallHelperEntry(const std::string& folder, const char* name)
{
    HMODULE library = LoadLibraryA((folder + "QUELLOR.DLL").c_str());
    using Entry = HRESULT(STDAPICALLTYPE*)();
    auto entry =
        library ? reinterpret_cast<Entry>(reinterpret_cast<void*>(GetProcAddress(library, name)))
                : nullptr;
    HRESULT hr = entry ? entry() : E_FAIL;
    if (library) FreeLibrary(library);
    return hr;
}

void SetDword(const char* name, DWORD value)
{
    HKEY key = nullptr;
    RegCreateKeyExA(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), 4);
    RegCloseKey(key);
}

void SetRaw(const char* name, DWORD type, const std::string& bytes)
{
    HKEY key = nullptr;
    RegCreateKeyExA(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                   static_cast<DWORD>(bytes.size()));
    RegCloseKey(key);
}

// A stored value's bytes; empty when it is missing.
std::string Get(const char* name)
{
    char data[64] = {};
    DWORD size = sizeof data;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return "";
    LONG result =
        RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(data), &size);
    RegCloseKey(key);
    return result == ERROR_SUCCESS ? std::string(data, size) : std::string();
}

DWORD GetDword(const char* name)
{
    std::string bytes = Get(name);
    DWORD value = 0xFFFFFFFF;
    if (bytes.size() == 4) memcpy(&value, bytes.data(), 4);
    return value;
}

double GetDate(const char* name)
{
    std::string bytes = Get(name);
    double value = -1;
    if (bytes.size() == 8) memcpy(&value, bytes.data(), 8);
    return value;
}

// Today as an OLE date: days since 30 December 1899, local time.
double Today()
{
    SYSTEMTIME now{};
    GetLocalTime(&now);
    FILETIME file{}, epoch{};
    SystemTimeToFileTime(&now, &file);
    SYSTEMTIME start{1899, 12, 0, 30, 0, 0, 0, 0};
    SystemTimeToFileTime(&start, &epoch);
    ULARGE_INTEGER a{{file.dwLowDateTime, file.dwHighDateTime}};
    ULARGE_INTEGER b{{epoch.dwLowDateTime, epoch.dwHighDateTime}};
    return std::floor(static_cast<double>(a.QuadPart - b.QuadPart) / 864000000000.0);
}

class KillReport : public ::testing::Test {
  protected:
    void SetUp() override
    {
        testsupport::DeleteKeyTree(HKEY_CURRENT_USER, kKey);
        e2e::ClearUserData();
    }
    void TearDown() override
    {
        if (!folder_.empty()) CallHelperEntry(folder_, "DllUnregisterServer");
        testsupport::DeleteKeyTree(HKEY_CURRENT_USER, kKey);
    }

    std::string Folder(const std::string& hint)
    {
        folder_ = FreshProgramFolder(hint, {"QUELLOR.EXE", "QUELLOR.DLL"});
        EXPECT_EQ(CallHelperEntry(folder_, "DllRegisterServer"), S_OK);
        return folder_;
    }
    std::string folder_;

    // Starts Quellor and waits for its icon to settle in the tray.
    Process StartQuellor(const std::string& folder)
    {
        int before = TrayIconsWidth();
        Process quellor = Process::Start(folder + "QUELLOR.EXE", "", folder);
        EXPECT_TRUE(quellor) << quellor.StartError();
        EXPECT_NE(FindTopWindow(quellor.Pid(), "TfrmMain", "Quellor", 10000), nullptr);
        EXPECT_TRUE(WaitFor([&] { return TrayIconsWidth() >= before + 16; }, 5000));
        return quellor;
    }

    static std::vector<DWORD> SettledTray()
    {
        std::vector<DWORD> last = testsupport::TrayPixels();
        WaitFor(
            [&] {
                Sleep(200);
                std::vector<DWORD> now = testsupport::TrayPixels();
                bool same = now == last;
                last = now;
                return same;
            },
            5000);
        return last;
    }

    // Watches the tray from the moment of a kill: did it ever look different? The kill's
    // notification must have arrived (here, at a window of Quellor's class and caption).
    static bool FlashesWhileReporting(const std::string& folder, const std::vector<DWORD>& normal)
    {
        testsupport::WriteFileBytes(folder + "session.txt",
                                    "visit http://www.example.com/\n"
                                    "signal quellor-test-ready\n"
                                    "waitfor quellor-test-kill\n"
                                    "popup http://ads.example.com/one.html\n");
        KillListener listener;
        Meeting ready("quellor-test-ready"), kill("quellor-test-kill");
        Process browser = Process::Start(
            testsupport::HostPath(IEHOST_EXE),
            "--script \"" + folder + "session.txt\" --out \"" + folder + "session.out\"", folder);
        EXPECT_TRUE(browser);
        EXPECT_TRUE(ready.Wait());
        kill.Signal();
        // From the kill until the animation (five ticks of 200 ms) has had its time after the
        // notification, however late that came: a still tray proves nothing before it.
        bool changed = false;
        DWORD start = GetTickCount(), heardAt = 0;
        while (GetTickCount() - start < 15000 && (!heardAt || GetTickCount() - heardAt < 1500)) {
            changed = changed || testsupport::TrayPixels() != normal;
            testsupport::PumpFor(15);
            if (!heardAt && !listener.Heard().empty()) heardAt = GetTickCount();
        }
        EXPECT_NE(heardAt, 0u) << "the kill was not reported while the tray was watched";
        DWORD code = 99;
        EXPECT_TRUE(browser.WaitExit(10000, &code));
        EXPECT_EQ(code, 0u);
        EXPECT_NE(testsupport::ReadFileBytes(folder + "session.out")
                      .find("popup http://ads.example.com/one.html -> killed"),
                  std::string::npos);
        EXPECT_TRUE(WaitFor([&] { return !listener.Heard().empty(); }, 5000));
        EXPECT_EQ(listener.Heard(), std::vector<WPARAM>{0}) << "one notification, counted already";
        return changed;
    }

    static void End(Process& quellor, HWND main)
    {
        DWORD_PTR answer = 0;
        SendMessageTimeoutA(main, WM_QUERYENDSESSION, 0, 0, SMTO_ABORTIFHUNG, 5000, &answer);
        DWORD code = 0;
        EXPECT_TRUE(quellor.WaitExit(10000, &code));
    }
};

} // namespace

TEST_F(KillReport, AKillFlashesQuellorsTrayIconAndIsLoggedAndCounted)
{
    std::string folder = Folder("kill");
    Process quellor = StartQuellor(folder);
    HWND main = FindTopWindow(quellor.Pid(), "TfrmMain", "Quellor", 1000);
    ASSERT_NE(main, nullptr);
    std::vector<DWORD> normal = SettledTray();
    ASSERT_FALSE(normal.empty());

    EXPECT_TRUE(FlashesWhileReporting(folder, normal)) << "the alert icon was never seen";
    EXPECT_TRUE(WaitFor([&] { return testsupport::TrayPixels() == normal; }, 3000))
        << "the normal icon is back";

    // The helper's side, through the paths Quellor stored at start-up.
    EXPECT_EQ(GetDword("KillsToDate"), 1u);
    EXPECT_EQ(GetDword("KillsToday"), 1u);
    EXPECT_EQ(GetDate("KillDate"), Today());
    std::string log = testsupport::ReadFileBytes(e2e::StoredPath("LogFile"));
    ASSERT_EQ(log.size(), 520u);
    EXPECT_EQ(testsupport::LogRecords(log)[0].url, "http://ads.example.com/one.html");
    End(quellor, main);
}

TEST_F(KillReport, WithTheVisualAlertOffTheTrayStaysStill)
{
    SetDword("TrayAnimate", 0);
    std::string folder = Folder("still");
    Process quellor = StartQuellor(folder);
    HWND main = FindTopWindow(quellor.Pid(), "TfrmMain", "Quellor", 1000);
    ASSERT_NE(main, nullptr);
    std::vector<DWORD> normal = SettledTray();

    EXPECT_FALSE(FlashesWhileReporting(folder, normal));
    EXPECT_EQ(GetDword("KillsToDate"), 1u) << "counted all the same";
    End(quellor, main);
}
